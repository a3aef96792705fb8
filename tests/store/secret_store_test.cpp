// SPDX-License-Identifier: GPL-3.0-or-later
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include "store/fake_secret_store.h"
#include "store/file_secret_store.h"
#include "store/linux/secret_store_libsecret.h"
#include "protocol/wire_text.h"
#include "store/owner_key.h"
#include "store/unattended_password.h"

using namespace lunor;

namespace {

int modeOf(const QString& path) {
  struct stat info {};
  if (::stat(QFile::encodeName(path).constData(), &info) != 0) return -1;
  return static_cast<int>(info.st_mode & 0777);
}

}  // namespace

class SecretStoreTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void fileStoreKeepsOnePrivateItemPerPair() {
    QTemporaryDir dir;
    const QString path = dir.filePath("LunorRemote/secrets.json");
    FileSecretStore store(path);
    QVERIFY(store.read("svc", "acct").error == KeychainError::noData());
    store.remove("svc", "acct");  // nothing there: silent

    QVERIFY(!store.save("svc", "acct", "first"));
    QVERIFY(!store.save("svc", "acct", "second"));
    QVERIFY(!store.save("svc", "other", "x"));
    QCOMPARE(modeOf(path), 0600);
    QCOMPARE(modeOf(dir.filePath("LunorRemote")), 0700);

    FileSecretStore reopened(path);
    QCOMPARE(reopened.read("svc", "acct").data.value_or(""), QByteArray("second"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count("\"account\":\"acct\""), 1);

    reopened.remove("svc", "acct");
    QVERIFY(!reopened.read("svc", "acct").data);
    QCOMPARE(reopened.read("svc", "other").data.value_or(""), QByteArray("x"));
  }

  void fallbackUsesTheFileOnlyWithoutTheService_data() {
    QTest::addColumn<bool>("serviceAnswers");
    QTest::newRow("service answers") << true;
    QTest::newRow("no service") << false;
  }
  void fallbackUsesTheFileOnlyWithoutTheService() {
    QFETCH(bool, serviceAnswers);
    QTemporaryDir dir;
    FakeSecretStore service;
    if (!serviceAnswers) {
      service.failWith = KeychainError::unexpectedStatus(KeychainError::kStatusNotAvailable);
    }
    FileSecretStore file(dir.filePath("secrets.json"));
    FallbackSecretStore store(service, file);

    QVERIFY(!store.save("svc", "acct", "pw"));
    QCOMPARE(store.read("svc", "acct").data.value_or(""), QByteArray("pw"));
    QCOMPARE(service.items.size(), serviceAnswers ? 1 : 0);
    QCOMPARE(file.read("svc", "acct").data.has_value(), !serviceAnswers);

    store.remove("svc", "acct");
    QVERIFY(!store.read("svc", "acct").data);
  }

  // What reads say when nothing is found: "absent" only when the store
  // really has nothing, so that the owner key is never replaced after a
  // failed read.
  void fallbackTellsAbsentFromUnreadable_data() {
    QTest::addColumn<int>("service");  // the service's read error: 0 none (it answers), else a status
    QTest::addColumn<bool>("fileHasIt");
    QTest::addColumn<bool>("absent");
    const int noService = KeychainError::kStatusNotAvailable;
    const int locked = KeychainError::kStatusFailed;
    QTest::newRow("service answers, nothing anywhere") << 0 << false << true;
    QTest::newRow("no service, nothing in the file") << noService << false << true;
    QTest::newRow("no service, in the file") << noService << true << false;
    QTest::newRow("locked service, nothing in the file") << locked << false << false;
    QTest::newRow("locked service, in the file") << locked << true << false;
  }
  void fallbackTellsAbsentFromUnreadable() {
    QFETCH(int, service);
    QFETCH(bool, fileHasIt);
    QFETCH(bool, absent);
    QTemporaryDir dir;
    FakeSecretStore primary;
    if (service != 0) primary.failReadsWith = KeychainError::unexpectedStatus(service);
    FileSecretStore file(dir.filePath("secrets.json"));
    if (fileHasIt) QVERIFY(!file.save("svc", "acct", "pw"));
    FallbackSecretStore store(primary, file);
    const auto read = store.read("svc", "acct");
    QCOMPARE(read.data.has_value(), fileHasIt);
    if (!fileHasIt) QCOMPARE(read.error == KeychainError::noData(), absent);
  }

  // A file that is not JSON holds nothing, and the next save replaces it;
  // one that cannot be read at all may hold anything: it is not "empty".
  void fileThatCannotBeRead_data() {
    QTest::addColumn<bool>("aFolder");  // a folder where the file should be
    QTest::newRow("not JSON") << false;
    QTest::newRow("a folder in its place") << true;
  }
  void fileThatCannotBeRead() {
    QFETCH(bool, aFolder);
    QTemporaryDir dir;
    const QString path = dir.filePath("secrets.json");
    if (aFolder) {
      QVERIFY(QDir().mkpath(path));
    } else {
      QFile file(path);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write("{not json");
    }
    FileSecretStore store(path);
    QVERIFY(store.read("svc", "acct").error ==
            (aFolder ? KeychainError::unexpectedStatus(KeychainError::kStatusFailed) : KeychainError::noData()));
    QCOMPARE(store.save("svc", "acct", "pw").has_value(), aFolder);
    QCOMPARE(store.read("svc", "acct").data.value_or(""), aFolder ? QByteArray() : QByteArray("pw"));
    QCOMPARE(QFileInfo(path).isDir(), aFolder);
  }

  void ownerKeyIsMadeOnlyWhenThereIsNone_data() {
    QTest::addColumn<QByteArray>("stored");  // null: nothing stored
    QTest::addColumn<bool>("readable");
    QTest::addColumn<bool>("newKey");    // a new key is made and saved
    QTest::addColumn<bool>("keyGiven");  // the caller gets a key
    const QByteArray key(64, 'c');
    QTest::newRow("none stored") << QByteArray() << true << true << true;
    QTest::newRow("stored") << key << true << false << true;
    QTest::newRow("stored, not a key") << QByteArray("garbage") << true << true << true;
    QTest::newRow("store locked") << key << false << false << false;
    QTest::newRow("store locked, maybe empty") << QByteArray() << false << false << false;
  }
  void ownerKeyIsMadeOnlyWhenThereIsNone() {
    QFETCH(QByteArray, stored);
    QFETCH(bool, readable);
    QFETCH(bool, newKey);
    QFETCH(bool, keyGiven);
    FakeSecretStore store;
    const QString item = FakeSecretStore::key(kOwnerKeyService, kOwnerKeyAccount);
    if (!stored.isNull()) store.items.insert(item, stored);
    if (!readable) store.failReadsWith = KeychainError::unexpectedStatus(KeychainError::kStatusFailed);
    const auto key = ownerKey(store);
    QCOMPARE(key.has_value(), keyGiven);
    if (key) QVERIFY(isHex64(*key));
    QCOMPARE(store.items.value(item) != stored, newKey);
    if (newKey) QCOMPARE(store.items.value(item), key->toLatin1());
  }

  void secretServiceWithoutABusAnswersAtOnce() {
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("XDG_RUNTIME_DIR", "/nonexistent");
    LibsecretSecretStore store;
    const auto read = store.read("svc", "acct");
    const auto saved = store.save("svc", "acct", "pw");
    if (!bus.isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    qputenv("XDG_RUNTIME_DIR", runtime);
    QVERIFY(!read.data);
    QVERIFY(read.error == KeychainError::unexpectedStatus(KeychainError::kStatusNotAvailable));
    QVERIFY(saved.has_value());
  }

  void unattendedPasswordRoundTrip() {
    FakeSecretStore store;
    QVERIFY(!loadUnattendedPassword(store));
    saveUnattendedPassword(store, " pässword ");
    saveUnattendedPassword(store, "second");
    QCOMPARE(store.items.size(), 1);
    QCOMPARE(loadUnattendedPassword(store).value_or(""), QString("second"));
    QCOMPARE(store.items.keys().first(),
             FakeSecretStore::key("LunorRemote.unattended", "unattended-password"));

    store.items[store.items.keys().first()] = QByteArray("\xff\xfe");
    QVERIFY(!loadUnattendedPassword(store));  // not UTF-8

    saveUnattendedPassword(store, "");  // empty removes
    QVERIFY(store.items.isEmpty());

    store.failWith = KeychainError::unexpectedStatus(-1);
    saveUnattendedPassword(store, "dropped");  // errors are swallowed
    QVERIFY(!loadUnattendedPassword(store));
  }
};

QTEST_GUILESS_MAIN(SecretStoreTest)
#include "secret_store_test.moc"
