#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "store/fake_secret_store.h"
#include "store/file_secret_store.h"
#include "store/linux/secret_store_libsecret.h"
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
    QCOMPARE(QFile(path).size() > 0, true);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count("\"account\":\"acct\""), 1);

    reopened.remove("svc", "acct");
    QVERIFY(!reopened.read("svc", "acct").data);
    QCOMPARE(reopened.read("svc", "other").data.value_or(""), QByteArray("x"));
  }

  void fileStoreSurvivesACorruptFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("secrets.json");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{not json");
    file.close();
    FileSecretStore store(path);
    QVERIFY(store.read("svc", "acct").error == KeychainError::noData());
    QVERIFY(!store.save("svc", "acct", "pw"));
    QCOMPARE(store.read("svc", "acct").data.value_or(""), QByteArray("pw"));
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
