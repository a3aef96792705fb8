// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include <QString>

namespace lunor {

// The four picture quality levels the client can pick; raw values reach the wire.
enum class QualityProfile { Low, Medium, High, Epic };

inline constexpr QualityProfile kDefaultQuality = QualityProfile::Medium;

struct QualitySettings {
  const char* label;  // menu label
  int width;
  int height;
  int fps;
  int maxBitrateBps;
  int minBitrateBps;
  int sdpBandwidthKbps;
};

const QualitySettings& settingsOf(QualityProfile profile);
QString rawValue(QualityProfile profile);
// Exactly "low", "medium", "high" or "epic"; anything else is no profile.
std::optional<QualityProfile> qualityFromRaw(const QString& raw);
// Whole megabits, fraction dropped (3.75 shows as 3).
inline int wholeMbps(int bps) { return bps / 1'000'000; }

}  // namespace lunor
