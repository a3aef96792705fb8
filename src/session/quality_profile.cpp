#include "session/quality_profile.h"

namespace lunor {

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
