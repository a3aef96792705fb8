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

// Room owners kept in the SQLite file outlive the server; a claim nobody
// renewed for the store's lifetime is forgotten.
class OwnerFileTest : public QObject {
  Q_OBJECT
  static Claim claim(OwnerStore& store, const QString& room, const QString& key) {
    std::optional<Claim> result;
    store.claim(room, key.isEmpty() ? QString() : ownerDigest(key), [&](Claim c) { result = c; });
    return result.value_or(Claim::Refused);
  }
 private Q_SLOTS:
  void claimsOutliveTheServerUntilTheyLapse() {
    QTemporaryDir dir;
    const QString path = dir.filePath("owners.sqlite");
    {
      SqliteOwnerStore store(path, 30);
      QVERIFY(store.error().isEmpty());
      QCOMPARE(claim(store, "123456789", kOwnerKey), Claim::NewOwner);
    }
    {
      SqliteOwnerStore store(path, 30);
      QCOMPARE(claim(store, "123456789", QString()), Claim::Refused);
      QCOMPARE(claim(store, "123456789", kOtherKey), Claim::Refused);
      QCOMPARE(claim(store, "123456789", kOwnerKey), Claim::Owner);
      QCOMPARE(claim(store, "987654321", QString()), Claim::Unclaimed);
    }
    {
      // 31 days without the owner.
      QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "aging");
      db.setDatabaseName(path);
      QVERIFY(db.open());
      QSqlQuery age(db);
      QVERIFY(age.exec(QString("UPDATE owners SET renewed = renewed - %1").arg(31 * 24 * 3600)));
      db.close();
    }
    QSqlDatabase::removeDatabase("aging");
    SqliteOwnerStore store(path, 30);
    QCOMPARE(claim(store, "123456789", kOtherKey), Claim::NewOwner);
  }
  void unwritablePathIsReported() {
    SqliteOwnerStore store("/nonexistent/dir/owners.sqlite", 30);
    QVERIFY(!store.error().isEmpty());
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
