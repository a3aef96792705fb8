// SPDX-License-Identifier: GPL-3.0-or-later
#include "test_ws_server.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QWebSocket>

namespace lunor::test {

TestWsServer::TestWsServer(quint16 port)
    : server_(QStringLiteral("test"), QWebSocketServer::NonSecureMode) {
  server_.listen(QHostAddress::LocalHost, port);
  connect(&server_, &QWebSocketServer::newConnection, this, [this] {
    while (QWebSocket* socket = server_.nextPendingConnection()) {
      ++connectionCount_;
      clients_.append(socket);
      connect(socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) { received_.append(text); });
      connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        closeCodes_.append(static_cast<int>(socket->closeCode()));
        clients_.removeAll(socket);
        socket->deleteLater();
      });
      Q_EMIT clientConnected();
    }
  });
}

TestWsServer::~TestWsServer() {
  for (QWebSocket* socket : clients_) {
    socket->disconnect(this);
    socket->abort();
    delete socket;
  }
  server_.close();
}

QUrl TestWsServer::url() const {
  return QUrl(QStringLiteral("ws://127.0.0.1:%1/signal").arg(server_.serverPort()));
}

QStringList TestWsServer::receivedTypes() const {
  QStringList types;
  for (const auto& object : receivedObjects()) {
    const QJsonValue type = object.value(QLatin1String("type"));
    types << (type.isString() ? type.toString() : QStringLiteral("?"));
  }
  return types;
}

QList<QJsonObject> TestWsServer::receivedObjects() const {
  QList<QJsonObject> objects;
  for (const auto& text : received_) objects << QJsonDocument::fromJson(text.toUtf8()).object();
  return objects;
}

qint64 TestWsServer::unsentBytes() const {
  qint64 bytes = 0;
  for (const QWebSocket* client : clients_) bytes += client->bytesToWrite();
  return bytes;
}

void TestWsServer::sendText(const QString& text) {
  if (clients_.isEmpty()) return;
  clients_.last()->sendTextMessage(text);
  clients_.last()->flush();
}

void TestWsServer::sendBinary(const QByteArray& bytes) {
  if (clients_.isEmpty()) return;
  clients_.last()->sendBinaryMessage(bytes);
  clients_.last()->flush();
}

void TestWsServer::sendJson(const QJsonObject& object) {
  sendText(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

void TestWsServer::closeNewest() {
  if (!clients_.isEmpty()) clients_.last()->close(QWebSocketProtocol::CloseCodeNormal);
}

}  // namespace lunor::test
