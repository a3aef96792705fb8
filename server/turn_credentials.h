// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Short-lived TURN credentials in coturn's "use-auth-secret" scheme: the
// username is "EXPIRY:CLIENTID" (EXPIRY in seconds since the epoch), the
// password the Base64 HMAC-SHA1 of the username under the shared secret.

#include <functional>

#include <QByteArray>
#include <QJsonArray>
#include <QString>
#include <QStringList>

namespace lunor::signal {

struct TurnConfig {
  QStringList urls;  // "turn:host:3478?transport=udp", …
  QByteArray secret;
  qint64 ttlSeconds = 3600;
  std::function<qint64()> nowSeconds;  // seconds since the epoch; the system clock when unset
};

// The password for a username.
QString turnPassword(const QByteArray& secret, const QString& username);

// One ICE server entry for the client: {"urls": [...], "username", "credential"}.
QJsonArray turnIceServers(const TurnConfig& config, const QString& clientId);

}  // namespace lunor::signal
