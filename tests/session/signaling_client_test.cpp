// SPDX-License-Identifier: GPL-3.0-or-later
#include <QSignalSpy>
#include <QtTest>

#include "session/signaling_client.h"
#include "test_ws_server.h"

using namespace lunor;
using lunor::test::TestWsServer;

namespace {

QJsonObject typed(const QString& type) { return QJsonObject{{"type", type}}; }

// Records the client's callbacks.
struct Recorder {
  int opens = 0;
  int closes = 0;
  QList<QJsonObject> messages;
  void attach(SignalingClient& client) {
    client.onOpen = [this] { ++opens; };
    client.onClose = [this] { ++closes; };
    client.onMessage = [this](const QJsonObject& m) { messages << m; };
  }
};

// A client wired to a loopback server, its callbacks recorded.
struct Link {
  TestWsServer server;
  SignalingClient client{{server.url(), {}}};
  Recorder recorder;
  Link() { recorder.attach(client); }
  // Connects and waits for the open socket.
  bool open() {
    client.connect();
    return QTest::qWaitFor([this] { return recorder.opens == 1; }, 10000);
  }
};

}  // namespace

class SignalingClientTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void queuedMessagesLeaveInOrderRightAfterOpen() {
    Link link;
    auto& [server, client, recorder] = link;
    client.connect();
    client.send(typed("a"));
    client.send(typed("b"));
    client.send(typed("c"));
    QTRY_COMPARE(recorder.opens, 1);
    client.send(typed("after-open"));

    QTRY_COMPARE(server.receivedTypes().size(), 4);
    QCOMPARE(server.receivedTypes(), (QStringList{"a", "b", "c", "after-open"}));
    // One JSON object per compact text frame.
    QVERIFY(!server.received().first().contains('\n'));
  }

  void sendAfterDisconnectIsDropped() {
    Link link;
    QVERIFY(link.open());
    auto& [server, client, recorder] = link;
    client.disconnect();
    client.send(typed("late"));
    client.send(QJsonObject{{"no", "type"}});
    QTRY_COMPARE(recorder.closes, 1);
    QTRY_COMPARE(server.closeCodes(), QList<int>{1001});
    QVERIFY(server.received().isEmpty());
  }

  void clearedCallbacksHearNothingOfTheDisconnect() {
    Link link;
    QVERIFY(link.open());
    auto& [server, client, recorder] = link;
    client.onClose = nullptr;
    client.disconnect();
    QTRY_COMPARE(server.openClients(), 0);
    QTest::qWait(50);
    QCOMPARE(recorder.closes, 0);
  }

  // A session's last words (its "end") reach the server as its client goes,
  // however soon the client is deleted: the socket is not reset under them.
  void theLastMessageLeavesBeforeTheClientGoes_data() {
    QTest::addColumn<bool>("deletedAtOnce");
    QTest::newRow("deleted later, as a session does") << false;
    QTest::newRow("deleted at once") << true;
  }
  void theLastMessageLeavesBeforeTheClientGoes() {
    QFETCH(bool, deletedAtOnce);
    TestWsServer server;
    auto* client = new SignalingClient({server.url(), {}});
    bool opened = false;
    client->onOpen = [&opened] { opened = true; };
    client->connect();
    QTRY_VERIFY(opened);
    client->onOpen = nullptr;
    // The server's own messages cross it, unread.
    server.sendText(R"({"type":"signal"})");
    client->send(QJsonObject{{"type", "end"}, {"reason", "Session terminée"}});
    if (deletedAtOnce) {
      QCoreApplication::sendPostedEvents(client);
      delete client;
    } else {
      client->disconnect();
      client->deleteLater();
      QCoreApplication::sendPostedEvents(client);
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // The server goes on relaying to it as it goes.
    server.sendText(R"({"type":"signal"})");
    QTRY_COMPARE_WITH_TIMEOUT(server.closeCodes().size(), 1, 10000);
    QCOMPARE(server.receivedTypes(), QStringList{"end"});
    QCOMPARE(server.closeCodes(), QList<int>{1001});
  }

  void receivedFramesAreParsedOrDropped_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("binary");
    QTest::addColumn<bool>("delivered");
    QTest::newRow("text object") << QByteArray(R"({"type":"hello","clientId":"c1"})") << false << true;
    QTest::newRow("binary UTF-8 object") << QByteArray(R"({"type":"hello","name":"Zoé"})") << true << true;
    QTest::newRow("object without type") << QByteArray(R"({"clientId":"c1"})") << false << true;
    QTest::newRow("empty object") << QByteArray("{}") << false << true;
    QTest::newRow("array") << QByteArray(R"([{"type":"hello"}])") << false << false;
    QTest::newRow("string") << QByteArray(R"("hello")") << false << false;
    QTest::newRow("invalid JSON") << QByteArray(R"({"type":)") << false << false;
    QTest::newRow("binary not UTF-8") << QByteArray("{\"type\":\"\xff\xfe\"}") << true << false;
    QTest::newRow("empty text") << QByteArray() << false << false;
  }
  void receivedFramesAreParsedOrDropped() {
    QFETCH(QByteArray, frame);
    QFETCH(bool, binary);
    QFETCH(bool, delivered);
    Link link;
    QVERIFY(link.open());
    auto& [server, client, recorder] = link;
    if (binary) {
      server.sendBinary(frame);
    } else {
      server.sendText(QString::fromUtf8(frame));
    }
    // A well-formed message behind it proves the receive loop went on.
    server.sendText(R"({"type":"marker"})");
    QTRY_VERIFY(!recorder.messages.isEmpty() && recorder.messages.last().value("type").toString() == "marker");
    QCOMPARE(recorder.messages.size(), delivered ? 2 : 1);
    if (delivered && binary) QCOMPARE(recorder.messages.first().value("name").toString(), QString("Zoé"));
    QCOMPARE(recorder.closes, 0);
  }

  void connectTwiceOpensOneSocket() {
    Link link;
    auto& [server, client, recorder] = link;
    client.connect();
    client.connect();
    QTRY_COMPARE(recorder.opens, 1);
    client.connect();
    QTest::qWait(100);
    QCOMPARE(server.connectionCount(), 1);
    QCOMPARE(recorder.opens, 1);
  }

  // Nothing opens: the close is reported at once (plain ws to a remote host
  // is refused before any packet leaves, not after a network timeout).
  void connectionsThatNeverOpen_data() {
    QTest::addColumn<QString>("url");
    quint16 port = 0;
    {
      TestWsServer server;  // take a free port, then let it go
      port = static_cast<quint16>(server.url().port());
    }
    QTest::newRow("refused") << QString("ws://127.0.0.1:%1/signal").arg(port);
    QTest::newRow("plain ws to a remote host") << "ws://192.0.2.10:8787/signal";
  }
  void connectionsThatNeverOpen() {
    QFETCH(QString, url);
    SignalingClient client({QUrl(url), {}});
    Recorder recorder;
    recorder.attach(client);
    client.connect();
    client.send(typed("queued"));
    QTRY_COMPARE(recorder.closes, 1);
    QCOMPARE(recorder.opens, 0);
    client.send(typed("x"));  // nothing to send it on: dropped
  }

  // The server's close comes after what it sent before; a frame past the
  // bound closes the connection, without a crash.
  void closedByTheServer_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("delivered");
    QTest::newRow("a message, then the close") << R"({"type":"last"})" << 1;
    QTest::newRow("an oversized frame")
        << QString(R"({"type":"big","pad":"%1"})").arg(QString(SignalingClient::kMaxIncomingMessageBytes + 16, 'x'))
        << 0;
  }
  void closedByTheServer() {
    QFETCH(QString, text);
    QFETCH(int, delivered);
    Link link;
    QVERIFY(link.open());
    link.server.sendText(text);
    if (delivered) link.server.closeNewest();
    QTRY_COMPARE(link.recorder.closes, 1);
    QCOMPARE(link.recorder.messages.size(), delivered);
  }
};

QTEST_GUILESS_MAIN(SignalingClientTest)
#include "signaling_client_test.moc"
