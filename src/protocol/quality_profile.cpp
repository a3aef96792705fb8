// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/quality_profile.h"

namespace lunor {

const QualitySettings& settingsOf(QualityProfile profile) {
  static const QualitySettings kLow{"Basse — 720p / 15 fps", 1280, 720, 15, 4'000'000, 1'000'000, 4000};
  static const QualitySettings kMedium{"Normale — 1080p / 25 fps", 1920, 1080, 25, 8'000'000, 2'000'000, 8000};
  static const QualitySettings kHigh{"Élevée — 1080p / 30 fps", 1920, 1080, 30, 15'000'000, 3'750'000, 15000};
  static const QualitySettings kEpic{"EPIC — 1440p / 60 fps", 2560, 1440, 60, 30'000'000, 7'500'000, 30000};
  switch (profile) {
    case QualityProfile::Low: return kLow;
    case QualityProfile::Medium: return kMedium;
    case QualityProfile::High: return kHigh;
    case QualityProfile::Epic: return kEpic;
  }
  return kMedium;
}

QString rawValue(QualityProfile profile) {
  switch (profile) {
    case QualityProfile::Low: return QStringLiteral("low");
    case QualityProfile::Medium: return QStringLiteral("medium");
    case QualityProfile::High: return QStringLiteral("high");
    case QualityProfile::Epic: return QStringLiteral("epic");
  }
  return QStringLiteral("medium");
}

std::optional<QualityProfile> qualityFromRaw(const QString& raw) {
  for (auto profile : {QualityProfile::Low, QualityProfile::Medium, QualityProfile::High,
                       QualityProfile::Epic}) {
    if (rawValue(profile) == raw) return profile;
  }
  return std::nullopt;
}

}  // namespace lunor
