// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The signaling server's network side: the listener (TCP or TLS, with its
// caps) feeding a WebSocket handshake, then Rooms, where the protocol lives.
// Each connection must speak within a while of its handshake, is pinged
// regularly and dropped when silent, and is closed when it stops reading
// while messages pile up for it.

#include <memory>
#include <optional>

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>
#include <QTimer>

#include "server_limits.h"
#include "web_files.h"
#include "owner_store.h"
#include "rooms.h"

class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

namespace lunor::signal {

class Listener;

class SignalServer final : public QObject, private RoomsOutput {
  Q_OBJECT
 public:
  // clock: milliseconds, monotonic, for every timed limit. owners: where
  // room ownership is kept (borrowed, must outlive the server); null keeps
  // it in memory.
  explicit SignalServer(ServerLimits limits = {}, PasswordBackoff::Clock clock = {},
                        OwnerStore* owners = nullptr, QObject* parent = nullptr);
  ~SignalServer() override;
  SignalServer(const SignalServer&) = delete;
  SignalServer& operator=(const SignalServer&) = delete;

  // Listens on address:port (0 picks a free port). With tls, connections are
  // wss://; without it only loopback addresses are allowed. Returns an error
  // text, or nothing on success.
  std::optional<QString> listen(const QHostAddress& address, quint16 port,
                                std::optional<QSslConfiguration> tls = std::nullopt);
  quint16 port() const;
  bool isSecure() const { return secure_; }
  // Closes every connection (1001) and stops listening.
  void close();

  // Connections from this address carry the client's address in their
  // X-Forwarded-For header (its last entry), which then counts instead.
  void setTrustedProxy(const QHostAddress& proxy);
  // The web client's folder, served at "/" (the WebSocket answers any path
  // that asks for one, "/signal" by convention); empty: none.
  void setWebRoot(const QString& folder) { web_ = WebFiles(folder); }
  bool servesWebClient() const { return web_.isServing(); }
  void setIceServers(IceServersFor iceServers) { rooms_.setIceServers(std::move(iceServers)); }

  int connectionCount() const { return rooms_.connectionCount(); }
  int acceptedCount() const;
  int roomCount() const { return rooms_.roomCount(); }
  const Rooms& rooms() const { return rooms_; }
  Rooms& rooms() { return rooms_; }

 private:
  struct Connection {
    QWebSocket* socket = nullptr;      // owned (child)
    QPointer<QTcpSocket> transport;    // the socket under it, for its queue
    QString address;
    qint64 acceptedMs = 0;
    qint64 lastHeardMs = 0;
    qint64 lastPingMs = 0;
    bool spoke = false;
  };

  void handshakeDone();
  // A connection's request decides: a WebSocket handshake goes on, anything
  // else gets a file of the web client (or an error) and is closed.
  void route(QTcpSocket* transport);
  void adopt(QWebSocket* socket);
  void sweep();
  void drop(const QString& id, const char* why);
  void send(const QString& peerId, const QByteArray& json) override;
  void close(const QString& peerId, int code, const QString& reason) override;

  ServerLimits limits_;
  PasswordBackoff::Clock clock_;
  std::unique_ptr<MemoryOwnerStore> memoryOwners_;
  Rooms rooms_;
  std::unique_ptr<Listener> listener_;
  std::unique_ptr<QWebSocketServer> websockets_;
  bool secure_ = false;
  WebFiles web_{QString()};
  QHostAddress trustedProxy_;
  QHash<QString, Connection> connections_;  // by client ID
  struct Handshake {
    QPointer<QTcpSocket> transport;
    qint64 sinceMs = 0;
  };
  QHash<QString, Handshake> handshaking_;  // by "address|port"
  QHash<QString, int> proxiedPerAddress_;
  QTimer sweeper_;
};

}  // namespace lunor::signal
