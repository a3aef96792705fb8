// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Short-lived TURN credentials in coturn's "use-auth-secret" scheme: the
// username is "EXPIRY:CLIENTID" (EXPIRY in seconds since the epoch), the
// password the Base64 HMAC-SHA1 of the username under the shared secret.

#include <functional>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "protocol/negotiation_types.h"

namespace lunor::signal {

struct TurnConfig {
  QStringList urls;  // "turn:host:3478?transport=udp", …
  QByteArray secret;
  qint64 ttlSeconds = 3600;
  std::function<qint64()> nowSeconds;  // seconds since the epoch; the system clock when unset
};

// The password for a username.
QString turnPassword(const QByteArray& secret, const QString& username);

// What the server hands out for the TURN servers it was given: a URL that
// names no transport ("turn:host:3478") becomes its UDP and TCP variants, so
// that a peer on a network that blocks UDP still reaches the relay; with a
// TLS port, each host also as "turns:host:PORT?transport=tcp" (443 passes
// most firewalls). URLs that name their transport stay as they are;
// duplicates go. Empty when a URL is not a TURN URL (its text in `bad`).
QStringList turnUrlVariants(const QStringList& urls, int tlsPort, QString* bad = nullptr);

// The one relay entry for the pair (the client's ID names its credentials):
// every URL, under one username and credential. None without URLs or a secret.
std::vector<rtc::IceServer> turnIceServers(const TurnConfig& config, const QString& clientId);

}  // namespace lunor::signal
