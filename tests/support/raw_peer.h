// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A bare WebSocket peer of the signaling server that records every JSON
// object it receives; for driving the server the way another program would.

#include <tuple>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QWebSocket>

#include "inbox.h"

namespace lunor::test {

class RawPeer : public QObject, public Inbox {
 public:
  explicit RawPeer(const QUrl& url) {
    connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
      received << QJsonDocument::fromJson(text.toUtf8()).object();
    });
    connect(&socket, &QWebSocket::disconnected, this, [this] {
      closed = true;
      closeCode = static_cast<int>(socket.closeCode());
    });
    socket.open(url);
    std::ignore = QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }, 10000);
  }

  void send(const QJsonObject& object) {
    socket.sendTextMessage(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
  }
  // The server-assigned ID, from "hello".
  QString id() {
    if (clientId.isEmpty()) clientId = take("hello").value("clientId").toString();
    return clientId;
  }

  QWebSocket socket;
  QString clientId;
  bool closed = false;
  int closeCode = -1;
};

}  // namespace lunor::test
