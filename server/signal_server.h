#pragma once

// The signaling server's network side: a WebSocket listener (wss:// with a
// certificate, ws:// on loopback only) whose connections feed Rooms, where
// the protocol lives.

#include <memory>
#include <optional>

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSslConfiguration>
#include <QString>

#include "rooms.h"

class QWebSocket;
class QWebSocketServer;

namespace lunor::signal {

class SignalServer final : public QObject, private RoomsOutput {
  Q_OBJECT
 public:
  // clock: milliseconds, monotonic, for the password back-off.
  explicit SignalServer(ServerLimits limits = {}, PasswordBackoff::Clock clock = {},
                        QObject* parent = nullptr);
  ~SignalServer() override;
  SignalServer(const SignalServer&) = delete;
  SignalServer& operator=(const SignalServer&) = delete;

  // Listens on address:port (0 picks a free port). With tls, connections are
  // wss://; without it only loopback addresses are allowed. Returns an error
  // text, or nothing on success.
  std::optional<QString> listen(const QHostAddress& address, quint16 port,
                                std::optional<QSslConfiguration> tls = std::nullopt);
  quint16 port() const;
  bool isSecure() const;
  // Closes every connection (1001) and stops listening.
  void close();

  int connectionCount() const { return rooms_.connectionCount(); }
  int roomCount() const { return rooms_.roomCount(); }

 private:
  void acceptConnections();
  void send(const QString& peerId, const QByteArray& json) override;
  void close(const QString& peerId, int code, const QString& reason) override;

  Rooms rooms_;
  std::unique_ptr<QWebSocketServer> server_;
  bool secure_ = false;
  QHash<QString, QWebSocket*> sockets_;  // by client ID; owned (children)
};

}  // namespace lunor::signal
