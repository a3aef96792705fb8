// SPDX-License-Identifier: GPL-3.0-or-later
// The signaling server's network side: sockets, their handshakes and
// bounds, the addresses they count under, and the owners' file behind it.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>

#include "epoll_dispatcher.h"
#include "listener.h"
#include "raw_peer.h"
#include "raw_ws_client.h"
#include "rooms_fixture.h"
#include "signal_server.h"

using namespace lunor::test;

namespace {

// A raw peer on an in-process server.
class Peer final : public RawPeer {
 public:
  explicit Peer(quint16 port) : RawPeer(QUrl(QString("ws://127.0.0.1:%1/signal").arg(port))) {}
};

// A server of the test's own on a free loopback port; null when it cannot listen.
std::unique_ptr<SignalServer> serve(ServerLimits limits = {}, OwnerStore* owners = nullptr) {
  auto server = std::make_unique<SignalServer>(limits, PasswordBackoff::Clock(), owners);
  return server->listen(QHostAddress::LocalHost, 0) ? nullptr : std::move(server);
}

}  // namespace

class SignalServerTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  // A binary frame that is not UTF-8 is answered; one past the size bound
  // closes its connection (1009) and nobody else's.
  void framesTheSocketRefuses_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("closeCode");
    QTest::newRow("binary not UTF-8") << QByteArray("\xff\xfe\xfd") << -1;
    QTest::newRow("oversized") << QByteArray(300 * 1024, 'x') << 1009;
  }
  void framesTheSocketRefuses() {
    QFETCH(QByteArray, frame);
    QFETCH(int, closeCode);
    auto server = serve();
    QVERIFY(server);
    Peer peer(server->port());
    peer.id();
    peer.socket.sendBinaryMessage(frame);
    if (closeCode < 0) {
      QCOMPARE(peer.take("error").value("code").toString(), QString("bad-encoding"));
    } else {
      QTRY_VERIFY(peer.closed);
      QCOMPARE(peer.closeCode, closeCode);
    }
    Peer other(server->port());
    other.send(create(kRoom));
    QVERIFY(!other.take("created").isEmpty());
  }

  void plainWsRefusedOffLoopback() {
    SignalServer other;
    QVERIFY(other.listen(QHostAddress::AnyIPv4, 0).has_value());
  }

  // A host that stops reading while its client sends is closed once the
  // bytes waiting for it pass the bound; the server does not keep growing.
  void slowReaderIsClosed() {
    ServerLimits limits;
    limits.maxUnsentBytes = 256 * 1024;
    limits.burstMessages = 1e6;
    limits.messagesPerSecond = 1e6;
    auto server = serve(limits);
    QVERIFY(server);
    RawWsClient slowHost(server->port());
    QVERIFY(slowHost.handshake());
    slowHost.send(create(kRoom));
    QVERIFY(!slowHost.take("created").isEmpty());
    Peer c(server->port());
    const QString clientId = c.id();
    c.send(join(kRoom));
    const QJsonObject request = slowHost.take("join-request");
    QCOMPARE(request.value("clientId").toString(), clientId);
    slowHost.send(answer("approve", clientId));
    QVERIFY(!c.take("approved").isEmpty());

    slowHost.stopReading();
    const QJsonObject big{{"type", "ice"}, {"candidate", QString(60 * 1024, 'x')}};
    for (int i = 0; i < 200 && !c.has("peer-left"); ++i) {
      c.send(signalOf(big));
      QTest::qWait(5);
    }
    QVERIFY(QTest::qWaitFor([&] { return server->connectionCount() == 1; }, 10000));
    QVERIFY(!c.take("left").isEmpty());
  }

  void addressesCountedTogether_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("key");
    QTest::newRow("IPv4") << "203.0.113.7" << "203.0.113.7";
    QTest::newRow("IPv4 written as IPv6") << "::ffff:203.0.113.7" << "203.0.113.7";
    QTest::newRow("IPv6: its /64") << "2001:db8:1:2:aaaa:bbbb:cccc:dddd" << "2001:db8:1:2::/64";
    QTest::newRow("another of the same /64") << "2001:db8:1:2::1" << "2001:db8:1:2::/64";
  }
  void addressesCountedTogether() {
    QFETCH(QString, address);
    QFETCH(QString, key);
    QCOMPARE(addressKey(address), key);
  }

  // A connection dropped for what piles up for it is dropped while the
  // server is in the middle of something else (here: admitting a client,
  // with a picture that takes the host over its bound). What was under way
  // finishes; the host's leaving follows.
  void dropInTheMiddleOfAnAdmission() {
    ServerLimits limits;
    limits.maxUnsentBytes = 32 * 1024;
    auto server = serve(limits);
    QVERIFY(server);
    const QString digest(64, '5');
    Peer host(server->port());
    host.send({{"type", "create"},
               {"roomId", kRoom},
               {"unattended", QJsonObject{{"enabled", true}, {"hash", digest}}}});
    QVERIFY(!host.take("created").isEmpty());
    Peer c(server->port());
    c.send({{"type", "join"}, {"roomId", kRoom}, {"passwordHash", digest}, {"avatar", QString(40 * 1024, 'A')}});
    QVERIFY(!c.take("approved").isEmpty());
    QVERIFY(!c.take("peer-joined").isEmpty());
    QVERIFY(!c.take("left").isEmpty());
    QTRY_COMPARE(server->roomCount(), 0);
    QTRY_COMPARE(server->connectionCount(), 1);
  }

  // Connections that never finish their handshake are counted from the TCP
  // accept: past the bound from one address the next are refused at once,
  // another address still gets in, and the count frees as they time out.
  void halfOpenConnectionsAreCappedPerAddress() {
    ServerLimits limits;
    limits.maxConnectionsPerAddress = 20;
    limits.handshakeTimeoutMs = 1500;
    auto server = serve(limits);
    QVERIFY(server);
    std::vector<std::unique_ptr<RawWsClient>> flood;
    for (int i = 0; i < 20; ++i) flood.push_back(std::make_unique<RawWsClient>(server->port(), "127.0.0.7"));
    QVERIFY(QTest::qWaitFor([&] { return server->acceptedCount() == 20; }, 5000));
    RawWsClient refused(server->port(), "127.0.0.7");
    QVERIFY(refused.waitClosed(3000));
    RawWsClient other(server->port(), "127.0.0.8");
    QVERIFY(other.handshake());
    QVERIFY(!other.take("hello").isEmpty());
    // The silent ones go after the handshake timeout; the address may come back.
    QVERIFY(QTest::qWaitFor([&] { return server->acceptedCount() == 1; }, 10000));
    RawWsClient back(server->port(), "127.0.0.7");
    QVERIFY(back.handshake());
  }

  // A connection that says nothing after its handshake goes; one that does
  // not answer pings goes once silent for the bound; a live one stays.
  void silentConnectionsAreDropped() {
    ServerLimits limits;
    limits.firstMessageTimeoutMs = 1500;
    limits.pingIntervalMs = 300;
    limits.silenceTimeoutMs = 1500;
    auto server = serve(limits);
    QVERIFY(server);
    RawWsClient mute(server->port());
    QVERIFY(mute.handshake());
    RawWsClient deaf(server->port());
    QVERIFY(deaf.handshake());
    deaf.answerPings = false;
    deaf.send(create("111111111"));
    QVERIFY(!deaf.take("created").isEmpty());
    Peer alive(server->port());
    alive.id();
    alive.send(create(kRoom));
    QVERIFY(!alive.take("created").isEmpty());

    QVERIFY(mute.waitClosed(5000));
    QVERIFY(deaf.waitClosed(5000));
    QVERIFY2(deaf.pings >= 2, qPrintable(QString::number(deaf.pings)));
    QCOMPARE(server->roomCount(), 1);
    QVERIFY(alive.socket.state() == QAbstractSocket::ConnectedState);
  }

  // A create waits for the owners' file, held by another writer; meanwhile
  // the server answers everyone else.
  void ownerFileBusyDoesNotHoldTheServer() {
    QTemporaryDir dir;
    const QString path = dir.filePath("owners.sqlite");
    SqliteOwnerStore store(path, 30);
    QVERIFY(store.error().isEmpty());
    auto server = serve({}, &store);
    QVERIFY(server);
    {
      QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "writer");
      writer.setDatabaseName(path);
      QVERIFY(writer.open());
      QSqlQuery hold(writer);
      QVERIFY(hold.exec("BEGIN EXCLUSIVE"));
      Peer host(server->port());
      host.send(create(kRoom, kOwnerKey));
      Peer other(server->port());
      other.send(join("555555555"));
      QVERIFY(!other.take("room-not-found").isEmpty());
      QVERIFY(!host.has("created"));
      QVERIFY(hold.exec("COMMIT"));
      QVERIFY(!host.take("created").isEmpty());
      writer.close();
    }
    QSqlDatabase::removeDatabase("writer");
  }

  // Behind a trusted proxy the forwarded address is the one that counts.
  void trustedProxyForwardsTheClientsAddress() {
    ServerLimits limits;
    limits.maxConnectionsPerAddress = 2;
    auto server = serve(limits);
    QVERIFY(server);
    server->setTrustedProxy(QHostAddress("127.0.0.1"));
    std::vector<std::unique_ptr<RawWsClient>> same;
    for (int i = 0; i < 3; ++i) {
      same.push_back(std::make_unique<RawWsClient>(server->port()));
      same.back()->handshake("X-Forwarded-For: 10.1.1.1, 203.0.113.7\r\n");
    }
    QVERIFY(!same[0]->take("hello").isEmpty());
    QVERIFY(!same[1]->take("hello").isEmpty());
    QVERIFY(same[2]->waitClosed(3000));
    RawWsClient another(server->port());
    QVERIFY(another.handshake("X-Forwarded-For: 203.0.113.8\r\n"));
    QVERIFY(!another.take("hello").isEmpty());
    RawWsClient unproxied(server->port());
    unproxied.handshake();
    QVERIFY(unproxied.waitClosed(3000));
  }
};

// On the dispatcher lunor-signal runs on.
int main(int argc, char** argv) {
  QCoreApplication::setEventDispatcher(new lunor::signal::EpollEventDispatcher);
  QCoreApplication app(argc, argv);
  SignalServerTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "signal_server_test.moc"
