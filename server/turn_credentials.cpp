// SPDX-License-Identifier: GPL-3.0-or-later
#include "turn_credentials.h"

#include <QDateTime>
#include <QJsonObject>
#include <QMessageAuthenticationCode>

namespace lunor::signal {

QString turnPassword(const QByteArray& secret, const QString& username) {
  return QString::fromLatin1(
      QMessageAuthenticationCode::hash(username.toUtf8(), secret, QCryptographicHash::Sha1).toBase64());
}

QJsonArray turnIceServers(const TurnConfig& config, const QString& clientId) {
  if (config.urls.isEmpty() || config.secret.isEmpty()) return {};
  const qint64 now = config.nowSeconds ? config.nowSeconds() : QDateTime::currentSecsSinceEpoch();
  const QString username = QString::number(now + config.ttlSeconds) + QLatin1Char(':') + clientId;
  return QJsonArray{QJsonObject{{QStringLiteral("urls"), QJsonArray::fromStringList(config.urls)},
                                {QStringLiteral("username"), username},
                                {QStringLiteral("credential"), turnPassword(config.secret, username)}}};
}

}  // namespace lunor::signal
