// SPDX-License-Identifier: GPL-3.0-or-later
// Two instances sharing their rooms through a cluster in memory that answers
// later, in order, as Redis would: the windows in which a connection is
// being routed, and instances that go away.

#include "rooms_fixture.h"

using namespace lunor::test;

namespace {

struct Network {
  Later later;
  QHash<QString, std::pair<QString, bool>> registry;  // room → its instance, and whether owned
  QHash<QString, Rooms*> reachable;                    // by instance name
  int locates = 0;
};

class MemoryCluster final : public Cluster {
 public:
  MemoryCluster(Network& network, QString name) : network_(network), name_(std::move(name)) {}
  QString instance() const override { return name_; }
  void locate(const QString& roomId, std::function<void(const QString&)> done) override {
    ++network_.locates;
    network_.later.add([this, roomId, done] { done(network_.registry.value(roomId).first); });
  }
  void place(const QString& roomId, bool force, bool owned, std::function<void(bool, const QString&)> done) override {
    network_.later.add([this, roomId, force, owned, done] {
      const auto [previous, wasOwned] = network_.registry.value(roomId);
      if (!previous.isEmpty() && previous != name_ && !(force && wasOwned)) return done(false, previous);
      network_.registry.insert(roomId, {name_, owned});
      done(true, previous);
    });
  }
  void unplace(const QString& roomId) override {
    network_.later.add([this, roomId] {
      if (network_.registry.value(roomId).first == name_) network_.registry.remove(roomId);
    });
  }
  void post(const QString& instance, const QByteArray& message, std::function<void(bool)> delivered) override {
    network_.later.add([this, instance, message, delivered] {
      Rooms* target = network_.reachable.value(instance);
      if (target) target->fromInstance(message);
      if (delivered) delivered(target != nullptr);
    });
  }
  void countFailure(const QByteArray&, qint64, bool) override {}
  void forgetFailures(const QByteArray&) override {}

 private:
  Network& network_;
  QString name_;
};

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
    network.later.drain();
    const QString client = b.connect("10.0.0.2", join(kRoom));
    network.later.drain();
    return {host, client};
  }

  MemoryOwnerStore owners;
  Network network;
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
    x.network.later.drain();
    QCOMPARE(x.b.count(client, "approved"), 1);
    x.b.frame(client, signalOf({{"sdp", "offer"}}));
    x.a.frame(host, signalOf({{"sdp", "answer"}}));
    x.network.later.drain();
    QCOMPARE(x.a.last(host, "signal").value("data").toObject().value("sdp").toString(), QString("offer"));
    QCOMPARE(x.b.last(client, "signal").value("data").toObject().value("sdp").toString(), QString("answer"));
    x.a.frame(host, answer("kick", client));
    x.network.later.drain();
    QCOMPARE(x.b.count(client, "left"), 1);
    QCOMPARE(x.a.last(host, "peer-left").value("clientId").toString(), client);
  }

  // What a connection sends while its room is looked up follows the join,
  // in order and bounded; a connection gone meanwhile reaches nobody.
  void framesDuringALookupFollowTheJoin() {
    Instances x;
    const QString host = x.a.host(create(kRoom));
    x.network.later.drain();
    const QString client = x.b.connect("10.0.0.2", join(kRoom));
    for (int i = 0; i < 40; ++i) x.b.frame(client, signalOf({{"n", i}}));
    x.b.frame(client, {{"type", "teleport"}});
    const QString gone = x.b.connect("10.0.0.3", join(kRoom));
    x.b.rooms.disconnected(gone, 1001);
    x.network.later.drain();
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
    x.network.later.drain();
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
    x.network.later.drain();
    const QString client = x.b.connect("10.0.0.2");
    if (admitted) {
      x.b.frame(client, join(kRoom));
      x.network.later.drain();
      x.a.frame(host, answer("approve", client));
      x.network.later.drain();
      QCOMPARE(x.b.count(client, "approved"), 1);
    }
    x.network.reachable.remove("A");
    x.b.frame(client, admitted ? signalOf({{"sdp", "offer"}}) : join(kRoom));
    x.network.later.drain();
    QCOMPARE(x.b.count(client, admitted ? "left" : "room-not-found"), 1);
    QVERIFY(x.b.rooms.instancesInUse().isEmpty());
    x.b.frame(client, create("555555555"));
    x.network.later.drain();
    QCOMPARE(x.b.count(client, "created"), 1);
  }

  // An instance found gone: its connections leave the rooms here, and ours
  // proxied to it hear that they left.
  void instanceGoneEndsWhatItHeld() {
    Instances x;
    const auto [host, client] = x.hostOnAClientOnB();
    const QString otherHost = x.b.host(create("555555555"), "10.0.0.5");
    x.network.later.drain();
    const QString visitor = x.a.connect("10.0.0.6", join("555555555"));
    x.network.later.drain();
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
    x.network.later.drain();
    const QString fresh = x.b.host(create(kRoom, kOwnerKey), "10.0.0.5");
    const QString squatter = x.a.host(create(kRoom, kOtherKey), "10.6.6.6");
    x.network.later.drain();
    QCOMPARE(x.b.count(fresh, "created"), 1);
    QCOMPARE(x.a.output.closed, QStringList{stale});
    QCOMPARE(x.a.code(squatter), QString("room-taken"));
    const QString client = x.a.connect("10.0.0.2", join(kRoom));
    x.network.later.drain();
    QCOMPARE(x.b.last(fresh, "join-request").value("clientId").toString(), client);
  }
};

QTEST_GUILESS_MAIN(RoutingTest)
#include "routing_test.moc"
