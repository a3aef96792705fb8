// The protocol without sockets: connections, frames and what goes back.

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include "rooms.h"

using namespace lunor::signal;

namespace {

struct RecordingOutput final : RoomsOutput {
  void send(const QString& peerId, const QByteArray& json) override {
    sent[peerId] << QJsonDocument::fromJson(json).object();
  }
  void close(const QString& peerId, int, const QString&) override { closed << peerId; }
  QList<QJsonObject> ofType(const QString& peerId, const QString& type) const {
    QList<QJsonObject> found;
    for (const auto& message : sent.value(peerId)) {
      if (message.value("type") == type) found << message;
    }
    return found;
  }
  QHash<QString, QList<QJsonObject>> sent;
  QStringList closed;
};

QByteArray json(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

QString roomName(int i) { return QString("room%1").arg(i); }

const QString kOwnerKey = QString(64, '1');
const QString kOtherKey = QString(64, '2');
const QString kRightHash = QString(64, 'a');
const QString kWrongHash = QString(64, 'b');
const QString kOtherHash = QString(64, '9');

QJsonObject create(const QString& room, const QString& ownerKey = {}, const QString& unattendedHash = {}) {
  QJsonObject message{{"type", "create"}, {"roomId", room}};
  if (!ownerKey.isEmpty()) message.insert("ownerKey", ownerKey);
  if (!unattendedHash.isEmpty()) message.insert("unattended", QJsonObject{{"enabled", true}, {"hash", unattendedHash}});
  return message;
}

QJsonObject join(const QString& room, const QJsonValue& passwordHash = QJsonValue::Undefined) {
  QJsonObject message{{"type", "join"}, {"roomId", room}, {"displayName", "Zoé"}};
  if (!passwordHash.isUndefined()) message.insert("passwordHash", passwordHash);
  return message;
}

QJsonObject joinWithKey(const QString& room, const QString& passwordHash, const QJsonValue& deviceKey) {
  QJsonObject message = join(room, passwordHash);
  message.insert("deviceKey", deviceKey);
  return message;
}

// A store whose answers wait until the test releases them, as a store on
// another thread or host gives them. What it is told is done at once.
class DeferredOwnerStore final : public OwnerStore {
 public:
  void claim(const QString& roomId, const QString& digest, std::function<void(Claim)> done) override {
    inner_.claim(roomId, digest, [this, done](Claim claim) { waiting_ << [done, claim] { done(claim); }; });
  }
  void addDevice(const QString& roomId, const QString& device, const QString& hash, const QString& replaced,
                 int keep) override {
    inner_.addDevice(roomId, device, hash, replaced, keep);
  }
  void isDevice(const QString& roomId, const QString& device, const QString& hash,
                std::function<void(bool)> done) override {
    inner_.isDevice(roomId, device, hash, [this, done](bool known) { waiting_ << [done, known] { done(known); }; });
  }
  void forgetDevices(const QString& roomId, const QString& except, std::function<void(bool)> done) override {
    inner_.forgetDevices(roomId, except, done);
  }
  // Gives the answers held so far, in order.
  void release() {
    for (const auto& answer : std::exchange(waiting_, {})) answer();
  }
  qsizetype waiting() const { return waiting_.size(); }

 private:
  MemoryOwnerStore inner_;
  QList<std::function<void()>> waiting_;
};

// Rooms with a clock the test moves, and helpers to drive connections.
struct Bench {
  explicit Bench(ServerLimits limits = {}, OwnerStore* store = nullptr)
      : owners(store ? store : &memory), rooms(limits, output, [this] { return now; }, *owners) {}
  QString connect(const QString& address = "10.0.0.1") {
    const QString id = rooms.newClientId();
    rooms.connected(id, address);
    return id;
  }
  void frame(const QString& id, const QJsonObject& message) { rooms.frame(id, json(message)); }
  QString code(const QString& id) {
    const auto errors = output.ofType(id, "error");
    return errors.isEmpty() ? QString() : errors.last().value("code").toString();
  }
  int count(const QString& id, const QString& type) const { return static_cast<int>(output.ofType(id, type).size()); }

  qint64 now = 0;
  RecordingOutput output;
  MemoryOwnerStore memory;
  OwnerStore* owners;
  Rooms rooms;
};

// Two rooms of a table filled with rooms 0 to count - 1, in that order, such
// that removing the first moves the second to other memory. Found on a
// table of the same keys: its layout is the rooms' own.
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

}  // namespace

class RoomsTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  // A host that joins another room first leaves its own, which may move the
  // other rooms around in the table: the join must still reach its host.
  void hostJoiningAnotherRoomReachesItsHost() {
    constexpr int kRooms = 3000;
    const auto pair = roomMovedByRemoving(kRooms);
    QVERIFY2(pair, "no layout moves a room; the table works differently now");
    const auto [joinerRoom, targetRoom] = *pair;

    RecordingOutput output;
    MemoryOwnerStore owners;
    ServerLimits limits;
    limits.maxRoomIdsPerAddressPerMinute = kRooms + 1;
    Rooms rooms(limits, output, [] { return qint64(0); }, owners);
    QStringList hosts;
    for (int i = 0; i < kRooms; ++i) {
      hosts << rooms.newClientId();
      rooms.connected(hosts.last(), "10.0.0.1");
      rooms.frame(hosts.last(), json({{"type", "create"}, {"roomId", roomName(i)}}));
    }
    const QString joiner = hosts[joinerRoom];
    const QString host = hosts[targetRoom];
    rooms.frame(joiner, json({{"type", "join"}, {"roomId", roomName(targetRoom)}, {"displayName", "x"}}));
    const auto requests = output.ofType(host, "join-request");
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().value("clientId").toString(), joiner);
    rooms.frame(host, json({{"type", "approve"}, {"target", joiner}}));
    QCOMPARE(output.ofType(joiner, "approved").size(), 1);
    QCOMPARE(rooms.roomCount(), kRooms - 1);
  }

  // Whoever first claims an ID with a key owns it: after a restart (the same
  // store, new rooms) nobody else gets it, with or without a key of theirs;
  // the owner does.
  void claimedRoomCannotBeSquatted_data() {
    QTest::addColumn<QString>("squatterKey");
    QTest::newRow("no key") << QString();
    QTest::newRow("another key") << kOtherKey;
  }
  void claimedRoomCannotBeSquatted() {
    QFETCH(QString, squatterKey);
    MemoryOwnerStore store;
    {
      Bench before({}, &store);
      const QString host = before.connect();
      before.frame(host, create("123456789", kOwnerKey));
      QCOMPARE(before.count(host, "created"), 1);
    }
    Bench after({}, &store);
    const QString squatter = after.connect("10.6.6.6");
    after.frame(squatter, create("123456789", squatterKey));
    QCOMPARE(after.code(squatter), QString("room-taken"));
    const QString owner = after.connect();
    after.frame(owner, create("123456789", kOwnerKey));
    QCOMPARE(after.count(owner, "created"), 1);
  }

  // A live room is not hijacked by a wrong key, and the owner's new
  // connection replaces its stale one at once.
  void ownerReplacesItsStaleConnectionOnly() {
    Bench b;
    const QString stale = b.connect();
    b.frame(stale, create("123456789", kOwnerKey));
    const QString thief = b.connect("10.6.6.6");
    b.frame(thief, create("123456789", kOtherKey));
    QCOMPARE(b.code(thief), QString("room-taken"));
    QVERIFY(b.output.closed.isEmpty());

    const QString fresh = b.connect();
    b.frame(fresh, create("123456789", kOwnerKey));
    QCOMPARE(b.count(fresh, "created"), 1);
    QCOMPARE(b.output.closed, QStringList{stale});
    const QString client = b.connect("10.0.0.9");
    b.frame(client, join("123456789"));
    QCOMPARE(b.count(fresh, "join-request"), 1);
    QCOMPARE(b.count(stale, "join-request"), 0);
  }

  // A room held without a key (a host from before keys) is first come, first
  // served: a key does not take it over, nor bind the ID under it.
  void keyDoesNotTakeAKeylessRoom() {
    Bench b;
    const QString keyless = b.connect();
    b.frame(keyless, create("123456789"));
    const QString keyed = b.connect("10.6.6.6");
    b.frame(keyed, create("123456789", kOtherKey));
    QCOMPARE(b.code(keyed), QString("room-taken"));
    QVERIFY(b.output.closed.isEmpty());
    // The keyless host comes back on a new connection once its old one is gone.
    b.rooms.disconnected(keyless, 1006);
    const QString back = b.connect();
    b.frame(back, create("123456789"));
    QCOMPARE(b.count(back, "created"), 1);
  }

  // Someone else's guessing does not lock the owner out; a room's daily
  // budget of failures, once spent, refuses even the right password and
  // the host hears of it once.
  void passwordLocksAreTheGuessersOwn() {
    ServerLimits limits;
    limits.maxFailuresPerRoomPerDay = 20;
    limits.joinCooldownMs = 1;
    Bench b(limits);
    const QString host = b.connect();
    b.frame(host, create("123456789", kOwnerKey, kRightHash));
    const QString attacker = b.connect("10.6.6.6");
    for (int i = 0; i < 8; ++i) {
      b.now += 10;
      b.frame(attacker, join("123456789", kWrongHash));
    }
    QVERIFY(b.output.ofType(attacker, "unattended-denied").last().contains("retryAfterMs"));
    const QString owner = b.connect("10.0.0.2");
    b.frame(owner, join("123456789", kRightHash));
    QCOMPARE(b.count(owner, "approved"), 1);
  }
  void spentRoomBudgetRefusesEveryone() {
    ServerLimits limits;
    limits.maxFailuresPerRoomPerDay = 5;
    limits.freeFailuresPerAddress = 100;
    limits.freeFailuresPerRoomAddress = 100;
    limits.joinCooldownMs = 1;
    Bench b(limits);
    const QString host = b.connect();
    b.frame(host, create("123456789", kOwnerKey, kRightHash));
    for (int i = 0; i < 5; ++i) {
      const QString guesser = b.connect(QString("10.6.6.%1").arg(i));
      b.frame(guesser, join("123456789", kWrongHash));
    }
    const QString owner = b.connect("10.0.0.2");
    b.frame(owner, join("123456789", kRightHash));
    QCOMPARE(b.count(owner, "approved"), 0);
    QVERIFY(b.output.ofType(owner, "unattended-denied").last().value("locked").toBool());
    const QString another = b.connect("10.0.0.3");
    b.frame(another, join("123456789", kRightHash));
    QCOMPARE(b.count(host, "unattended-locked"), 1);
    // A day later the room opens again.
    b.now += 24 * 3600 * 1000LL;
    const QString tomorrow = b.connect("10.0.0.4");
    b.frame(tomorrow, join("123456789", kRightHash));
    QCOMPARE(b.count(tomorrow, "approved"), 1);
  }

  // A room whose daily budget five guessers spent still admits, with the
  // right password, a device it admitted before that shows its key (from
  // another address: a laptop on the road). The key is the room's, and
  // only while the host keeps it and its password.
  void deviceKeyGetsPastTheDailyLock_data() {
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<QString>("shows");  // the key the device shows
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("its key") << "" << "its" << kRightHash << "approved";
    QTest::newRow("its key, wrong password") << "" << "its" << kWrongHash << "denied";
    QTest::newRow("no key") << "" << "none" << kRightHash << "locked";
    QTest::newRow("key in capitals") << "" << "capitals" << kRightHash << "locked";
    QTest::newRow("key not a string") << "" << "number" << kRightHash << "locked";
    QTest::newRow("another room's key") << "" << "other room's" << kRightHash << "locked";
    QTest::newRow("host forgot the devices") << "forget" << "its" << kRightHash << "locked";
    QTest::newRow("host set a new password") << "new password" << "its" << kOtherHash << "locked";
    QTest::newRow("host came back, same password") << "same password" << "its" << kRightHash << "approved";
  }
  void deviceKeyGetsPastTheDailyLock() {
    QFETCH(QString, meanwhile);
    QFETCH(QString, shows);
    QFETCH(QString, password);
    QFETCH(QString, outcome);
    ServerLimits limits;
    limits.maxFailuresPerRoomPerDay = 5;
    limits.freeFailuresPerAddress = 100;
    limits.freeFailuresPerRoomAddress = 100;
    Bench b(limits);
    const QString host = b.connect();
    b.frame(host, create("123456789", kOwnerKey, kRightHash));
    const QString otherHost = b.connect("10.0.0.5");
    b.frame(otherHost, create("555555555", kOtherKey, kRightHash));
    auto admitted = [&](const QString& room) {
      const QString device = b.connect("10.0.0.2");
      b.frame(device, join(room, kRightHash));
      const auto approved = b.output.ofType(device, "approved");
      b.rooms.disconnected(device, 1000);
      return approved.isEmpty() ? QString() : approved.first().value("deviceKey").toString();
    };
    const QString key = admitted("123456789");
    const QString otherRoomKey = admitted("555555555");
    QVERIFY(isOwnerKey(key) && isOwnerKey(otherRoomKey) && key != otherRoomKey);

    for (int i = 0; i < 5; ++i) b.frame(b.connect(QString("10.6.6.%1").arg(i)), join("123456789", kWrongHash));
    const QString stranger = b.connect("10.0.0.3");
    b.frame(stranger, join("123456789", kRightHash));
    QVERIFY(b.output.ofType(stranger, "unattended-denied").value(0).value("locked").toBool());

    if (meanwhile == "forget") {
      b.frame(host, {{"type", "forget-devices"}});
      QCOMPARE(b.count(host, "devices-forgotten"), 1);
    } else if (!meanwhile.isEmpty()) {
      const QString back = b.connect();
      b.frame(back, create("123456789", kOwnerKey, meanwhile == "new password" ? kOtherHash : kRightHash));
      QCOMPARE(b.count(back, "created"), 1);
    }
    const QJsonValue shown = shows == "its"            ? QJsonValue(key)
                             : shows == "capitals"     ? QJsonValue(key.toUpper())
                             : shows == "number"       ? QJsonValue(42)
                             : shows == "other room's" ? QJsonValue(otherRoomKey)
                                                       : QJsonValue(QJsonValue::Undefined);
    const QString laptop = b.connect("192.0.2.80");
    b.frame(laptop, joinWithKey("123456789", password, shown));
    const auto denied = b.output.ofType(laptop, "unattended-denied");
    if (outcome == "approved") {
      const QString renewed = b.output.ofType(laptop, "approved").value(0).value("deviceKey").toString();
      QVERIFY(isOwnerKey(renewed));
      QVERIFY(renewed != key);
    } else {
      QCOMPARE(denied.size(), 1);
      QCOMPARE(denied.first().value("locked").toBool(), outcome == "locked");
      QCOMPARE(b.count(laptop, "approved"), 0);
    }
  }

  // Each admission gives the client a new key in place of the one it showed;
  // a room keeps its newest devices only.
  void deviceKeysAreReplacedAndBounded() {
    ServerLimits limits;
    limits.maxFailuresPerRoomPerDay = 1;
    limits.maxDevicesPerRoom = 2;
    Bench b(limits);
    const QString host = b.connect();
    b.frame(host, create("123456789", kOwnerKey, kRightHash));
    // Admitted once each: the host approves the first, the others know the password.
    QStringList keys;
    for (int i = 0; i < 3; ++i) {
      const QString device = b.connect(QString("10.0.1.%1").arg(i));
      b.frame(device, join("123456789", i == 0 ? QJsonValue::Undefined : QJsonValue(kRightHash)));
      if (i == 0) b.frame(host, {{"type", "approve"}, {"target", device}});
      keys << b.output.ofType(device, "approved").value(0).value("deviceKey").toString();
      b.rooms.disconnected(device, 1000);
    }
    b.frame(b.connect("10.6.6.6"), join("123456789", kWrongHash));  // the day's budget is spent
    auto admits = [&](const QString& key) {
      const QString device = b.connect("192.0.2.80");
      b.frame(device, joinWithKey("123456789", kRightHash, key));
      const QString renewed = b.output.ofType(device, "approved").value(0).value("deviceKey").toString();
      b.rooms.disconnected(device, 1000);
      return renewed;
    };
    QVERIFY(admits(keys[0]).isEmpty());  // the oldest of three went
    const QString renewed = admits(keys[2]);
    QVERIFY(isOwnerKey(renewed));
    QVERIFY(admits(keys[2]).isEmpty());  // replaced by the one it was given
    QVERIFY(!admits(renewed).isEmpty());
    QVERIFY(!admits(keys[1]).isEmpty());
  }

  // The store answers a device lookup later; whatever happened meanwhile,
  // the answer reaches only a connection still waiting for it.
  void deviceAnswerComingLater_data() {
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<QString>("told");
    QTest::newRow("nothing") << "" << "approved";
    QTest::newRow("the device left") << "left" << "";
    QTest::newRow("it asked again") << "joined again" << "approved";
    QTest::newRow("the room closed") << "room closed" << "left";
    QTest::newRow("another got in") << "another admitted" << "room-busy";
  }
  void deviceAnswerComingLater() {
    QFETCH(QString, meanwhile);
    QFETCH(QString, told);
    ServerLimits limits;
    limits.maxFailuresPerRoomPerDay = 1;
    DeferredOwnerStore store;
    Bench b(limits, &store);
    const QString host = b.connect();
    b.frame(host, create("123456789", kOwnerKey, kRightHash));
    store.release();
    QCOMPARE(b.count(host, "created"), 1);
    const QString first = b.connect("10.0.0.2");
    b.frame(first, join("123456789", kRightHash));
    const QString key = b.output.ofType(first, "approved").value(0).value("deviceKey").toString();
    b.frame(host, {{"type", "kick"}, {"target", first}});
    b.frame(b.connect("10.6.6.6"), join("123456789", kWrongHash));

    const QString device = b.connect("192.0.2.80");
    b.frame(device, joinWithKey("123456789", kRightHash, key));
    QCOMPARE(store.waiting(), 1);
    QCOMPARE(b.count(device, "approved"), 0);
    QCOMPARE(b.count(device, "unattended-denied"), 0);
    if (meanwhile == "left") {
      b.rooms.disconnected(device, 1000);
    } else if (meanwhile == "joined again") {
      b.now += 2000;
      b.frame(device, joinWithKey("123456789", kRightHash, key));  // the first answer is for nobody now
    } else if (meanwhile == "room closed") {
      b.rooms.disconnected(host, 1000);
    } else if (meanwhile == "another admitted") {
      const QString other = b.connect("10.0.0.7");
      b.frame(other, join("123456789"));
      b.frame(host, {{"type", "approve"}, {"target", other}});
      QCOMPARE(b.count(other, "approved"), 1);
    }
    store.release();
    QStringList types;
    for (const auto& message : b.output.sent.value(device)) {
      const QString type = message.value("type").toString();
      if (type != "hello" && type != "joined" && type != "peer-joined") types << type;
    }
    QCOMPARE(types, told.isEmpty() ? QStringList() : QStringList{told});
    QCOMPARE(b.count(host, "peer-joined"), meanwhile == "another admitted" ? 2 : 1 + (told == "approved"));
  }

  // Only a room's host forgets its devices.
  void onlyTheHostForgetsDevices() {
    Bench b;
    const QString host = b.connect();
    b.frame(host, create("123456789", kOwnerKey, kRightHash));
    const QString client = b.connect("10.0.0.2");
    b.frame(client, join("123456789", kRightHash));
    QCOMPARE(b.count(client, "approved"), 1);
    b.frame(client, {{"type", "forget-devices"}});
    QCOMPARE(b.code(client), QString("no-room"));
    QCOMPARE(b.count(client, "devices-forgotten"), 0);
  }

  // A refused client cannot flood its host with requests; a join carrying
  // a picture past the bound goes on without it; a room takes a bounded
  // queue of requests.
  void joinsAreBounded() {
    ServerLimits limits;
    limits.maxPendingJoinsPerRoom = 3;
    limits.maxAvatarBytes = 1000;
    Bench b(limits);
    const QString host = b.connect();
    b.frame(host, create("123456789"));
    const QString pest = b.connect("10.6.6.6");
    for (int i = 0; i < 50; ++i) b.frame(pest, join("123456789"));
    QCOMPARE(b.count(host, "join-request"), 1);
    QCOMPARE(b.code(pest), QString("join-cooldown"));
    b.frame(host, {{"type", "reject"}, {"target", pest}});
    b.now += 1500;  // past the join cooldown, not the refusal's
    b.frame(pest, join("123456789"));
    QCOMPARE(b.count(host, "join-request"), 1);
    b.now += 5000;
    b.frame(pest, join("123456789"));
    QCOMPARE(b.count(host, "join-request"), 2);

    QJsonObject withPicture = join("123456789");
    withPicture.insert("avatar", QString(2000, 'A'));
    const QString big = b.connect("10.0.0.5");
    b.frame(big, withPicture);
    withPicture.insert("avatar", QString(500, 'A'));
    const QString small = b.connect("10.0.0.6");
    b.frame(small, withPicture);
    const auto requests = b.output.ofType(host, "join-request");
    QCOMPARE(requests.size(), 4);
    QVERIFY(!requests[2].contains("avatar"));
    QVERIFY(requests[3].contains("avatar"));

    const QString fourth = b.connect("10.0.0.7");
    b.frame(fourth, join("123456789"));
    QCOMPARE(b.count(fourth, "room-busy"), 1);
  }

  // Fresh connections knocking one after the other (each refused at once)
  // reach the host a bounded number of times a minute.
  void joinRequestsToAHostAreBounded() {
    ServerLimits limits;
    limits.maxJoinRequestsPerRoomPerMinute = 5;
    Bench b(limits);
    const QString host = b.connect();
    b.frame(host, create("123456789"));
    QStringList turnedAway;
    for (int i = 0; i < 20; ++i) {
      const QString knocker = b.connect(QString("10.1.0.%1").arg(i));
      b.frame(knocker, join("123456789"));
      if (b.count(knocker, "room-busy") > 0) turnedAway << knocker;
      b.frame(host, {{"type", "reject"}, {"target", knocker}});
    }
    QCOMPARE(b.count(host, "join-request"), 5);
    QCOMPARE(turnedAway.size(), 15);
    b.now += 61'000;
    const QString later = b.connect("10.2.0.1");
    b.frame(later, join("123456789"));
    QCOMPARE(b.count(host, "join-request"), 6);
  }

  // One address asks for a bounded number of distinct rooms a minute.
  void enumerationIsBounded() {
    ServerLimits limits;
    limits.maxRoomIdsPerAddressPerMinute = 10;
    limits.joinCooldownMs = 1;
    Bench b(limits);
    const QString prober = b.connect("10.6.6.6");
    for (int i = 0; i < 10; ++i) {
      b.now += 2;
      b.frame(prober, join(QString::number(100000000 + i)));
    }
    QCOMPARE(b.count(prober, "room-not-found"), 10);
    b.now += 2;
    b.frame(prober, join("200000000"));
    QCOMPARE(b.code(prober), QString("too-many-rooms"));
    QCOMPARE(b.count(prober, "room-not-found"), 10);
    b.now += 61'000;
    b.frame(prober, join("200000000"));
    QCOMPARE(b.count(prober, "room-not-found"), 11);
  }
};

// The back-off tables stay within their bound and forget idle keys on expiry.
class BackoffTableTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void tableIsBoundedAndExpires() {
    qint64 now = 0;
    PasswordBackoff::Policy policy;
    policy.maxEntries = 100;
    policy.forgetAfterMs = 1000;
    PasswordBackoff backoff(policy, [&now] { return now; });
    for (int i = 0; i < 10'000; ++i) backoff.recordFailure(QString("10.0.%1.%2").arg(i / 256).arg(i % 256));
    QCOMPARE(backoff.trackedKeys(), 100);
    now += 500;
    backoff.expire();
    QCOMPARE(backoff.trackedKeys(), 100);
    now += 600;
    backoff.expire();
    QCOMPARE(backoff.trackedKeys(), 0);
  }
  void lockKeepsItsKeyPastTheIdleTime() {
    qint64 now = 0;
    PasswordBackoff::Policy policy;
    policy.freeFailures = 0;
    policy.firstLockMs = 5000;
    policy.forgetAfterMs = 1000;
    PasswordBackoff backoff(policy, [&now] { return now; });
    QCOMPARE(backoff.recordFailure("a"), 5000);
    now += 2000;
    backoff.expire();
    QCOMPARE(backoff.retryAfterMs("a"), 3000);
  }
};

// Room owners and devices kept in the SQLite file outlive the server; a
// claim nobody renewed, or a device not admitted again, for the store's
// lifetime is forgotten. The file is worked on by a thread of its own.
class OwnerFileTest : public QObject {
  Q_OBJECT
  // The store's answer, waited for; "no answer" when none came on this thread.
  template <typename Answer, typename Ask>
  static QString answer(Ask ask, const std::function<QString(Answer)>& name) {
    std::optional<QString> result;
    const QThread* asking = QThread::currentThread();
    ask([&](Answer a) { result = QThread::currentThread() == asking ? name(a) : QString("on another thread"); });
    std::ignore = QTest::qWaitFor([&] { return result.has_value(); }, 10000);
    return result.value_or("no answer");
  }
  static QString claim(OwnerStore& store, const QString& room, const QString& key) {
    const QString digest = key.isEmpty() ? QString() : ownerDigest(key);
    return answer<Claim>([&](auto done) { store.claim(room, digest, done); }, [](Claim c) {
      switch (c) {
        case Claim::Owner: return QString("owner");
        case Claim::NewOwner: return QString("new owner");
        case Claim::Unclaimed: return QString("unclaimed");
        case Claim::Refused: return QString("refused");
      }
      return QString();
    });
  }
  static QString device(OwnerStore& store, const QString& room, const QString& key, const QString& hash) {
    return answer<bool>([&](auto done) { store.isDevice(room, ownerDigest(key), unattendedDigest(hash), done); },
                        [](bool known) { return QString(known ? "known" : "unknown"); });
  }
  // Runs SQL on the file beside the store.
  static bool alter(const QString& path, const QString& statement) {
    bool done = false;
    {
      QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "beside");
      db.setDatabaseName(path);
      done = db.open() && QSqlQuery(db).exec(statement);
      db.close();
    }
    QSqlDatabase::removeDatabase("beside");
    return done;
  }
 private Q_SLOTS:
  void claimsOutliveTheServerUntilTheyLapse() {
    QTemporaryDir dir;
    const QString path = dir.filePath("owners.sqlite");
    {
      SqliteOwnerStore store(path, 30);
      QVERIFY(store.error().isEmpty());
      QCOMPARE(claim(store, "123456789", kOwnerKey), QString("new owner"));
    }
    {
      SqliteOwnerStore store(path, 30);
      QCOMPARE(claim(store, "123456789", QString()), QString("refused"));
      QCOMPARE(claim(store, "123456789", kOtherKey), QString("refused"));
      QCOMPARE(claim(store, "123456789", kOwnerKey), QString("owner"));
      QCOMPARE(claim(store, "987654321", QString()), QString("unclaimed"));
    }
    // 31 days without the owner.
    QVERIFY(alter(path, QString("UPDATE owners SET renewed = renewed - %1").arg(31 * 24 * 3600)));
    SqliteOwnerStore store(path, 30);
    QCOMPARE(claim(store, "123456789", kOtherKey), QString("new owner"));
  }
  void unwritablePathIsReported() {
    SqliteOwnerStore store("/nonexistent/dir/owners.sqlite", 30);
    QVERIFY(!store.error().isEmpty());
  }

  // A store whose queries fail gives nobody the room, not even its owner,
  // and knows no device.
  void failingQueriesRefuse_data() {
    const QString noWrites =
        "CREATE TRIGGER no_writes BEFORE INSERT ON owners BEGIN SELECT RAISE(ABORT, 'refused'); END";
    QTest::addColumn<QString>("breakage");
    QTest::addColumn<QString>("key");
    QTest::newRow("table gone, a key") << "DROP TABLE owners" << kOtherKey;
    QTest::newRow("table gone, no key") << "DROP TABLE owners" << QString();
    QTest::newRow("writes refused, a new owner") << noWrites << kOtherKey;
    QTest::newRow("writes refused, the owner renewing") << noWrites << kOwnerKey;
  }
  void failingQueriesRefuse() {
    QFETCH(QString, breakage);
    QFETCH(QString, key);
    QTemporaryDir dir;
    const QString path = dir.filePath("owners.sqlite");
    SqliteOwnerStore store(path, 30);
    QCOMPARE(claim(store, "123456789", kOwnerKey), QString("new owner"));
    store.addDevice("123456789", ownerDigest(kOwnerKey), unattendedDigest(kRightHash), {}, 32);
    QCOMPARE(device(store, "123456789", kOwnerKey, kRightHash), QString("known"));
    QVERIFY(alter(path, breakage));
    QCOMPARE(claim(store, "123456789", key), QString("refused"));
    QCOMPARE(claim(store, "555555555", key), QString("refused"));
    QVERIFY(alter(path, "DROP TABLE devices"));
    QCOMPARE(device(store, "123456789", kOwnerKey, kRightHash), QString("unknown"));
  }

  // Devices: bound per room, given under a hash, lapsing, forgotten but for
  // those of a hash; and a new owner of a lapsed ID starts without any.
  void devicesOfARoom() {
    QTemporaryDir dir;
    const QString path = dir.filePath("owners.sqlite");
    const QString keys[] = {QString(64, 'c'), QString(64, 'd'), QString(64, 'e'), QString(64, 'f')};
    {
      SqliteOwnerStore store(path, 30);
      QCOMPARE(claim(store, "123456789", kOwnerKey), QString("new owner"));
      for (const QString& key : {keys[0], keys[1], keys[2]}) {
        store.addDevice("123456789", ownerDigest(key), unattendedDigest(kRightHash), {}, 2);
      }
      store.addDevice("555555555", ownerDigest(keys[3]), unattendedDigest(kRightHash), {}, 2);
    }
    SqliteOwnerStore store(path, 30);
    QCOMPARE(device(store, "123456789", keys[0], kRightHash), QString("unknown"));  // the oldest of three
    QCOMPARE(device(store, "123456789", keys[1], kRightHash), QString("known"));
    QCOMPARE(device(store, "123456789", keys[1], kWrongHash), QString("unknown"));
    QCOMPARE(device(store, "123456789", keys[3], kRightHash), QString("unknown"));  // another room's
    // keys[1] replaced by keys[0]; then another password's device comes.
    store.addDevice("123456789", ownerDigest(keys[0]), unattendedDigest(kRightHash), ownerDigest(keys[1]), 2);
    store.addDevice("123456789", ownerDigest(keys[3]), unattendedDigest(kWrongHash), {}, 8);
    QCOMPARE(device(store, "123456789", keys[1], kRightHash), QString("unknown"));
    QCOMPARE(device(store, "123456789", keys[2], kRightHash), QString("known"));
    const QString forgotten = answer<bool>(
        [&](auto done) { store.forgetDevices("123456789", unattendedDigest(kWrongHash), done); },
        [](bool done) { return QString(done ? "done" : "failed"); });
    QCOMPARE(forgotten, QString("done"));
    QCOMPARE(device(store, "123456789", keys[0], kRightHash), QString("unknown"));
    QCOMPARE(device(store, "123456789", keys[2], kRightHash), QString("unknown"));
    QCOMPARE(device(store, "123456789", keys[3], kWrongHash), QString("known"));
    QCOMPARE(device(store, "555555555", keys[3], kRightHash), QString("known"));

    QVERIFY(alter(path, QString("UPDATE devices SET issued = issued - %1 WHERE room = '555555555'").arg(31 * 24 * 3600)));
    QCOMPARE(device(store, "555555555", keys[3], kRightHash), QString("unknown"));
    QVERIFY(alter(path, QString("UPDATE owners SET renewed = renewed - %1").arg(31 * 24 * 3600)));
    QCOMPARE(claim(store, "123456789", kOtherKey), QString("new owner"));
    QCOMPARE(device(store, "123456789", keys[3], kWrongHash), QString("unknown"));
  }

  // An answer the store has not given when it goes is never given.
  void noAnswerAfterTheStoreIsGone() {
    QTemporaryDir dir;
    bool answered = false;
    {
      SqliteOwnerStore store(dir.filePath("owners.sqlite"), 30);
      store.claim("123456789", ownerDigest(kOwnerKey), [&](Claim) { answered = true; });
      store.isDevice("123456789", ownerDigest(kOwnerKey), {}, [&](bool) { answered = true; });
    }
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QVERIFY(!answered);
  }
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int failures = 0;
  {
    RoomsTest rooms;
    failures += QTest::qExec(&rooms, argc, argv);
  }
  {
    OwnerFileTest owners;
    failures += QTest::qExec(&owners, argc, argv);
  }
  {
    BackoffTableTest tables;
    failures += QTest::qExec(&tables, argc, argv);
  }
  return failures;
}

#include "rooms_test.moc"
