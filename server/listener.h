// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The server's TCP side: accepts with a large backlog, counts connections per
// address and in all from the accept itself (before any TLS or WebSocket
// handshake), refuses past the caps at once, sets TCP_NODELAY, and pauses
// accepting for a moment when accept fails (out of descriptors) instead of
// spinning. With TLS the handshake runs here (TLS 1.2 at least).

#include <QHash>
#include <QHostAddress>
#include <QSslServer>
#include <QTcpSocket>

#include "server_limits.h"

namespace lunor::signal {

class Listener final : public QSslServer {
  Q_OBJECT
 public:
  // tls: serve TLS with this configuration; null: plain TCP.
  Listener(const ServerLimits& limits, const QSslConfiguration* tls, QObject* parent = nullptr);

  // Connections from this address are not capped per address here (the
  // address that counts comes later, from its forwarded header).
  void setTrustedProxy(const QHostAddress& proxy) { trustedProxy_ = proxy; }

  int connectionCount() const { return total_; }
  int connectionsFrom(const QString& address) const { return perAddress_.value(address); }

 Q_SIGNALS:
  // A connection ready for its WebSocket handshake (TLS done when asked). It
  // stays counted until the socket is destroyed.
  void ready(QTcpSocket* socket);

 protected:
  void incomingConnection(qintptr descriptor) override;

 private:
  // address: what the limits count (addressKey); peer: the address itself.
  void count(QTcpSocket* socket, const QString& address, const QString& peer);
  void takeReady();

  const ServerLimits& limits_;
  bool tls_;
  QHostAddress trustedProxy_;
  QHash<QString, int> perAddress_;
  int total_ = 0;
  QString refusing_;  // address whose refusals are being logged (one line per burst)
};

// The peer address of an accepted descriptor, as the log writes it.
QString peerAddressOf(qintptr descriptor);
// What per-address limits count for an address: itself for IPv4, its /64
// for IPv6 (one client holds a whole /64).
QString addressKey(const QString& address);

}  // namespace lunor::signal
