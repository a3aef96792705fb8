// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ui_text.h"

#include <QVariantMap>

#include "session/duration_text.h"
#include "protocol/quality_profile.h"
#include "session/remote_session.h"

namespace lunor {

QString prettySessionId(const QString& id) {
  QString compact = id;
  compact.remove(QLatin1Char(' '));
  if (compact.size() != 9) return id;
  return compact.left(3) + QLatin1Char(' ') + compact.mid(3, 3) + QLatin1Char(' ') + compact.mid(6);
}

QString endAlertMessage(const QString& reason, const QDateTime& start, const QDateTime& now) {
  const qint64 seconds = start.isValid() ? start.secsTo(now) : 0;
  return reason + QStringLiteral("\nDurée : ") + endDurationText(seconds) + QStringLiteral("\nÀ bientôt !");
}

QString endPanelMessage(const QString& reason, const QString& duration) {
  QString message = reason;
  if (!duration.isEmpty()) message += QStringLiteral("\nDurée : ") + duration;
  return message + QStringLiteral("\nÀ bientôt !");
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
  return QString::number(count) + (count > 1 ? QStringLiteral(" connexions") : QStringLiteral(" connexion"));
}

QVariantList UiText::qualities() const {
  QVariantList list;
  for (auto profile : {QualityProfile::Low, QualityProfile::Medium, QualityProfile::High, QualityProfile::Epic}) {
    list.append(QVariantMap{{QStringLiteral("raw"), rawValue(profile)},
                            {QStringLiteral("label"), QString::fromUtf8(settingsOf(profile).label)}});
  }
  return list;
}

}  // namespace lunor
