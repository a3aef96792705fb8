// SPDX-License-Identifier: GPL-3.0-or-later
#include "signal_server.h"

#include <algorithm>

#include <QRandomGenerator>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

#include "event_log.h"
#include "listener.h"
#include "monotonic_clock.h"
#include "protocol/server_messages.h"
#include "protocol/wire_text.h"

namespace lunor::signal {

namespace {

// The sweep runs often enough for the shortest of the timed bounds, and in
// small steps: each one pings only the connections due since the last.
int sweepIntervalMs(const ServerLimits& limits) {
  const int shortest = std::min({limits.pingIntervalMs, limits.silenceTimeoutMs, limits.firstMessageTimeoutMs,
                                 limits.handshakeTimeoutMs});
  return std::clamp(shortest / 4, 50, 250);
}

QString endpointKey(const QHostAddress& address, quint16 port) {
  return address.toString() + QLatin1Char('|') + QString::number(port);
}

}  // namespace

SignalServer::SignalServer(ServerLimits limits, PasswordBackoff::Clock clock, OwnerStore* owners, QObject* parent)
    : QObject(parent),
      limits_(limits),
      clock_(clock ? std::move(clock) : monotonicMs),
      memoryOwners_(owners ? nullptr : std::make_unique<MemoryOwnerStore>()),
      rooms_(limits, *this, clock_, owners ? *owners : *memoryOwners_) {
  sweeper_.setInterval(sweepIntervalMs(limits_));
  connect(&sweeper_, &QTimer::timeout, this, &SignalServer::sweep);
}

SignalServer::~SignalServer() { close(); }

std::optional<QString> SignalServer::listen(const QHostAddress& address, quint16 port,
                                            std::optional<QSslConfiguration> tls) {
  if (!tls && !address.isLoopback()) {
    return QStringLiteral("plain ws:// is only served on loopback; give --cert and --key");
  }
  secure_ = tls.has_value();
  listener_ = std::make_unique<Listener>(limits_, tls ? &*tls : nullptr);
  listener_->setTrustedProxy(trustedProxy_);
  websockets_ = std::make_unique<QWebSocketServer>(QStringLiteral("lunor-signal"), QWebSocketServer::NonSecureMode);
  websockets_->setHandshakeTimeout(limits_.handshakeTimeoutMs);
  websockets_->setMaxPendingConnections(limits_.maxConnections);
  connect(websockets_.get(), &QWebSocketServer::newConnection, this, &SignalServer::handshakeDone);
  connect(listener_.get(), &Listener::ready, this, [this](QTcpSocket* transport) {
    handshaking_.insert(endpointKey(transport->peerAddress(), transport->peerPort()), {transport, clock_()});
    route(transport);
  });
  if (!listener_->listen(address, port)) return listener_->errorString();
  sweeper_.start();
  logEvent(QStringLiteral("listening"), {{"address", address.toString()},
                                         {"port", QString::number(listener_->serverPort())},
                                         {"tls", secure_ ? "true" : "false"}});
  return std::nullopt;
}

quint16 SignalServer::port() const { return listener_ ? listener_->serverPort() : 0; }

int SignalServer::acceptedCount() const { return listener_ ? listener_->connectionCount() : 0; }

void SignalServer::setTrustedProxy(const QHostAddress& proxy) {
  trustedProxy_ = proxy;
  if (listener_) listener_->setTrustedProxy(proxy);
}

void SignalServer::close() {
  sweeper_.stop();
  rooms_.shuttingDown();
  // One at a time: what the rooms send on each departure may drop others.
  while (!connections_.isEmpty()) {
    const QString id = connections_.begin().key();
    const Connection connection = connections_.take(id);
    connection.socket->disconnect(this);
    connection.socket->close(QWebSocketProtocol::CloseCodeGoingAway);
    connection.socket->deleteLater();
    rooms_.disconnected(id, QWebSocketProtocol::CloseCodeGoingAway);
  }
  if (listener_) listener_->close();
}

void SignalServer::route(QTcpSocket* transport) {
  // Only looked at, not read: the WebSocket server reads the handshake itself.
  auto decide = [this, transport] {
    bool malformed = false;
    const QByteArray buffered = transport->peek(WebFiles::kMaxHeadBytes + 1);
    const auto head = parseHttpHead(buffered, &malformed);
    if (!head && !malformed && buffered.size() <= WebFiles::kMaxHeadBytes) return;  // more to come
    transport->disconnect(this);
    if (head && head->upgrade) {
      websockets_->handleConnection(transport);
      return;
    }
    // A file, or why not: then the connection ends (a silent one is left
    // to the sweep, as a handshake that never ends).
    handshaking_.remove(endpointKey(transport->peerAddress(), transport->peerPort()));
    const int status = !head && !malformed ? 431 : 400;
    transport->write(head ? web_.respond(*head, secure_) : WebFiles::error(status, secure_));
    if (head) {
      logEvent(QStringLiteral("web"), {{"address", transport->property("lunor.address").toString()},
                                       {"path", QString::fromLatin1(head->target.left(200))}});
    }
    transport->disconnectFromHost();
    connect(transport, &QAbstractSocket::disconnected, transport, &QObject::deleteLater);
    if (transport->state() == QAbstractSocket::UnconnectedState) transport->deleteLater();
  };
  connect(transport, &QIODevice::readyRead, this, decide);
  decide();
}

void SignalServer::handshakeDone() {
  while (QWebSocket* socket = websockets_->nextPendingConnection()) adopt(socket);
}

void SignalServer::adopt(QWebSocket* socket) {
  socket->setParent(this);
  socket->setMaxAllowedIncomingMessageSize(limits_.maxMessageBytes);
  socket->setMaxAllowedIncomingFrameSize(limits_.maxMessageBytes);
  Connection connection;
  connection.socket = socket;
  connection.transport = handshaking_.take(endpointKey(socket->peerAddress(), socket->peerPort())).transport;
  const QString peer = connection.transport ? connection.transport->property("lunor.peer").toString()
                                           : socket->peerAddress().toString();
  connection.address = connection.transport ? connection.transport->property("lunor.address").toString()
                                            : addressKey(peer);
  if (!trustedProxy_.isNull() && QHostAddress(peer).isEqual(trustedProxy_)) {
    // Behind the proxy: the client's own address, from the header the proxy adds.
    const QByteArray forwarded = socket->request().rawHeader("X-Forwarded-For");
    const QHostAddress client(QString::fromLatin1(forwarded.split(',').last().trimmed()));
    if (client.isNull()) {
      logEvent(QStringLiteral("connection-refused"), {{"address", connection.address}, {"why", "no-forwarded-for"}});
      socket->abort();
      socket->deleteLater();
      return;
    }
    connection.address = addressKey(client.toString());
    if (proxiedPerAddress_.value(connection.address) >= limits_.maxConnectionsPerAddress) {
      logEvent(QStringLiteral("connection-refused"), {{"address", connection.address}, {"why", "too-many"}});
      socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
      socket->deleteLater();
      return;
    }
    ++proxiedPerAddress_[connection.address];
    connect(socket, &QObject::destroyed, this, [this, address = connection.address] {
      auto it = proxiedPerAddress_.find(address);
      if (it != proxiedPerAddress_.end() && --*it <= 0) proxiedPerAddress_.erase(it);
    });
  }
  connection.acceptedMs = connection.lastHeardMs = clock_();
  // Connections come in bursts (a reconnect storm): their pings are spread
  // over the interval, not all sent in one sweep every interval.
  connection.lastPingMs =
      connection.acceptedMs - QRandomGenerator::global()->bounded(std::max(1, limits_.pingIntervalMs));
  const QString id = rooms_.newClientId();
  const QString address = connection.address;
  connections_.insert(id, connection);

  auto heard = [this, id] {
    auto it = connections_.find(id);
    if (it == connections_.end()) return false;
    it->lastHeardMs = clock_();
    it->spoke = true;
    return true;
  };
  connect(socket, &QWebSocket::textMessageReceived, this, [this, id, heard](const QString& text) {
    if (heard()) rooms_.frame(id, text.toUtf8());
  });
  connect(socket, &QWebSocket::binaryMessageReceived, this, [this, id, heard](const QByteArray& bytes) {
    if (!heard()) return;
    const auto text = utf8Text(bytes);
    if (!text) {
      send(id, server_messages::encode(server_messages::error(signaling::ErrorCode::BadEncoding)));
      return;
    }
    rooms_.frame(id, text->toUtf8());
  });
  connect(socket, &QWebSocket::pong, this, [this, id](quint64, const QByteArray&) {
    if (auto it = connections_.find(id); it != connections_.end()) it->lastHeardMs = clock_();
  });
  connect(socket, &QWebSocket::disconnected, this, [this, id, socket] {
    auto it = connections_.find(id);
    if (it == connections_.end() || it->socket != socket) return;
    connections_.erase(it);
    // A socket may close inside a send or a close the rooms are making (a
    // connection dropped for not reading): the rooms hear of it once they are
    // done. Until then what they send it goes nowhere.
    const int code = static_cast<int>(socket->closeCode());
    QMetaObject::invokeMethod(this, [this, id, code] { rooms_.disconnected(id, code); }, Qt::QueuedConnection);
    socket->disconnect(this);
    socket->deleteLater();
  });
  rooms_.connected(id, address);
}

void SignalServer::sweep() {
  const qint64 now = clock_();
  QStringList silent, mute;
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    Connection& c = *it;
    if (!c.spoke && now - c.acceptedMs >= limits_.firstMessageTimeoutMs) {
      mute << it.key();
    } else if (now - c.lastHeardMs >= limits_.silenceTimeoutMs) {
      silent << it.key();
    } else if (now - c.lastPingMs >= limits_.pingIntervalMs) {
      c.lastPingMs = now;
      c.socket->ping();
    }
  }
  for (const auto& id : mute) drop(id, "no-first-message");
  // Handshakes that never finish: their sockets go, and their count with them.
  for (auto it = handshaking_.begin(); it != handshaking_.end();) {
    if (!it->transport) {
      it = handshaking_.erase(it);
    } else if (now - it->sinceMs >= limits_.handshakeTimeoutMs) {
      logEvent(QStringLiteral("connection-dropped"),
               {{"address", it->transport->property("lunor.address").toString()}, {"why", "no-handshake"}});
      it->transport->abort();
      it->transport->deleteLater();
      it = handshaking_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& id : silent) drop(id, "silent");
  rooms_.expire();
  expireLogRepeats();
}

void SignalServer::drop(const QString& id, const char* why) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  logEvent(QStringLiteral("connection-dropped"), {{"client", id}, {"address", it->address}, {"why", QString::fromLatin1(why)}});
  // abort(): a peer that does not answer would keep a closing handshake waiting.
  it->socket->abort();
}

void SignalServer::send(const QString& peerId, const QByteArray& json) {
  auto it = connections_.find(peerId);
  if (it == connections_.end()) return;
  it->socket->sendTextMessage(QString::fromUtf8(json));
  // A connection that does not read does not get to hold our memory.
  if (it->transport && it->transport->bytesToWrite() > limits_.maxUnsentBytes) drop(peerId, "not-reading");
}

void SignalServer::close(const QString& peerId, int code, const QString& reason) {
  if (auto it = connections_.find(peerId); it != connections_.end()) {
    it->socket->close(static_cast<QWebSocketProtocol::CloseCode>(code), reason);
  }
}

}  // namespace lunor::signal
