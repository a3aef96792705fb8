// SPDX-License-Identifier: GPL-3.0-or-later
// The room table and the protocol's dispatch without sockets; then two
// instances sharing their rooms through a cluster in memory.

#include "memory_cluster.h"
#include "rooms_fixture.h"

using namespace lunor::test;

namespace {

QString roomName(int i) { return QString("room%1").arg(i); }

// Two of rooms 0 to count - 1 such that removing the first moves the second
// in memory, found on a table of the same keys (its layout is the rooms').
std::optional<std::pair<int, int>> roomMovedByRemoving(int count) {
  QHash<QString, int> table;
  for (int i = 0; i < count; ++i) table.insert(roomName(i), i);
  for (int removed = 0; removed < count; ++removed) {
    QHash<QString, int> copy = table;
    copy.detach();
    QHash<const int*, int> before;
    for (auto it = copy.cbegin(); it != copy.cend(); ++it) before.insert(&it.value(), it.value());
    copy.remove(roomName(removed));
    for (auto it = copy.cbegin(); it != copy.cend(); ++it) {
      if (before.value(&it.value(), -1) != it.value()) return std::pair(removed, it.value());
    }
  }
  return std::nullopt;
}

// Instances A and B, with one owner store between them.
struct Instances {
  explicit Instances(ServerLimits limits = {}) : a(limits, &owners), b(limits, &owners) {
    a.rooms.setCluster(&clusterA);
    b.rooms.setCluster(&clusterB);
    network.reachable = {{"A", &a.rooms}, {"B", &b.rooms}};
  }
  // A host on A with kRoom, and a client on B waiting at its door.
  std::pair<QString, QString> hostOnAClientOnB() {
    const QString host = a.host(create(kRoom));
    network.drain();
    const QString client = b.connect("10.0.0.2", join(kRoom));
    network.drain();
    return {host, client};
  }

  MemoryOwnerStore owners;
  ClusterNetwork network;
  MemoryCluster clusterA{network, "A"};
  MemoryCluster clusterB{network, "B"};
  Bench a;
  Bench b;
};

}  // namespace

class RoomsTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  // The host approves; offer and answer cross, and nobody else reaches the
  // pair; the host's leaving ends the room.
  void hostAndAdmittedClientRelaySignals() {
    Bench b;
    const QString host = b.host(create(kRoom));
    const QString client = b.connect("10.0.0.2", join(kRoom));
    QCOMPARE(b.heard(client), (QStringList{"hello", "joined", "waiting-approval"}));
    const QJsonObject request = b.last(host, "join-request");
    QCOMPARE(request.value("clientId").toString(), client);
    QCOMPARE(request.value("displayName").toString(), QString("Zoé"));
    QCOMPARE(request.value("unattended"), QJsonValue(false));
    QCOMPARE(request.value("awaitingPassword"), QJsonValue(false));
    // Before admission the client cannot reach the host.
    b.frame(client, signalOf({{"type", "ice"}}));
    QCOMPARE(b.code(client), QString("not-in-room"));

    b.frame(host, answer("approve", client));
    QCOMPARE(b.count(client, "approved"), 1);
    QCOMPARE(b.last(host, "peer-joined").value("clientId").toString(), client);
    QCOMPARE(b.last(client, "peer-joined").value("unattended"), QJsonValue(false));
    const QJsonObject offer{{"type", "offer"}, {"sdp", "v=0\r\nm=video 9\r\n"}};
    b.frame(host, signalOf(offer));
    QCOMPARE(b.last(client, "signal").value("data").toObject(), offer);
    b.frame(client, signalOf({{"type", "end"}}));
    QCOMPARE(b.count(host, "signal"), 1);
    // Nobody outside the pair reaches into it: no signal, no approve, no kick;
  // and only the host forgets the room's devices.
    const QString stranger = b.connect("10.6.6.6", signalOf({{"type", "end"}}));
    QCOMPARE(b.code(stranger), QString("not-in-room"));
    b.frame(stranger, answer("kick", client));
    QCOMPARE(b.code(stranger), QString("no-room"));
    b.frame(stranger, answer("approve", client));
    QCOMPARE(b.code(stranger), QString("unknown-target"));
    QCOMPARE(b.count(host, "signal"), 1);
    QCOMPARE(b.heard(client).count("left") + b.heard(client).count("rejected"), 0);
    b.frame(client, {{"type", "forget-devices"}});
    QCOMPARE(b.code(client), QString("no-room"));
    QCOMPARE(b.count(client, "devices-forgotten"), 0);

    b.rooms.disconnected(host, 1000);
    QCOMPARE(b.count(client, "left"), 1);
    QCOMPARE(b.rooms.roomCount(), 0);
  }

  // A server going down tells nobody of the departures it causes: a pair
  // already connected goes on without it.
  void shuttingDownTellsNobody() {
    Bench b;
    const QString host = b.host(create(kRoom));
    const QString client = b.connect("10.0.0.2", join(kRoom));
    b.frame(host, answer("approve", client));
    const QString waiting = b.connect("10.0.0.3", join(kRoom));
    const int hostHeard = b.heard(host).size();
    b.rooms.shuttingDown();
    for (const QString& peer : {client, host, waiting}) b.rooms.disconnected(peer, 1001);
    QCOMPARE(b.heard(host).size(), hostHeard);
    QCOMPARE(b.count(client, "left"), 0);
    QCOMPARE(b.count(waiting, "left"), 0);
    QCOMPARE(b.rooms.roomCount(), 0);
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
    Bench b;
    const QString host = b.host(create(kRoom));
    const QString client = b.connect("10.0.0.2", {{"type", "join"}, {"roomId", roomId}, {"displayName", ""}});
    QCOMPARE(b.count(client, "room-not-found"), 1);
    QVERIFY(b.last(client, "room-not-found").value("roomId").toString().size() <= b.rooms.limits().maxRoomIdChars);
    QCOMPARE(b.count(host, "join-request"), 0);
  }

  void malformedInputIsAnsweredAndTheConnectionLives_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("code");
    QTest::newRow("not JSON") << QByteArray("{\"type\":") << "bad-json";
    QTest::newRow("array") << QByteArray("[1,2]") << "bad-json";
    QTest::newRow("deep nesting") << QByteArray(2000, '[') << "bad-json";
    QTest::newRow("no type") << QByteArray(R"({"roomId":"1"})") << "missing-type";
    QTest::newRow("type not a string") << QByteArray(R"({"type":7})") << "missing-type";
    QTest::newRow("unknown type") << QByteArray(R"({"type":"teleport"})") << "unknown-type";
    QTest::newRow("signal without data") << QByteArray(R"({"type":"signal","data":"x"})") << "bad-signal";
    QTest::newRow("create with a bad ID") << QByteArray(R"({"type":"create","roomId":""})") << "bad-room-id";
    QTest::newRow("an ID with a line's end") << QByteArray(R"({"type":"create","roomId":"777\n"})") << "bad-room-id";
    QTest::newRow("create with a bad key") << QByteArray(R"({"type":"create","roomId":"7","ownerKey":"k"})")
                                           << "bad-owner-key";
  }
  void malformedInputIsAnsweredAndTheConnectionLives() {
    QFETCH(QByteArray, frame);
    QFETCH(QString, code);
    Bench b;
    const QString peer = b.connect();
    b.rooms.frame(peer, frame);
    QCOMPARE(b.code(peer), code);
    b.frame(peer, create("777"));
    QCOMPARE(b.count(peer, "created"), 1);
    QVERIFY(b.output.closed.isEmpty());
  }

  // An ID held by a live host, or by a key before a restart: only the owner's
  // key takes an owned room (its stale connection goes). One held without a
  // key is first come: a key neither takes nor binds it; once its host is
  // gone it is anyone's. Joins reach whoever holds the room.
  void whoGetsAHeldId_data() {
    QTest::addColumn<QString>("held");
    QTest::addColumn<QString>("key");  // the newcomer's
    QTest::addColumn<bool>("created");
    QTest::newRow("keyless, no key") << "keyless" << QString() << false;
    QTest::newRow("keyless, a key") << "keyless" << kOtherKey << false;
    QTest::newRow("keyless and gone, a key") << "keyless, gone" << kOtherKey << true;
    QTest::newRow("owned, no key") << "owned" << QString() << false;
    QTest::newRow("owned, another key") << "owned" << kOtherKey << false;
    QTest::newRow("owned, the owner's key") << "owned" << kOwnerKey << true;
    QTest::newRow("owned before a restart, no key") << "owned, restarted" << QString() << false;
    QTest::newRow("owned before a restart, another key") << "owned, restarted" << kOtherKey << false;
    QTest::newRow("owned before a restart, the owner's key") << "owned, restarted" << kOwnerKey << true;
  }
  void whoGetsAHeldId() {
    QFETCH(QString, held);
    QFETCH(QString, key);
    QFETCH(bool, created);
    MemoryOwnerStore store;
    auto b = std::make_unique<Bench>(ServerLimits{}, &store);
    const QString first = b->host(create(kRoom, held.startsWith("owned") ? kOwnerKey : QString()));
    QCOMPARE(b->count(first, "created"), 1);
    if (held.endsWith("gone")) b->rooms.disconnected(first, 1006);
    if (held.endsWith("restarted")) b = std::make_unique<Bench>(ServerLimits{}, &store);
    const QString newcomer = b->host(create(kRoom, key), "10.6.6.6");
    QCOMPARE(b->count(newcomer, "created"), created ? 1 : 0);
    QCOMPARE(b->code(newcomer), created ? QString() : QString("room-taken"));
    QCOMPARE(b->output.closed, created && held == "owned" ? QStringList{first} : QStringList{});
    const QString client = b->connect("10.0.0.9");
    b->frame(client, join(kRoom));
    const bool live = held == "owned" || held == "keyless";
    QCOMPARE(b->count(newcomer, "join-request"), created ? 1 : 0);
    QCOMPARE(b->count(first, "join-request"), live && !created ? 1 : 0);
  }

  // A host joining another room leaves its own, which may move the target in
  // the table: the join must still reach its host (a fault that happened).
  void hostJoiningAnotherRoomReachesItsHost() {
    constexpr int kRooms = 3000;
    const auto pair = roomMovedByRemoving(kRooms);
    QVERIFY2(pair, "no layout moves a room; the table works differently now");
    const auto [joinerRoom, targetRoom] = *pair;
    ServerLimits limits;
    limits.maxRoomIdsPerAddressPerMinute = kRooms + 1;
    Bench b(limits);
    QStringList hosts;
    for (int i = 0; i < kRooms; ++i) hosts << b.host(create(roomName(i)));
    const QString joiner = hosts[joinerRoom];
    const QString host = hosts[targetRoom];
    b.frame(joiner, join(roomName(targetRoom)));
    QCOMPARE(b.output.ofType(host, "join-request").size(), 1);
    QCOMPARE(b.last(host, "join-request").value("clientId").toString(), joiner);
    b.frame(host, answer("approve", joiner));
    QCOMPARE(b.count(joiner, "approved"), 1);
    QCOMPARE(b.rooms.roomCount(), kRooms - 1);
  }

  // The host on one instance, its client on the other: the join, the
  // answer and the signals cross, and the kick ends the client there.
  void sessionAcrossInstances() {
    Instances x;
    const auto [host, client] = x.hostOnAClientOnB();
    QCOMPARE(x.a.last(host, "join-request").value("clientId").toString(), client);
    QCOMPARE(x.b.heard(client), (QStringList{"hello", "joined", "waiting-approval"}));
    QCOMPARE(x.b.rooms.instancesInUse(), QSet<QString>{"A"});
    x.a.frame(host, answer("approve", client));
    x.network.drain();
    QCOMPARE(x.b.count(client, "approved"), 1);
    x.b.frame(client, signalOf({{"sdp", "offer"}}));
    x.a.frame(host, signalOf({{"sdp", "answer"}}));
    x.network.drain();
    QCOMPARE(x.a.last(host, "signal").value("data").toObject().value("sdp").toString(), QString("offer"));
    QCOMPARE(x.b.last(client, "signal").value("data").toObject().value("sdp").toString(), QString("answer"));
    x.a.frame(host, answer("kick", client));
    x.network.drain();
    QCOMPARE(x.b.count(client, "left"), 1);
    QCOMPARE(x.a.last(host, "peer-left").value("clientId").toString(), client);
  }

  // What a connection sends while its room is looked up follows the join,
  // in order and bounded; a connection gone meanwhile reaches nobody.
  void framesDuringALookupFollowTheJoin() {
    Instances x;
    const QString host = x.a.host(create(kRoom));
    x.network.drain();
    const QString client = x.b.connect("10.0.0.2", join(kRoom));
    for (int i = 0; i < 40; ++i) x.b.frame(client, signalOf({{"n", i}}));
    x.b.frame(client, {{"type", "teleport"}});
    const QString gone = x.b.connect("10.0.0.3", join(kRoom));
    x.b.rooms.disconnected(gone, 1001);
    x.network.drain();
    const QStringList heard = x.b.heard(client);
    QCOMPARE(heard.mid(0, 3), (QStringList{"hello", "joined", "waiting-approval"}));
    QCOMPARE(heard.count("error"), 32);
    QCOMPARE(x.b.code(client), QString("not-in-room"));
    QCOMPARE(x.a.count(host, "join-request"), 1);
    QCOMPARE(x.a.rooms.connectionCount(), 2);
  }

  // Enumeration through remote lookups is bounded before any lookup.
  void enumerationIsBoundedBeforeTheLookup() {
    ServerLimits limits;
    limits.maxRoomIdsPerAddressPerMinute = 2;
    Instances x(limits);
    const QString prober = x.b.connect("10.6.6.6");
    for (const char* room : {"100000001", "100000002", "100000003"}) x.b.frame(prober, join(room));
    x.network.drain();
    QCOMPARE(x.network.locates, 2);
    QCOMPARE(x.b.count(prober, "room-not-found"), 2);
    QCOMPARE(x.b.code(prober), QString("too-many-rooms"));
  }

  // The room's instance stops answering: a joining client hears the room
  // is not found, an admitted one that it left; both are free to go on.
  void roomsInstanceUnreachable_data() {
    QTest::addColumn<bool>("admitted");
    QTest::newRow("joining") << false;
    QTest::newRow("admitted") << true;
  }
  void roomsInstanceUnreachable() {
    QFETCH(bool, admitted);
    Instances x;
    const QString host = x.a.host(create(kRoom));
    x.network.drain();
    const QString client = x.b.connect("10.0.0.2");
    if (admitted) {
      x.b.frame(client, join(kRoom));
      x.network.drain();
      x.a.frame(host, answer("approve", client));
      x.network.drain();
      QCOMPARE(x.b.count(client, "approved"), 1);
    }
    x.network.reachable.remove("A");
    x.b.frame(client, admitted ? signalOf({{"sdp", "offer"}}) : join(kRoom));
    x.network.drain();
    QCOMPARE(x.b.count(client, admitted ? "left" : "room-not-found"), 1);
    QVERIFY(x.b.rooms.instancesInUse().isEmpty());
    x.b.frame(client, create("555555555"));
    x.network.drain();
    QCOMPARE(x.b.count(client, "created"), 1);
  }

  // An instance found gone: its connections leave the rooms here, and ours
  // proxied to it hear that they left.
  void instanceGoneEndsWhatItHeld() {
    Instances x;
    const auto [host, client] = x.hostOnAClientOnB();
    const QString otherHost = x.b.host(create("555555555"), "10.0.0.5");
    x.network.drain();
    const QString visitor = x.a.connect("10.0.0.6", join("555555555"));
    x.network.drain();
    QCOMPARE(x.b.count(otherHost, "join-request"), 1);
    QCOMPARE(x.a.rooms.instancesInUse(), QSet<QString>{"B"});

    x.a.rooms.instanceGone("B");
    QCOMPARE(x.a.last(host, "peer-left").value("clientId").toString(), client);
    QCOMPARE(x.a.count(visitor, "left"), 1);
    QVERIFY(x.a.rooms.instancesInUse().isEmpty());
    QCOMPARE(x.a.rooms.connectionCount(), 2);
  }

  // The owner's new connection on another instance takes its room there:
  // the stale one is closed, and joins find the room where it is now.
  void ownerMovesToAnotherInstance() {
    Instances x;
    const QString stale = x.a.host(create(kRoom, kOwnerKey));
    x.network.drain();
    const QString fresh = x.b.host(create(kRoom, kOwnerKey), "10.0.0.5");
    const QString squatter = x.a.host(create(kRoom, kOtherKey), "10.6.6.6");
    x.network.drain();
    QCOMPARE(x.b.count(fresh, "created"), 1);
    QCOMPARE(x.a.output.closed, QStringList{stale});
    QCOMPARE(x.a.code(squatter), QString("room-taken"));
    const QString client = x.a.connect("10.0.0.2", join(kRoom));
    x.network.drain();
    QCOMPARE(x.b.last(fresh, "join-request").value("clientId").toString(), client);
  }
};

QTEST_GUILESS_MAIN(RoomsTest)
#include "rooms_test.moc"
