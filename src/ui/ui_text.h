// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The texts the screens compose from the session's values, as QML sees them.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QtQml/qqml.h>

namespace lunor {

// "123 456 789" for nine characters once blanks are removed; anything else
// unchanged.
QString prettySessionId(const QString& id);

// "reason\nDurée : 1m 15s\nÀ bientôt !" from the start (absent: "0s") to now.
QString endAlertMessage(const QString& reason, const QDateTime& start, const QDateTime& now);

// The end panel's message: the duration line only when there is a duration.
QString endPanelMessage(const QString& reason, const QString& duration);

class UiText : public QObject {
  Q_OBJECT
  QML_NAMED_ELEMENT(UiText)
  QML_SINGLETON

 public:
  using QObject::QObject;
  Q_INVOKABLE QString prettyId(const QString& id) const { return prettySessionId(id); }
  Q_INVOKABLE QString endMessage(const QString& reason, const QDateTime& start, const QDateTime& now) const {
    return endAlertMessage(reason, start, now);
  }
  Q_INVOKABLE QString panelMessage(const QString& reason, const QString& duration) const {
    return endPanelMessage(reason, duration);
  }
  // The HUD's clock from the start (absent: "00:00") to now.
  Q_INVOKABLE QString elapsed(const QDateTime& start, const QDateTime& now) const;
  // What the peer is told when this side ends: the name's sentence, or the
  // role's default.
  Q_INVOKABLE QString departure(const QString& displayName, bool host) const;
  // "3 connexions", "1 connexion", "0 connexion".
  Q_INVOKABLE QString connectionCount(int count) const;
  // The quality profiles in order: [{raw, label}].
  Q_INVOKABLE QVariantList qualities() const;
};

}  // namespace lunor
