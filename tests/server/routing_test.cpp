// SPDX-License-Identifier: GPL-3.0-or-later
// Two instances sharing their rooms through a cluster in memory that answers
// later, in order, as Redis would: the windows in which a connection is
// being routed, and instances that go away.

#include "memory_cluster.h"
#include "rooms_fixture.h"

using namespace lunor::test;

namespace {

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

class RoutingTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
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

  // An address looking up rooms elsewhere is bounded like one asking here,
  // before any lookup.
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

QTEST_GUILESS_MAIN(RoutingTest)
#include "routing_test.moc"
