#pragma once

#include <optional>

#include <QString>

namespace lunor {

// The four picture quality levels the client can pick; raw values reach the wire.
enum class QualityProfile { Low, Medium, High, Epic };

inline constexpr QualityProfile kDefaultQuality = QualityProfile::Medium;

QString rawValue(QualityProfile profile);
std::optional<QualityProfile> qualityFromRaw(const QString& raw);

}  // namespace lunor
