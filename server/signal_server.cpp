#include "signal_server.h"

#include <QStringDecoder>
#include <QWebSocket>
#include <QWebSocketServer>

#include "event_log.h"
#include "monotonic_clock.h"

namespace lunor::signal {

SignalServer::SignalServer(ServerLimits limits, PasswordBackoff::Clock clock, QObject* parent)
    : QObject(parent), rooms_(limits, *this, clock ? std::move(clock) : monotonicMs) {}

SignalServer::~SignalServer() { close(); }

std::optional<QString> SignalServer::listen(const QHostAddress& address, quint16 port,
                                            std::optional<QSslConfiguration> tls) {
  if (!tls && !address.isLoopback()) {
    return QStringLiteral("plain ws:// is only served on loopback; give --cert and --key");
  }
  secure_ = tls.has_value();
  server_ = std::make_unique<QWebSocketServer>(
      QStringLiteral("lunor-signal"),
      secure_ ? QWebSocketServer::SecureMode : QWebSocketServer::NonSecureMode);
  if (tls) server_->setSslConfiguration(*tls);
  connect(server_.get(), &QWebSocketServer::newConnection, this, &SignalServer::acceptConnections);
  if (!server_->listen(address, port)) return server_->errorString();
  logEvent(QStringLiteral("listening"), {{"address", address.toString()},
                                         {"port", QString::number(server_->serverPort())},
                                         {"tls", secure_ ? "true" : "false"}});
  return std::nullopt;
}

quint16 SignalServer::port() const { return server_ ? server_->serverPort() : 0; }

bool SignalServer::isSecure() const { return secure_; }

void SignalServer::close() {
  const auto ids = sockets_.keys();
  for (const auto& id : ids) {
    QWebSocket* socket = sockets_.take(id);
    socket->disconnect(this);
    socket->close(QWebSocketProtocol::CloseCodeGoingAway);
    socket->deleteLater();
    rooms_.disconnected(id, QWebSocketProtocol::CloseCodeGoingAway);
  }
  if (server_) server_->close();
}

void SignalServer::acceptConnections() {
  const ServerLimits& limits = rooms_.limits();
  while (QWebSocket* socket = server_->nextPendingConnection()) {
    const QString address = socket->peerAddress().toString();
    if (rooms_.connectionsFrom(address) >= limits.maxConnectionsPerAddress) {
      logEvent(QStringLiteral("connection-refused"), {{"address", address}, {"why", "too-many"}});
      socket->close(QWebSocketProtocol::CloseCodeBadOperation);
      socket->deleteLater();
      continue;
    }
    socket->setParent(this);
    socket->setMaxAllowedIncomingMessageSize(limits.maxMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(limits.maxMessageBytes);
    const QString id = rooms_.newClientId();
    sockets_.insert(id, socket);

    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, id](const QString& text) { rooms_.frame(id, text.toUtf8()); });
    connect(socket, &QWebSocket::binaryMessageReceived, this, [this, id](const QByteArray& bytes) {
      QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
      const QString text = decoder(bytes);
      if (decoder.hasError()) {
        send(id, QByteArrayLiteral(R"({"code":"bad-encoding","type":"error"})"));
        return;
      }
      rooms_.frame(id, text.toUtf8());
    });
    connect(socket, &QWebSocket::disconnected, this, [this, id, socket] {
      if (sockets_.take(id) != socket) return;
      rooms_.disconnected(id, static_cast<int>(socket->closeCode()));
      socket->disconnect(this);
      socket->deleteLater();
    });
    rooms_.connected(id, address);
  }
}

void SignalServer::send(const QString& peerId, const QByteArray& json) {
  if (QWebSocket* socket = sockets_.value(peerId)) socket->sendTextMessage(QString::fromUtf8(json));
}

void SignalServer::close(const QString& peerId, int code, const QString& reason) {
  if (QWebSocket* socket = sockets_.value(peerId)) {
    socket->close(static_cast<QWebSocketProtocol::CloseCode>(code), reason);
  }
}

}  // namespace lunor::signal
