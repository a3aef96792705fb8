// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/signaling_client.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QWebSocket>

#include <utility>

#include "protocol/wire_text.h"
#include "session/session_log.h"
#include "system/console_log.h"

namespace lunor {
namespace {

QString typeOf(const QJsonObject& message) {
  const QJsonValue type = message.value(QLatin1String("type"));
  return type.isString() ? type.toString() : QStringLiteral("?");
}

}  // namespace

SignalingClient::SignalingClient(SignalingEndpoint endpoint, QObject* parent)
    : QObject(parent), endpoint_(std::move(endpoint)) {
  pingTimer_.setInterval(endpoint_.pingIntervalMs > 0 ? endpoint_.pingIntervalMs : kPingIntervalMs);
  QObject::connect(&pingTimer_, &QTimer::timeout, this, [this] {
    if (!socket_) return;
    if (unansweredPings_ >= kMissedPongsBeforeLost) {
      // The server (or the way to it) is gone without a word: a half-open
      // link would keep an idle host unreachable for ever.
      dropSocketAndReport(QStringLiteral("⚠️ [WS] no pong for %1 pings: link lost").arg(unansweredPings_));
      return;
    }
    ++unansweredPings_;
    socket_->ping();
  });
}

SignalingClient::~SignalingClient() {
  onOpen = nullptr;
  onMessage = nullptr;
  onClose = nullptr;
  if (socket_) {
    QObject::disconnect(socket_, nullptr, this, nullptr);
    retire(std::exchange(socket_, nullptr), msSinceLastSend());
  }
}

void SignalingClient::connect() {
  QMetaObject::invokeMethod(this, [this] { openSocket(); }, Qt::QueuedConnection);
}

void SignalingClient::send(const QJsonObject& message) {
  QMetaObject::invokeMethod(this, [this, message] { sendNow(message); }, Qt::QueuedConnection);
}

void SignalingClient::disconnect() {
  QMetaObject::invokeMethod(this, [this] { dropSocket(/*abort=*/false); }, Qt::QueuedConnection);
}

void SignalingClient::openSocket() {
  if (socket_) return;

  if (const auto problem = signalingUrlProblem(endpoint_.url)) {
    consoleLine(lcSession(), QStringLiteral("❌ [WS] ") + *problem);
    deliver([this] {
      if (onClose) onClose();
    });
    return;
  }

  socket_ = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
  socket_->setMaxAllowedIncomingMessageSize(kMaxIncomingMessageBytes);
  socket_->setMaxAllowedIncomingFrameSize(kMaxIncomingMessageBytes);

  if (endpoint_.url.scheme().compare(QLatin1String("wss"), Qt::CaseInsensitive) == 0 &&
      !endpoint_.extraCaFile.isEmpty()) {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    const auto extra = QSslCertificate::fromPath(endpoint_.extraCaFile, QSsl::Pem);
    if (extra.isEmpty()) {
      consoleLine(lcSession(), QStringLiteral("⚠️ [WS] aucun certificat lisible dans ") + endpoint_.extraCaFile);
    }
    tls.addCaCertificates(extra);
    socket_->setSslConfiguration(tls);
  }

  QWebSocket* socket = socket_;
  QObject::connect(socket, &QWebSocket::connected, this, [this, socket] {
    if (socket == socket_) handleOpened();
  });
  QObject::connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString& t) {
    if (socket == socket_) handleText(t);
  });
  QObject::connect(socket, &QWebSocket::pong, this, [this, socket](quint64, const QByteArray&) {
    if (socket == socket_) unansweredPings_ = 0;
  });
  QObject::connect(socket, &QWebSocket::binaryMessageReceived, this,
                   [this, socket](const QByteArray& b) {
                     if (socket == socket_) handleBinary(b);
                   });
  QObject::connect(socket, &QWebSocket::sslErrors, this, [socket](const QList<QSslError>& errors) {
    for (const auto& error : errors) {
      consoleLine(lcSession(), QStringLiteral("❌ [WS] TLS: ") + error.errorString());
    }
    Q_UNUSED(socket);
  });
  QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this, [this, socket] {
    if (socket == socket_) {
      dropSocketAndReport(QStringLiteral("❌ [WS] receive error: ") + socket->errorString());
    }
  });
  QObject::connect(socket, &QWebSocket::disconnected, this, [this, socket] {
    if (socket != socket_) return;
    if (!isOpen_) {
      // Never opened: the attempt itself failed (refused, TLS, handshake).
      dropSocketAndReport(QStringLiteral("❌ [WS] receive error: ") + socket->errorString());
      return;
    }
    dropSocketAndReport(QStringLiteral("⚠️ [WS] didClose code=") +
                        QString::number(static_cast<int>(socket->closeCode())));
  });

  socket_->open(endpoint_.url);
}

void SignalingClient::sendNow(const QJsonObject& message) {
  if (!socket_) {
    consoleLine(lcSession(), QStringLiteral("⚠️ [WS] no task, drop ") + typeOf(message));
    return;
  }
  if (isOpen_) {
    transmit(message);
    return;
  }
  consoleLine(lcSession(), QStringLiteral("⚠️ [WS] not open, queue ") + typeOf(message));
  pendingQueue_.append(message);
}

void SignalingClient::dropSocketAndReport(const QString& line) {
  consoleLine(lcSession(), line);
  dropSocket(/*abort=*/true);
}

void SignalingClient::dropSocket(bool abort) {
  pingTimer_.stop();
  isOpen_ = false;
  if (socket_) {
    QWebSocket* socket = std::exchange(socket_, nullptr);
    QObject::disconnect(socket, nullptr, this, nullptr);
    if (abort) {
      socket->abort();
      socket->deleteLater();
    } else {
      retire(socket, msSinceLastSend());
    }
  }
  deliver([this] {
    if (onClose) onClose();
  });
}

void SignalingClient::retire(QWebSocket* socket, qint64 msSinceLastSend) {
  // QWebSocket::close() shuts the connection at once, and what the server is
  // still sending then makes this end reset it; a server that has not read
  // our last frames yet (a session's "end") loses them with the reset. So a
  // socket that has just sent stays open a moment, reading and dropping what
  // comes, before it closes, and lives on alone, owned by the application,
  // until the close is done. Without an application there is no loop left to
  // send anything.
  QObject* owner = QCoreApplication::instance();
  if (!owner || owner->thread() != socket->thread()) {
    socket->flush();
    delete socket;
    return;
  }
  socket->setParent(owner);
  QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
  const int linger = msSinceLastSend < 0 ? 0 : static_cast<int>(qMax<qint64>(0, kLingerMs - msSinceLastSend));
  QTimer::singleShot(linger, socket, [socket] { socket->close(QWebSocketProtocol::CloseCodeGoingAway); });
  QTimer::singleShot(linger + kCloseGraceMs, socket, [socket] {
    socket->abort();
    socket->deleteLater();
  });
}

void SignalingClient::handleOpened() {
  isOpen_ = true;
  unansweredPings_ = 0;
  const QList<QJsonObject> queued = std::exchange(pendingQueue_, {});
  for (const auto& message : queued) transmit(message);
  pingTimer_.stop();
  pingTimer_.start();
  deliver([this] {
    if (onOpen) onOpen();
  });
}

void SignalingClient::handleBinary(const QByteArray& bytes) {
  if (const auto text = utf8Text(bytes)) handleText(*text);
}

void SignalingClient::handleText(const QString& text) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return;
  const QJsonObject message = document.object();
  const QJsonValue type = message.value(QLatin1String("type"));
  if (type.isString()) consoleLine(lcSession(), QStringLiteral("📥 [WS] recv type=") + type.toString());
  deliver([this, message] {
    if (onMessage) onMessage(message);
  });
}

void SignalingClient::transmit(const QJsonObject& message) {
  const QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact);
  if (bytes.isEmpty()) {
    consoleLine(lcSession(), QStringLiteral("❌ [WS] JSON serialization failed for ") +
                             QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    return;
  }
  const qint64 sent = socket_->sendTextMessage(QString::fromUtf8(bytes));
  if (sent <= 0) {
    consoleLine(lcSession(), QStringLiteral("❌ [WS] send error: ") + socket_->errorString());
    return;
  }
  lastSend_.start();
  const QJsonValue type = message.value(QLatin1String("type"));
  if (type.isString()) consoleLine(lcSession(), QStringLiteral("📤 [WS] send type=") + type.toString());
}

qint64 SignalingClient::msSinceLastSend() const { return lastSend_.isValid() ? lastSend_.elapsed() : -1; }

void SignalingClient::deliver(std::function<void()> call) {
  QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

}  // namespace lunor
