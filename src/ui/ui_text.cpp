// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ui_text.h"

#include <QVariantMap>

#include "session/duration_text.h"
#include "protocol/quality_profile.h"
#include "session/session.h"

namespace lunor {

QString prettySessionId(const QString& id) {
  QString compact = id;
  compact.remove(QLatin1Char(' '));
  if (compact.size() != 9) return id;
  return compact.left(3) + QLatin1Char(' ') + compact.mid(3, 3) + QLatin1Char(' ') + compact.mid(6);
}

QString endAlertMessage(const QString& reason, const QDateTime& start, const QDateTime& now) {
  const qint64 seconds = start.isValid() ? start.secsTo(now) : 0;
  return endPanelMessage(reason, endDurationText(seconds));
}

QString endPanelMessage(const QString& reason, const QString& duration) {
  QString message = reason;
  if (!duration.isEmpty()) message += QLatin1Char('\n') + UiText::tr("Durée : %1").arg(duration);
  return message + QLatin1Char('\n') + UiText::tr("À bientôt !");
}

QString UiText::elapsed(const QDateTime& start, const QDateTime& now) const {
  if (!start.isValid()) return QStringLiteral("00:00");
  // Whole seconds, the fraction dropped.
  return hudDurationText(start.msecsTo(now) / 1000);
}

QString UiText::departure(const QString& displayName, bool host) const {
  return departureText(displayName, host ? Role::Host : Role::Client);
}

QString UiText::connectionCount(int count) const {
  // French has the singular for none; other languages may not.
  if (count > 1) return tr("%1 connexions").arg(count);
  if (count == 1) return tr("%1 connexion").arg(count);
  return tr("%1 connexion", "none").arg(count);
}

namespace {

// A profile's name in the menu; its size and rate come from its settings.
QString qualityName(QualityProfile profile) {
  switch (profile) {
    case QualityProfile::Low: return UiText::tr("Basse");
    case QualityProfile::Medium: return UiText::tr("Normale");
    case QualityProfile::High: return UiText::tr("Élevée");
    case QualityProfile::Epic: return UiText::tr("EPIC");
  }
  return {};
}

}  // namespace

QVariantList UiText::qualities() const {
  QVariantList list;
  for (auto profile : {QualityProfile::Low, QualityProfile::Medium, QualityProfile::High, QualityProfile::Epic}) {
    const QualitySettings& settings = settingsOf(profile);
    const QString label = tr("%1 — %2p / %3 fps").arg(qualityName(profile)).arg(settings.height).arg(settings.fps);
    list.append(QVariantMap{{QStringLiteral("raw"), rawValue(profile)}, {QStringLiteral("label"), label}});
  }
  return list;
}

}  // namespace lunor
