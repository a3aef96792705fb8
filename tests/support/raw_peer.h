#pragma once

// A bare WebSocket peer of the signaling server that records every JSON
// object it receives; for driving the server the way another program would.

#include <tuple>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QWebSocket>

namespace lunor::test {

class RawPeer : public QObject {
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

  // Waits for the next message of `type` not yet taken; an empty object on timeout.
  QJsonObject take(const QString& type, int timeoutMs = 5000) {
    QJsonObject found;
    std::ignore = QTest::qWaitFor(
        [&] {
          for (qsizetype i = 0; i < received.size(); ++i) {
            if (received[i].value("type").toString() == type) {
              found = received.takeAt(i);
              return true;
            }
          }
          return false;
        },
        timeoutMs);
    return found;
  }
  bool has(const QString& type) const {
    return std::any_of(received.begin(), received.end(),
                       [&](const QJsonObject& o) { return o.value("type").toString() == type; });
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
  QList<QJsonObject> received;
  QString clientId;
  bool closed = false;
  int closeCode = -1;
};

}  // namespace lunor::test
