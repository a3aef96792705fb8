// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostile_server.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QWebSocket>

namespace lunor::test {

HostileServer::HostileServer(Lie lie) : lie_(lie), server_(QStringLiteral("hostile"), QWebSocketServer::NonSecureMode) {
  server_.listen(QHostAddress::LocalHost, 0);
  connect(&server_, &QWebSocketServer::newConnection, this, [this] {
    while (QWebSocket* socket = server_.nextPendingConnection()) {
      sockets_.append(socket);
      connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString& text) {
        received(socket, QJsonDocument::fromJson(text.toUtf8()).object());
      });
      send(socket, {{"type", "hello"}, {"clientId", QStringLiteral("p%1").arg(sockets_.size())}});
    }
  });
}

HostileServer::~HostileServer() {
  for (QWebSocket* socket : sockets_) {
    socket->disconnect(this);
    socket->abort();
    delete socket;
  }
}

QUrl HostileServer::url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1/signal").arg(server_.serverPort())); }

void HostileServer::send(QWebSocket* socket, const QJsonObject& message) {
  if (!socket) return;
  socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
  socket->flush();
}

void HostileServer::received(QWebSocket* socket, const QJsonObject& message) {
  const QString type = message.value("type").toString();
  if (socket != host_ && type != "create") fromClient_.append(message);
  if (type == "create") {
    host_ = socket;
    send(socket, {{"type", "created"}, {"roomId", message.value("roomId")}});
  } else if (type == "join") {
    client_ = socket;
    send(client_, {{"type", "joined"}, {"roomId", message.value("roomId")}});
    const bool proving = message.value("proof") == "host";
    const bool admit = proving || lie_ == Lie::AdmitWithoutPassword || lie_ == Lie::AdmitAsProving;
    if (!admit && (lie_ == Lie::SwapFingerprintAttended || lie_ == Lie::OwnCodeAttended)) {
      // A person at the host answers.
      send(host_, {{"type", "join-request"}, {"clientId", "c"}, {"displayName", "Zoé"}, {"commit", message.value("commit")}});
      return;
    }
    if (!admit) {
      QJsonObject required{{"type", "require-unattended"}};
      if (lie_ != Lie::AskForDigest) required.insert("proof", "host");
      send(client_, required);
      return;
    }
    QJsonObject toHost{{"type", "peer-joined"}, {"clientId", "c"}, {"unattended", true}, {"displayName", "Zoé"}};
    QJsonObject toClient{{"type", "peer-joined"}, {"clientId", "h"}, {"unattended", true}};
    if (proving || lie_ == Lie::AdmitAsProving) {
      toHost.insert("proof", "host");
      toClient.insert("proof", "host");
    }
    send(client_, {{"type", "approved"}});
    send(client_, toClient);
    send(host_, toHost);
  } else if (type == "approve" && socket == host_) {
    send(client_, {{"type", "approved"}});
    send(client_, {{"type", "peer-joined"}, {"clientId", "h"}, {"unattended", false}});
    send(host_, {{"type", "peer-joined"}, {"clientId", "c"}, {"unattended", false}, {"displayName", "Zoé"}});
  } else if (type == "join-code" && socket == host_) {
    QJsonObject code = message;
    code.remove("clientId");
    if (lie_ == Lie::OwnCodeAttended) code.insert("fingerprint", "sha-256 0A:0B:0C");
    send(client_, code);
  } else if (type == "join-reveal" && socket == client_) {
    QJsonObject reveal = message;
    reveal.insert("clientId", "c");
    send(host_, reveal);
  } else if (type == "signal") {
    QJsonObject relayed = message;
    QJsonObject data = relayed.value("data").toObject();
    const bool swap = lie_ == Lie::SwapFingerprint || lie_ == Lie::SwapFingerprintAttended;
    if (swap && socket == host_ && data.value("type") == "offer") {
      // Another certificate's digest in place of the host's, as a relay in the middle would put its own.
      QJsonObject sdp = data.value("sdp").toObject();
      QString text = sdp.value("sdp").toString();
      const QRegularExpressionMatch found = QRegularExpression("a=fingerprint:\\S+ ([0-9A-F]{2})").match(text);
      if (found.hasMatch()) text.replace(found.capturedStart(1), 2, found.captured(1) == "00" ? "11" : "00");
      sdp.insert("sdp", text);
      data.insert("sdp", sdp);
      relayed.insert("data", data);
    }
    send(socket == host_ ? client_ : host_, relayed);
  }
}

}  // namespace lunor::test
