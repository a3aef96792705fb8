// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A WebSocket server on loopback for tests: records every frame it receives
// and lets the test push frames to the connected clients.

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QWebSocketServer>

class QWebSocket;

namespace lunor::test {

class TestWsServer final : public QObject {
  Q_OBJECT
 public:
  // Listens on 127.0.0.1:port (0 picks a free one).
  explicit TestWsServer(quint16 port = 0);
  ~TestWsServer() override;

  QUrl url() const;
  int connectionCount() const { return connectionCount_; }
  int openClients() const { return static_cast<int>(clients_.size()); }
  // Raw text frames received, in order.
  QStringList received() const { return received_; }
  // The "type" of every JSON object received, in order ("?" when none).
  QStringList receivedTypes() const;
  QList<QJsonObject> receivedObjects() const;
  QList<int> closeCodes() const { return closeCodes_; }
  // Bytes the server has not handed to the system yet, for every client.
  qint64 unsentBytes() const;

  // Sends to the newest client and flushes.
  void sendText(const QString& text);
  void sendBinary(const QByteArray& bytes);
  void sendJson(const QJsonObject& object);
  // Closes the newest client's socket from the server side.
  void closeNewest();

 Q_SIGNALS:
  void clientConnected();

 private:
  QWebSocketServer server_;
  QList<QWebSocket*> clients_;
  int connectionCount_ = 0;
  QStringList received_;
  QList<int> closeCodes_;
};

}  // namespace lunor::test
