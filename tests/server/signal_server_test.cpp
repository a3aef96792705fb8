#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>

#include "raw_peer.h"
#include "raw_ws_client.h"
#include "epoll_dispatcher.h"
#include "listener.h"
#include "signal_server.h"

using namespace lunor::signal;

namespace {

// A raw peer on the in-process server.
class Peer final : public lunor::test::RawPeer {
 public:
  explicit Peer(quint16 port) : RawPeer(QUrl(QString("ws://127.0.0.1:%1/signal").arg(port))) {}
};

}  // namespace

namespace {

const QString kGoodHash = QString(64, 'a');
const QString kBadHash = QString(64, 'b');

QJsonObject create(const QString& room, const QString& hash = {}) {
  QJsonObject message{{"type", "create"}, {"roomId", room}, {"requiresApproval", true}};
  if (!hash.isEmpty()) message.insert("unattended", QJsonObject{{"enabled", true}, {"hash", hash}});
  return message;
}

QJsonObject join(const QString& room, const QString& name = "Zoé", const QString& hash = {}) {
  QJsonObject message{{"type", "join"}, {"roomId", room}, {"displayName", name}};
  if (!hash.isNull()) message.insert("passwordHash", hash);
  return message;
}

QJsonObject signal(const QJsonObject& data) { return {{"type", "signal"}, {"data", data}}; }

}  // namespace

class SignalServerTest : public QObject {
  Q_OBJECT

  std::unique_ptr<SignalServer> server;
  qint64 nowMs = 0;

  quint16 port() const { return server->port(); }

  // A host with room "123456789" (unattended when a hash is given).
  std::unique_ptr<Peer> host(const QString& hash = {}) {
    auto peer = std::make_unique<Peer>(port());
    peer->id();
    peer->send(create("123456789", hash));
    if (peer->take("created").value("roomId") != "123456789") return nullptr;
    return peer;
  }

 private Q_SLOTS:
  void init() {
    ServerLimits limits;
    limits.messagesPerSecond = 50;
    limits.burstMessages = 60;
    limits.droppedBeforeClose = 100;
    nowMs = 0;
    server = std::make_unique<SignalServer>(limits, [this] { return nowMs; });
    QVERIFY(!server->listen(QHostAddress::LocalHost, 0));
  }
  void cleanup() { server.reset(); }

  void approvedClientAndHostRelaySignals() {
    auto h = host();
    QVERIFY(h);
    Peer c(port());
    const QString clientId = c.id();
    c.send(join("123456789", "Zoé", {}));
    QCOMPARE(c.take("joined").value("roomId").toString(), QString("123456789"));
    QVERIFY(!c.take("waiting-approval").isEmpty());
    const QJsonObject request = h->take("join-request");
    QCOMPARE(request.value("clientId").toString(), clientId);
    QCOMPARE(request.value("displayName").toString(), QString("Zoé"));
    QCOMPARE(request.value("unattended"), QJsonValue(false));
    QCOMPARE(request.value("awaitingPassword"), QJsonValue(false));

    // Before admission the client cannot reach the host.
    c.send(signal({{"type", "ice"}}));
    QCOMPARE(c.take("error").value("code").toString(), QString("not-in-room"));

    h->send({{"type", "approve"}, {"target", clientId}});
    QVERIFY(!c.take("approved").isEmpty());
    QCOMPARE(h->take("peer-joined").value("clientId").toString(), clientId);
    QCOMPARE(c.take("peer-joined").value("unattended"), QJsonValue(false));

    const QJsonObject offer{{"type", "offer"},
                            {"sdp", QJsonObject{{"type", "offer"}, {"sdp", "v=0\r\nm=video 9\r\n"}}}};
    h->send(signal(offer));
    QCOMPARE(c.take("signal").value("data").toObject(), offer);
    const QJsonObject end{{"type", "end"}, {"reason", "Bye"}};
    c.send(signal(end));
    QCOMPARE(h->take("signal").value("data").toObject(), end);

    // The host goes: its client hears "left" and the room is gone.
    h->socket.close();
    QVERIFY(!c.take("left").isEmpty());
    QTRY_COMPARE(server->roomCount(), 0);
  }

  void joinForAMissingRoomIsAnswered_data() {
    QTest::addColumn<QJsonValue>("roomId");
    QTest::newRow("unknown") << QJsonValue("555555555");
    QTest::newRow("not a string") << QJsonValue(42);
    QTest::newRow("with a slash") << QJsonValue("../123456789");
    QTest::newRow("huge") << QJsonValue(QString(5000, '7'));
  }
  void joinForAMissingRoomIsAnswered() {
    QFETCH(QJsonValue, roomId);
    auto h = host();
    QVERIFY(h);
    Peer c(port());
    c.send({{"type", "join"}, {"roomId", roomId}, {"displayName", ""}});
    QVERIFY(!c.take("room-not-found").isEmpty());
    QVERIFY(!h->has("join-request"));
  }

  void roomOfALiveHostCannotBeTakenOver() {
    auto h = host();
    QVERIFY(h);
    Peer thief(port());
    thief.send(create("123456789"));
    QCOMPARE(thief.take("error").value("code").toString(), QString("room-taken"));
    Peer c(port());
    c.send(join("123456789"));
    QVERIFY(!h->take("join-request").isEmpty());
    QVERIFY(!thief.has("join-request"));

    // Once the host is gone the ID is free again.
    h->socket.close();
    QTRY_COMPARE(server->roomCount(), 0);
    thief.send(create("123456789"));
    QVERIFY(!thief.take("created").isEmpty());
  }

  void strangersCannotSignalIntoARoom() {
    auto h = host();
    QVERIFY(h);
    Peer c(port());
    const QString clientId = c.id();
    c.send(join("123456789"));
    h->take("join-request");
    h->send({{"type", "approve"}, {"target", clientId}});
    QVERIFY(!c.take("approved").isEmpty());

    Peer stranger(port());
    stranger.send(signal({{"type", "end"}, {"reason", "pwned"}}));
    QCOMPARE(stranger.take("error").value("code").toString(), QString("not-in-room"));
    // Nor can they approve, reject or kick in someone else's room.
    stranger.send({{"type", "kick"}, {"target", clientId}});
    stranger.send({{"type", "approve"}, {"target", clientId}});
    QVERIFY(!stranger.take("error").isEmpty());
    QTest::qWait(100);
    QVERIFY(!h->has("signal"));
    QVERIFY(!c.has("left") && !c.has("rejected"));
  }

  void busyRoomTurnsOthersAwayWithoutDisturbingIt() {
    auto h = host();
    QVERIFY(h);
    Peer c(port());
    Peer waiting(port());
    const QString clientId = c.id();
    c.send(join("123456789"));
    waiting.send(join("123456789", "Other"));
    h->take("join-request");
    h->take("join-request");
    h->send({{"type", "approve"}, {"target", clientId}});
    QVERIFY(!c.take("approved").isEmpty());
    QVERIFY(!waiting.take("room-busy").isEmpty());

    Peer late(port());
    late.send(join("123456789", "Late"));
    QVERIFY(!late.take("room-busy").isEmpty());
    QVERIFY(!h->has("join-request"));
    h->send(signal({{"type", "ice"}}));
    QVERIFY(!c.take("signal").isEmpty());
  }

  void rejectKickAndLeavingAreTold() {
    auto h = host();
    QVERIFY(h);
    Peer refused(port());
    const QString refusedId = refused.id();
    refused.send(join("123456789"));
    h->take("join-request");
    h->send({{"type", "reject"}, {"target", refusedId}});
    QVERIFY(!refused.take("rejected").isEmpty());
    h->send({{"type", "reject"}, {"target", refusedId}});  // answered twice: no-op
    QTest::qWait(50);
    QVERIFY(!h->has("error"));

    // A pending client that goes away is reported to the host.
    {
      Peer leaving(port());
      const QString leavingId = leaving.id();
      leaving.send(join("123456789"));
      h->take("join-request");
      leaving.socket.close();
      QCOMPARE(h->take("peer-left").value("clientId").toString(), leavingId);
    }

    // Kicking the admitted client ends it on both sides.
    Peer admitted(port());
    const QString admittedId = admitted.id();
    admitted.send(join("123456789"));
    h->take("join-request");
    h->send({{"type", "approve"}, {"target", admittedId}});
    QVERIFY(!admitted.take("approved").isEmpty());
    h->send({{"type", "kick"}, {"target", admittedId}});
    QVERIFY(!admitted.take("left").isEmpty());
    QCOMPARE(h->take("peer-left").value("clientId").toString(), admittedId);
  }

  void unattendedRoomAdmitsTheRightDigestOnly() {
    auto h = host(kGoodHash);
    QVERIFY(h);
    // Without a digest: the client is asked, the host sees a password-pending request.
    Peer c(port());
    const QString clientId = c.id();
    c.send(join("123456789"));
    QVERIFY(!c.take("require-unattended").isEmpty());
    const QJsonObject request = h->take("join-request");
    QCOMPARE(request.value("unattended"), QJsonValue(true));
    QCOMPARE(request.value("awaitingPassword"), QJsonValue(true));

    c.send(join("123456789", "Zoé", kBadHash));
    QVERIFY(!c.take("unattended-denied").isEmpty());
    QVERIFY(!h->has("peer-joined"));

    c.send(join("123456789", "Zoé", kGoodHash));
    QVERIFY(!c.take("approved").isEmpty());
    QCOMPARE(h->take("unattended-joined").value("displayName").toString(), QString("Zoé"));
    const QJsonObject joined = h->take("peer-joined");
    QCOMPARE(joined.value("clientId").toString(), clientId);
    QCOMPARE(joined.value("unattended"), QJsonValue(true));
  }

  void wrongPasswordsBackOff() {
    auto h = host(kGoodHash);
    QVERIFY(h);
    Peer c(port());
    auto attempt = [&](const QString& hash) -> QJsonObject {
      c.received.clear();
      c.send(join("123456789", "x", hash));
      if (!QTest::qWaitFor([&] { return c.has("unattended-denied") || c.has("approved"); }, 5000)) {
        return {};
      }
      return c.has("approved") ? QJsonObject{{"type", "approved"}} : c.take("unattended-denied");
    };
    // Three free failures, then locks that double.
    for (int i = 0; i < 3; ++i) QVERIFY(!attempt(kBadHash).contains("retryAfterMs"));
    QCOMPARE(attempt(kBadHash).value("retryAfterMs").toInt(), 1000);
    // While locked even the right digest is refused, and reports the wait.
    nowMs += 400;
    QCOMPARE(attempt(kGoodHash).value("retryAfterMs").toInt(), 600);
    nowMs += 600;
    QCOMPARE(attempt(kBadHash).value("retryAfterMs").toInt(), 2000);
    nowMs += 2000;
    QCOMPARE(attempt(kGoodHash).value("type").toString(), QString("approved"));
    QVERIFY(!h->take("peer-joined").isEmpty());
  }

  void malformedInputIsAnsweredAndTheLinkLives_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("binary");
    QTest::addColumn<QString>("code");
    QTest::newRow("not JSON") << QByteArray("{\"type\":") << false << "bad-json";
    QTest::newRow("array") << QByteArray("[1,2]") << false << "bad-json";
    QTest::newRow("no type") << QByteArray(R"({"roomId":"1"})") << false << "missing-type";
    QTest::newRow("type not a string") << QByteArray(R"({"type":7})") << false << "missing-type";
    QTest::newRow("unknown type") << QByteArray(R"({"type":"teleport"})") << false << "unknown-type";
    QTest::newRow("binary not UTF-8") << QByteArray("\xff\xfe\xfd") << true << "bad-encoding";
    QTest::newRow("signal without data") << QByteArray(R"({"type":"signal","data":"x"})") << false << "bad-signal";
    QTest::newRow("create with a bad ID") << QByteArray(R"({"type":"create","roomId":""})") << false << "bad-room-id";
    QTest::newRow("deep nesting") << QByteArray(2000, '[') << false << "bad-json";
  }
  void malformedInputIsAnsweredAndTheLinkLives() {
    QFETCH(QByteArray, frame);
    QFETCH(bool, binary);
    QFETCH(QString, code);
    Peer p(port());
    p.id();
    if (binary) {
      p.socket.sendBinaryMessage(frame);
    } else {
      p.socket.sendTextMessage(QString::fromUtf8(frame));
    }
    QCOMPARE(p.take("error").value("code").toString(), code);
    p.send(create("777"));
    QVERIFY(!p.take("created").isEmpty());
  }

  void oversizedFrameClosesOnlyThatConnection() {
    auto h = host();
    QVERIFY(h);
    Peer big(port());
    big.id();
    big.socket.sendTextMessage(QString(300 * 1024, 'x'));
    QTRY_VERIFY(big.closed);
    QCOMPARE(big.closeCode, 1009);
    Peer c(port());
    c.send(join("123456789"));
    QVERIFY(!h->take("join-request").isEmpty());
  }

  void floodIsThrottledThenClosed() {
    Peer flood(port());
    flood.id();
    for (int i = 0; i < 400; ++i) flood.send({{"type", "teleport"}});
    QTRY_VERIFY_WITH_TIMEOUT(flood.closed, 10000);
    QCOMPARE(flood.closeCode, 1008);
    const bool warned = std::any_of(flood.received.begin(), flood.received.end(),
                                    [](const QJsonObject& m) { return m.value("code") == "rate-limited"; });
    QVERIFY(warned);
    QCOMPARE(flood.closeCode, 1008);
    // Others are served as before.
    auto h = host();
    QVERIFY(h);
  }

  void helpers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("digest");
    QTest::newRow("64 lowercase hex") << QString(64, 'f') << true;
    QTest::newRow("upper case") << QString(64, 'F') << false;
    QTest::newRow("63 chars") << QString(63, 'a') << false;
    QTest::newRow("not hex") << QString(64, 'g') << false;
  }
  void helpers() {
    QFETCH(QString, text);
    QFETCH(bool, digest);
    QCOMPARE(isPasswordDigest(text), digest);
    QVERIFY(constantTimeEquals(text.toLatin1(), text.toLatin1()));
    QVERIFY(!constantTimeEquals(text.toLatin1(), text.toLatin1() + "x"));
    QVERIFY(!constantTimeEquals(text.toLatin1(), QByteArray()));
  }

  void plainWsRefusedOffLoopback() {
    SignalServer other;
    QVERIFY(other.listen(QHostAddress::AnyIPv4, 0).has_value());
  }

  // ---- the network side's bounds, each on a server of its own ----

  // A host that stops reading while its client sends is closed once the
  // bytes waiting for it pass the bound; the server does not keep growing.
  void slowReaderIsClosed() {
    ServerLimits limits;
    limits.maxUnsentBytes = 256 * 1024;
    limits.burstMessages = 1e6;
    limits.messagesPerSecond = 1e6;
    SignalServer own(limits);
    QVERIFY(!own.listen(QHostAddress::LocalHost, 0));
    lunor::test::RawWsClient slowHost(own.port());
    QVERIFY(slowHost.handshake());
    slowHost.send(create("123456789"));
    QVERIFY(!slowHost.take("created").isEmpty());
    Peer c(own.port());
    const QString clientId = c.id();
    c.send(join("123456789"));
    const QJsonObject request = slowHost.take("join-request");
    QCOMPARE(request.value("clientId").toString(), clientId);
    slowHost.send({{"type", "approve"}, {"target", clientId}});
    QVERIFY(!c.take("approved").isEmpty());

    slowHost.stopReading();
    const QJsonObject big{{"type", "ice"}, {"candidate", QString(60 * 1024, 'x')}};
    for (int i = 0; i < 200 && !c.has("peer-left"); ++i) {
      c.send(signal(big));
      QTest::qWait(5);
    }
    QVERIFY(QTest::qWaitFor([&] { return own.connectionCount() == 1; }, 10000));
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
    QCOMPARE(lunor::signal::addressKey(address), key);
  }

  // A connection dropped for what piles up for it is dropped while the
  // server is in the middle of something else (here: admitting a client,
  // with a picture that takes the host over its bound). What was under way
  // finishes; the host's leaving follows.
  void dropInTheMiddleOfAnAdmission() {
    ServerLimits limits;
    limits.maxUnsentBytes = 32 * 1024;
    SignalServer own(limits);
    QVERIFY(!own.listen(QHostAddress::LocalHost, 0));
    const QString digest(64, '5');
    Peer host(own.port());
    host.send({{"type", "create"},
               {"roomId", "123456789"},
               {"unattended", QJsonObject{{"enabled", true}, {"hash", digest}}}});
    QVERIFY(!host.take("created").isEmpty());
    Peer c(own.port());
    c.send({{"type", "join"}, {"roomId", "123456789"}, {"passwordHash", digest}, {"avatar", QString(40 * 1024, 'A')}});
    QVERIFY(!c.take("approved").isEmpty());
    QVERIFY(!c.take("peer-joined").isEmpty());
    QVERIFY(!c.take("left").isEmpty());
    QTRY_COMPARE(own.roomCount(), 0);
    QTRY_COMPARE(own.connectionCount(), 1);
  }

  // Connections that never finish their handshake are counted from the TCP
  // accept: past the bound from one address the next are refused at once,
  // another address still gets in, and the count frees as they time out.
  void halfOpenConnectionsAreCappedPerAddress() {
    ServerLimits limits;
    limits.maxConnectionsPerAddress = 20;
    limits.handshakeTimeoutMs = 1500;
    SignalServer own(limits);
    QVERIFY(!own.listen(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<lunor::test::RawWsClient>> flood;
    for (int i = 0; i < 20; ++i) flood.push_back(std::make_unique<lunor::test::RawWsClient>(own.port(), "127.0.0.7"));
    QVERIFY(QTest::qWaitFor([&] { return own.acceptedCount() == 20; }, 5000));
    lunor::test::RawWsClient refused(own.port(), "127.0.0.7");
    QVERIFY(refused.waitClosed(3000));
    lunor::test::RawWsClient other(own.port(), "127.0.0.8");
    QVERIFY(other.handshake());
    QVERIFY(!other.take("hello").isEmpty());
    // The silent ones go after the handshake timeout; the address may come back.
    QVERIFY(QTest::qWaitFor([&] { return own.acceptedCount() == 1; }, 10000));
    lunor::test::RawWsClient back(own.port(), "127.0.0.7");
    QVERIFY(back.handshake());
  }

  // A connection that says nothing after its handshake goes; one that does
  // not answer pings goes once silent for the bound; a live one stays.
  void silentConnectionsAreDropped() {
    ServerLimits limits;
    limits.firstMessageTimeoutMs = 1500;
    limits.pingIntervalMs = 300;
    limits.silenceTimeoutMs = 1500;
    SignalServer own(limits);
    QVERIFY(!own.listen(QHostAddress::LocalHost, 0));
    lunor::test::RawWsClient mute(own.port());
    QVERIFY(mute.handshake());
    lunor::test::RawWsClient deaf(own.port());
    QVERIFY(deaf.handshake());
    deaf.answerPings = false;
    deaf.send({{"type", "create"}, {"roomId", "111111111"}});
    QVERIFY(!deaf.take("created").isEmpty());
    Peer alive(own.port());
    alive.id();
    alive.send(create("123456789"));
    QVERIFY(!alive.take("created").isEmpty());

    QVERIFY(mute.waitClosed(5000));
    QVERIFY(deaf.waitClosed(5000));
    QVERIFY2(deaf.pings >= 2, qPrintable(QString::number(deaf.pings)));
    QCOMPARE(own.roomCount(), 1);
    QVERIFY(alive.socket.state() == QAbstractSocket::ConnectedState);
  }

  // Forty addresses spend the room's daily budget of wrong passwords, each
  // within its own back-off (as a botnet would, in forty seconds). The
  // owner's laptop, admitted once before and showing its device key, is let
  // in at once from a new address; a newcomer with the right password is not.
  // Once the host forgets its devices, the laptop is held too.
  void devicesGetPastARoomLockedByManyAddresses() {
    QTemporaryDir dir;
    SqliteOwnerStore store(dir.filePath("owners.sqlite"), 30);
    QVERIFY(store.error().isEmpty());
    ServerLimits limits;  // 200 wrong passwords a day; 3 free per room and address
    // The clock jumps over the waits: no connection is to look silent for it.
    limits.pingIntervalMs = limits.silenceTimeoutMs = limits.firstMessageTimeoutMs = 24 * 3600 * 1000;
    SignalServer own(limits, [this] { return nowMs; }, &store);
    QVERIFY(!own.listen(QHostAddress::LocalHost, 0));
    Peer host(own.port());
    host.send(create("123456789", kGoodHash));
    QVERIFY(!host.take("created").isEmpty());
    auto connectFrom = [&](const QString& local) {
      auto client = std::make_unique<lunor::test::RawWsClient>(own.port(), local);
      return client->handshake() && !client->take("hello").isEmpty() ? std::move(client) : nullptr;
    };
    QString deviceKey;
    {
      auto laptop = connectFrom("127.0.2.1");
      QVERIFY(laptop);
      laptop->send(join("123456789", "Laptop", kGoodHash));
      deviceKey = laptop->take("approved").value("deviceKey").toString();
      QVERIFY2(isOwnerKey(deviceKey), qPrintable(deviceKey));
    }
    QVERIFY(!host.take("peer-left").isEmpty());

    std::vector<std::unique_ptr<lunor::test::RawWsClient>> guessers;
    for (int n = 1; n <= 40; ++n) {
      guessers.push_back(connectFrom(QString("127.0.1.%1").arg(n)));
      QVERIFY(guessers.back());
    }
    for (int failures = 0; failures < limits.maxFailuresPerRoomPerDay; failures += 40) {
      for (auto& guesser : guessers) guesser->send(join("123456789", "x", kBadHash));
      for (auto& guesser : guessers) {
        const QJsonObject denied = guesser->take("unattended-denied");
        QVERIFY(!denied.isEmpty());
        QVERIFY(!denied.value("locked").toBool());
      }
      nowMs += limits.maxPasswordWaitMs;  // every address's wait is over
    }
    guessers.front()->send(join("123456789", "x", kBadHash));
    QVERIFY(guessers.front()->take("unattended-denied").value("locked").toBool());
    QVERIFY(!host.take("unattended-locked").isEmpty());

    auto newcomer = connectFrom("127.0.3.1");
    QVERIFY(newcomer);
    newcomer->send(join("123456789", "Newcomer", kGoodHash));
    QVERIFY(newcomer->take("unattended-denied").value("locked").toBool());

    auto laptop = connectFrom("127.0.2.2");
    QVERIFY(laptop);
    QJsonObject withKey = join("123456789", "Laptop", kGoodHash);
    withKey.insert("deviceKey", deviceKey);
    laptop->send(withKey);
    const QString renewed = laptop->take("approved").value("deviceKey").toString();
    QVERIFY(isOwnerKey(renewed));
    QCOMPARE(host.take("peer-joined").value("displayName").toString(), QString("Laptop"));
    QVERIFY(!newcomer->has("approved"));

    host.send({{"type", "forget-devices"}});
    QVERIFY(!host.take("devices-forgotten").isEmpty());
    laptop.reset();
    QVERIFY(!host.take("peer-left").isEmpty());
    auto again = connectFrom("127.0.2.3");
    QVERIFY(again);
    withKey.insert("deviceKey", renewed);
    again->send(withKey);
    QVERIFY(again->take("unattended-denied").value("locked").toBool());
  }

  // A create waits for the owners' file, held by another writer; meanwhile
  // the server answers everyone else.
  void ownerFileBusyDoesNotHoldTheServer() {
    QTemporaryDir dir;
    const QString path = dir.filePath("owners.sqlite");
    SqliteOwnerStore store(path, 30);
    QVERIFY(store.error().isEmpty());
    SignalServer own({}, {}, &store);
    QVERIFY(!own.listen(QHostAddress::LocalHost, 0));
    {
      QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "writer");
      writer.setDatabaseName(path);
      QVERIFY(writer.open());
      QSqlQuery hold(writer);
      QVERIFY(hold.exec("BEGIN EXCLUSIVE"));
      Peer host(own.port());
      host.send({{"type", "create"}, {"roomId", "123456789"}, {"ownerKey", QString(64, '1')}});
      Peer other(own.port());
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
    SignalServer own(limits);
    own.setTrustedProxy(QHostAddress("127.0.0.1"));
    QVERIFY(!own.listen(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<lunor::test::RawWsClient>> same;
    for (int i = 0; i < 3; ++i) {
      same.push_back(std::make_unique<lunor::test::RawWsClient>(own.port()));
      same.back()->handshake("X-Forwarded-For: 10.1.1.1, 203.0.113.7\r\n");
    }
    QVERIFY(!same[0]->take("hello").isEmpty());
    QVERIFY(!same[1]->take("hello").isEmpty());
    QVERIFY(same[2]->waitClosed(3000));
    lunor::test::RawWsClient another(own.port());
    QVERIFY(another.handshake("X-Forwarded-For: 203.0.113.8\r\n"));
    QVERIFY(!another.take("hello").isEmpty());
    lunor::test::RawWsClient unproxied(own.port());
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
