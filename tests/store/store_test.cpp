// SPDX-License-Identifier: GPL-3.0-or-later
// The address book, the profile and its pictures, the secrets and their file.

#include <sys/stat.h>

#include <QBuffer>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "protocol/wire_text.h"
#include "store/address_book_store.h"
#include "store/fake_secret_store.h"
#include "store/file_secret_store.h"
#include "store/linux/secret_store_libsecret.h"
#include "store/owner_key.h"
#include "store/unattended_password.h"
#include "store/user_profile_store.h"
#include "test_files.h"

using namespace lunor;
using test::readFile;
using test::writeFile;

namespace {

int modeOf(const QString& path) {
  struct stat info {};
  return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

QImage picture(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32);
  image.fill(QColor(20, 120, 220));
  return image;
}

// A picture as a peer sends it: its bytes in Base64.
QString wirePicture(int width, int height, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  picture(width, height).convertToFormat(QImage::Format_RGB32).save(&buffer, format);
  return QString::fromLatin1(bytes.toBase64());
}

}  // namespace

class StoreTest : public QObject {
  Q_OBJECT

  // Fresh for each test.
  std::unique_ptr<QTemporaryDir> dir;
  std::unique_ptr<QSettings> settings;

  QString bookPath() const { return dir->filePath("LunorRemote/addressbook.v1.json"); }

 private Q_SLOTS:
  void init() {
    dir = std::make_unique<QTemporaryDir>();
    settings = std::make_unique<QSettings>(dir->filePath("s.ini"), QSettings::IniFormat);
  }

  void bookKeepsFirstAndLaterSuccesses() {
    AddressBookStore book(dir->path());
    QVERIFY(book.connections().empty());
    book.recordSuccess("123456789", QString());
    const QJsonObject entry = QJsonDocument::fromJson(readFile(bookPath())).object()["connections"][0].toObject();
    QCOMPARE(entry["successCount"].toInt(), 1);
    QVERIFY(!entry.contains("name") && !entry.contains("folderId"));
    QCOMPARE(entry["firstSeenAt"].toDouble(), entry["lastConnectedAt"].toDouble());

    const QUuid folder = book.addFolder("Famille");
    book.rename("123456789", "Maman");
    book.move("123456789", folder);
    const ABConnection before = book.connections().front();
    QTest::qWait(20);
    book.recordSuccess("123456789", QString());
    const ABConnection after = book.connections().front();
    QCOMPARE(after.successCount, 2);
    QVERIFY(after.lastConnectedAt > before.lastConnectedAt);
    QCOMPARE(after.firstSeenAt, before.firstSeenAt);
    QCOMPARE(after.name, before.name);
    QCOMPARE(after.folderId, before.folderId);

    book.recordSuccess("ABC", QString());
    book.recordSuccess("abc", QString());
    QCOMPARE(book.connections().size(), size_t(3));  // case matters

    AddressBookStore reloaded(dir->path());
    QCOMPARE(reloaded.connections(), book.connections());
    QCOMPARE(reloaded.folders(), book.folders());

    // Changes to entries or folders that are not there write nothing.
    AddressBookStore empty(dir->filePath("other"));
    empty.rename("nobody", "x");
    empty.move("nobody", QUuid::createUuid());
    empty.renameFolder(QUuid::createUuid(), "x");
    QVERIFY(!QFile::exists(dir->filePath("other/LunorRemote/addressbook.v1.json")));
  }

  // The server's key for this machine at a host: kept with the host's entry
  // only, readable by its owner only; a bad one is forgotten, the book kept.
  void deviceKeysLiveWithTheirEntry() {
    const QString key(64, 'd');
    AddressBookStore book(dir->path());
    book.setDeviceKey("123456789", key);
    QVERIFY(book.deviceKey("123456789").isEmpty());  // no entry yet
    book.recordSuccess("123456789", QString());
    book.setDeviceKey("123456789", key);
    book.setDeviceKey("123456789", "not a key");
    QCOMPARE(book.deviceKey("123456789"), key);
    QCOMPARE(AddressBookStore(dir->path()).deviceKey("123456789"), key);
    QCOMPARE(modeOf(bookPath()) & 0077, 0);  // nothing for group or others

    QVERIFY(writeFile(bookPath(), readFile(bookPath()).replace(key.toLatin1(), "ZZ")));
    AddressBookStore reloaded(dir->path());
    QCOMPARE(reloaded.connections().size(), size_t(1));
    QVERIFY(reloaded.deviceKey("123456789").isEmpty());
  }

  void unreadableBooksAreKeptAside_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("no folders key") << QByteArray(R"({"connections":[]})");
    QTest::newRow("count not an integer")
        << QByteArray(R"({"connections":[{"sessionId":"1","firstSeenAt":1,"lastConnectedAt":1,"successCount":1.5}],"folders":[]})");
    QTest::newRow("name not a string")
        << QByteArray(R"({"connections":[{"sessionId":"1","name":3,"firstSeenAt":1,"lastConnectedAt":1,"successCount":1}],"folders":[]})");
    QTest::newRow("bad folder id")
        << QByteArray(R"({"connections":[],"folders":[{"id":"nope","name":"x","createdAt":1}]})");
    QTest::newRow("one corrupt byte") << QByteArray("{\"connections\":[],\"folders\":[]");
  }
  void unreadableBooksAreKeptAside() {
    QFETCH(QByteArray, content);
    QVERIFY(writeFile(bookPath(), content) && writeFile(bookPath() + ".bad", "an older casualty"));
    AddressBookStore book(dir->path());
    QVERIFY(book.connections().empty());
    QCOMPARE(readFile(bookPath()), content);  // untouched until a change
    book.recordSuccess("123456789", QString());
    QCOMPARE(readFile(bookPath() + ".bad.1"), content);
    QCOMPARE(readFile(bookPath() + ".bad"), QByteArray("an older casualty"));
    QVERIFY(decodeAddressBook(readFile(bookPath())).has_value());
    book.recordSuccess("123456789", QString());
    QVERIFY(!QFile::exists(bookPath() + ".bad.2"));  // kept aside once
  }

  void bookFoldersAndOrdering() {
    // Equal times keep their stored order; lower-case UUIDs are read.
    QVERIFY(writeFile(bookPath(), R"({"connections":[
      {"sessionId":"a","firstSeenAt":1,"lastConnectedAt":100.25,"successCount":1},
      {"sessionId":"b","firstSeenAt":1,"lastConnectedAt":300.5,"successCount":1,"folderId":"0f8fad5b-d9cb-469f-a165-70867728950e"},
      {"sessionId":"c","firstSeenAt":1,"lastConnectedAt":100.25,"successCount":1},
      {"sessionId":"d","firstSeenAt":1,"lastConnectedAt":200.125,"successCount":1}],
      "folders":[{"id":"0f8fad5b-d9cb-469f-a165-70867728950e","name":"Bureau","createdAt":725760000.5}]})"));
    AddressBookStore book(dir->path());
    QCOMPARE(book.connections().size(), size_t(4));
    QStringList outside;
    for (const auto& c : book.connections(std::nullopt)) outside << c.sessionId;
    QCOMPARE(outside, (QStringList{"d", "a", "c"}));
    const QUuid folder = book.folders().front().id;
    QCOMPARE(book.connections(folder).size(), size_t(1));

    book.deleteFolder(folder);
    QVERIFY(book.folders().empty());
    QCOMPARE(book.connections(std::nullopt).size(), size_t(4));

    // Fractions survive, UUIDs are written in upper case.
    const QByteArray saved = readFile(bookPath());
    QVERIFY(saved.contains("100.25") && saved.contains("200.125"));
    book.addFolder("Maison");
    const QString id = QJsonDocument::fromJson(readFile(bookPath())).object()["folders"][0]["id"].toString();
    QCOMPARE(id, id.toUpper());
    QCOMPARE(fromReferenceSeconds(725760000), QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC));
  }

  void profileDecodesOnlyCompleteRecords_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("readable");
    QTest::newRow("complete") << QByteArray(R"({"firstName":"Zoé","lastName":"Roy","unattendedEnabled":true})") << true;
    QTest::newRow("with picture") << QByteArray(R"({"firstName":"","lastName":"","avatarFilename":"avatar-0A1B2C3D.png","unattendedEnabled":false})") << true;
    QTest::newRow("no unattendedEnabled") << QByteArray(R"({"firstName":"Zoé","lastName":"Roy"})") << false;
    QTest::newRow("no lastName") << QByteArray(R"({"firstName":"Zoé","unattendedEnabled":false})") << false;
    QTest::newRow("number for a name") << QByteArray(R"({"firstName":1,"lastName":"Roy","unattendedEnabled":false})") << false;
    QTest::newRow("string for the switch") << QByteArray(R"({"firstName":"","lastName":"","unattendedEnabled":"true"})") << false;
    QTest::newRow("number for the picture") << QByteArray(R"({"firstName":"","lastName":"","avatarFilename":7,"unattendedEnabled":false})") << false;
    QTest::newRow("not JSON") << QByteArray("garbage") << false;
  }
  void profileDecodesOnlyCompleteRecords() {
    QFETCH(QByteArray, stored);
    QFETCH(bool, readable);
    settings->setValue(UserProfileStore::kDefaultsKey, stored);
    UserProfileStore store(*settings, dir->path());
    QCOMPARE(decodeProfile(stored).has_value(), readable);
    if (!readable) {
      QCOMPARE(store.profile(), UserProfile{});
      // The unreadable value stays until the next save replaces it.
      QCOMPARE(settings->value(UserProfileStore::kDefaultsKey).toByteArray(), stored);
    } else {
      QCOMPARE(encodeProfile(store.profile()), QJsonDocument::fromJson(stored).toJson(QJsonDocument::Compact));
    }
  }

  void profileIsSavedAsCompactJsonBytes() {
    UserProfileStore store(*settings, dir->path());
    store.setFirstName("Zoé");
    const QVariant stored = settings->value(UserProfileStore::kDefaultsKey);
    QCOMPARE(stored.typeId(), QMetaType::QByteArray);
    QCOMPARE(stored.toByteArray(), QByteArray(R"({"firstName":"Zoé","lastName":"","unattendedEnabled":false})"));
    QCOMPARE(UserProfileStore(*settings, dir->path()).firstName(), QString("Zoé"));  // a later launch
  }

  void displayNameTrimsHorizontalSpaceOnly_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("expected");
    QTest::newRow("both") << "Jean" << "Dupont" << "Jean Dupont";
    QTest::newRow("spaces around the first") << "  Zoé " << "" << "Zoé";
    QTest::newRow("only spaces") << "   " << " \t " << "";
    QTest::newRow("no-break spaces") << QString::fromUtf8("\u00a0Zoé\u2003") << "Roy" << "Zoé Roy";
    QTest::newRow("last only") << "" << " Roy" << "Roy";
    QTest::newRow("line break kept") << "Jean\n" << "" << "Jean\n";
  }
  void displayNameTrimsHorizontalSpaceOnly() {
    QFETCH(QString, first);
    QFETCH(QString, last);
    QTEST(displayName(UserProfile{.firstName = first, .lastName = last}), "expected");
  }

  void picturesAreScaledForTheWire_data() {
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("sent");
    QTest::newRow("wide") << QSize(300, 150) << QSize(96, 48);
    QTest::newRow("tall") << QSize(150, 300) << QSize(48, 96);
    QTest::newRow("small is not enlarged") << QSize(50, 40) << QSize(50, 40);
    QTest::newRow("exactly 96") << QSize(96, 96) << QSize(96, 96);
    QTest::newRow("a sliver keeps a pixel") << QSize(2000, 1) << QSize(96, 1);
  }
  void picturesAreScaledForTheWire() {
    QFETCH(QSize, source);
    UserProfileStore store(*settings, dir->path());
    QVERIFY(store.chooseAvatar(picture(source.width(), source.height())));
    const auto wire = store.wireAvatar();
    QVERIFY(wire);
    QVERIFY(!wire->contains('\n'));
    QTEST(decodeWireAvatar(*wire).size(), "sent");
  }

  // A new picture is a new file; removal keeps the file; a file gone is no picture.
  void picturesAccumulateAndRemovalKeepsTheFile() {
    UserProfileStore store(*settings, dir->path());
    QVERIFY(!store.chooseAvatar(QImage()));
    QVERIFY(!store.hasAvatar());
    QVERIFY(store.chooseAvatar(picture(10, 10)));
    const QString first = *store.profile().avatarFilename;
    QVERIFY(store.chooseAvatar(picture(20, 20)));
    const QString second = *store.profile().avatarFilename;
    QVERIFY(QRegularExpression("^avatar-[0-9A-F]{8}\\.png$").match(second).hasMatch());
    QVERIFY(first != second);
    const QDir avatars(store.avatarDirectory());
    QVERIFY(avatars.path().endsWith("/LunorRemote"));
    QVERIFY(avatars.exists(first) && avatars.exists(second));
    QCOMPARE(store.avatarImage().size(), QSize(20, 20));

    QFile::remove(avatars.filePath(second));
    QVERIFY(store.avatarImage().isNull());
    QVERIFY(!store.wireAvatar());
    QVERIFY(store.hasAvatar());
    QVERIFY(store.chooseAvatar(picture(30, 30)));
    const QString third = *store.profile().avatarFilename;
    store.removeAvatar();
    QVERIFY(!settings->value(UserProfileStore::kDefaultsKey).toByteArray().contains("avatarFilename"));
    QVERIFY(avatars.exists(third));
    QVERIFY(!store.wireAvatar());
  }

  // A peer's picture is read only as PNG or JPEG, within a size budget.
  void receivedPicturesAreReadWithinBounds_data() {
    QTest::addColumn<QString>("wire");
    QTest::addColumn<QSize>("size");  // empty: refused
    QTest::newRow("PNG") << wirePicture(96, 48, "PNG") << QSize(96, 48);
    QTest::newRow("JPEG") << wirePicture(64, 64, "JPEG") << QSize(64, 64);
    QTest::newRow("BMP") << wirePicture(8, 8, "BMP") << QSize();
    QTest::newRow("PNG too wide") << wirePicture(2048, 1, "PNG") << QSize();
    QTest::newRow("PNG too tall") << wirePicture(1, 2048, "PNG") << QSize();
    QTest::newRow("a PNG header on something else")
        << QString::fromLatin1(QByteArray("\x89PNG\r\n\x1a\n garbage").toBase64()) << QSize();
    QTest::newRow("too many bytes") << QString(400 * 1024, QLatin1Char('A')) << QSize();
    QTest::newRow("not base64") << "not base64 !!" << QSize();
    QTest::newRow("not an image") << QString::fromLatin1(QByteArray("not an image").toBase64()) << QSize();
    QTest::newRow("empty") << "" << QSize();
  }
  void receivedPicturesAreReadWithinBounds() {
    QFETCH(QString, wire);
    QFETCH(QSize, size);
    const QImage decoded = decodeWireAvatar(wire);
    QCOMPARE(decoded.isNull(), size.isEmpty());
    if (!size.isEmpty()) QCOMPARE(decoded.size(), size);
  }

  void fileStoreKeepsOnePrivateItemPerPair() {
    const QString path = dir->filePath("LunorRemote/secrets.json");
    FileSecretStore store(path);
    QVERIFY(store.read("svc", "acct").error == KeychainError::noData());
    store.remove("svc", "acct");  // nothing there: silent

    QVERIFY(!store.save("svc", "acct", "first"));
    QVERIFY(!store.save("svc", "acct", "second"));
    QVERIFY(!store.save("svc", "other", "x"));
    QCOMPARE(modeOf(path), 0600);
    QCOMPARE(modeOf(dir->filePath("LunorRemote")), 0700);

    FileSecretStore reopened(path);
    QCOMPARE(reopened.read("svc", "acct").data.value_or(""), QByteArray("second"));
    QCOMPARE(readFile(path).count("\"account\":\"acct\""), 1);
    reopened.remove("svc", "acct");
    QVERIFY(!reopened.read("svc", "acct").data);
    QCOMPARE(reopened.read("svc", "other").data.value_or(""), QByteArray("x"));
  }

  // "Absent" only when the store really has nothing (the owner key is never
  // replaced after a failed read); without the service, the file holds it.
  void fallbackStore_data() {
    QTest::addColumn<int>("service");  // 0: it answers; else its status, for every call ("gone") or reads ("locked")
    QTest::addColumn<bool>("locked");
    QTest::addColumn<bool>("fileHasIt");
    QTest::addColumn<bool>("absent");
    const int gone = KeychainError::kStatusNotAvailable, failed = KeychainError::kStatusFailed;
    QTest::newRow("service answers, nothing anywhere") << 0 << false << false << true;
    QTest::newRow("no service, nothing in the file") << gone << false << false << true;
    QTest::newRow("no service, in the file") << gone << false << true << false;
    QTest::newRow("no service for reads, in the file") << gone << true << true << false;
    QTest::newRow("locked service, nothing in the file") << failed << true << false << false;
    QTest::newRow("locked service, in the file") << failed << true << true << false;
  }
  void fallbackStore() {
    QFETCH(int, service);
    QFETCH(bool, locked);
    QFETCH(bool, fileHasIt);
    QFETCH(bool, absent);
    FakeSecretStore primary;
    if (service != 0) (locked ? primary.failReadsWith : primary.failWith) = KeychainError::unexpectedStatus(service);
    FileSecretStore file(dir->filePath("secrets.json"));
    if (fileHasIt) QVERIFY(!file.save("svc", "acct", "old"));
    FallbackSecretStore store(primary, file);
    const auto read = store.read("svc", "acct");
    QCOMPARE(read.data.has_value(), fileHasIt);
    if (!fileHasIt) QCOMPARE(read.error == KeychainError::noData(), absent);
    if (locked) return;
    QVERIFY(!store.save("svc", "acct", "pw"));
    QCOMPARE(store.read("svc", "acct").data.value_or(""), QByteArray("pw"));
    QCOMPARE(primary.items.size(), service == 0 ? 1 : 0);
    QCOMPARE(file.read("svc", "acct").data.has_value(), service != 0);
    store.remove("svc", "acct");
    QVERIFY(!store.read("svc", "acct").data);
  }

  // A file that is not JSON holds nothing (the next save replaces it); one
  // that cannot be read may hold anything: it is not "empty".
  void secretFileThatCannotBeRead_data() {
    QTest::addColumn<bool>("aFolder");  // a folder where the file should be
    QTest::newRow("not JSON") << false;
    QTest::newRow("a folder in its place") << true;
  }
  void secretFileThatCannotBeRead() {
    QFETCH(bool, aFolder);
    const QString path = dir->filePath("secrets.json");
    QVERIFY(aFolder ? QDir().mkpath(path) : writeFile(path, "{not json"));
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
    FakeSecretStore store;
    const QString item = FakeSecretStore::key(kOwnerKeyService, kOwnerKeyAccount);
    if (!stored.isNull()) store.items.insert(item, stored);
    if (!readable) store.failReadsWith = KeychainError::unexpectedStatus(KeychainError::kStatusFailed);
    const auto key = ownerKey(store);
    QTEST(key.has_value(), "keyGiven");
    if (key) QVERIFY(isHex64(*key));
    QCOMPARE(store.items.value(item) != stored, newKey);
    if (newKey) QCOMPARE(store.items.value(item), key->toLatin1());
  }

  void secretServiceWithoutABusAnswersAtOnce() {
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS"), runtime = qgetenv("XDG_RUNTIME_DIR");
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
    QCOMPARE(store.items.keys(), QStringList{FakeSecretStore::key("LunorRemote.unattended", "unattended-password")});
    QCOMPARE(loadUnattendedPassword(store).value_or(""), QString("second"));
    store.items[store.items.keys().first()] = QByteArray("\xff\xfe");
    QVERIFY(!loadUnattendedPassword(store));  // not UTF-8
    saveUnattendedPassword(store, "");  // empty removes
    QVERIFY(store.items.isEmpty());
    store.failWith = KeychainError::unexpectedStatus(-1);
    saveUnattendedPassword(store, "dropped");  // errors are swallowed
    QVERIFY(!loadUnattendedPassword(store));
  }
};

QTEST_GUILESS_MAIN(StoreTest)
#include "store_test.moc"
