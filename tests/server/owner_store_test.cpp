// SPDX-License-Identifier: GPL-3.0-or-later
// Room owners and their devices in the SQLite file, which a thread of its own
// works on; what nobody renewed for the store's lifetime is forgotten.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "rooms_fixture.h"

using namespace lunor::test;

class OwnerStoreTest : public QObject {
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
    static const char* const names[] = {"owner", "new owner", "unclaimed", "refused"};  // in Claim's order
    return answer<Claim>([&](auto done) { store.claim(room, digest, done); },
                         [](Claim c) { return QString(names[static_cast<int>(c)]); });
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
  void constantTimeComparison() {
    const QString text(64, 'f');
    QVERIFY(constantTimeEquals(text.toLatin1(), text.toLatin1()));
    QVERIFY(!constantTimeEquals(text.toLatin1(), text.toLatin1() + "x"));
    QVERIFY(!constantTimeEquals(text.toLatin1(), QByteArray()));
  }

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

QTEST_GUILESS_MAIN(OwnerStoreTest)
#include "owner_store_test.moc"
