// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "store/address_book_store.h"

using namespace lunor;

namespace {

QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

QString bookPath(const QTemporaryDir& dir) { return dir.filePath("LunorRemote/addressbook.v1.json"); }

}  // namespace

class AddressBookStoreTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void firstAndLaterSuccesses() {
    QTemporaryDir dir;
    AddressBookStore book(dir.path());
    QVERIFY(book.connections().empty());
    book.recordSuccess("123456789", QString());
    const QJsonObject entry =
        QJsonDocument::fromJson(readFile(bookPath(dir))).object()["connections"].toArray()[0].toObject();
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

    AddressBookStore reloaded(dir.path());
    QCOMPARE(reloaded.connections(), book.connections());
    QCOMPARE(reloaded.folders(), book.folders());
  }

  // The signaling server's key for this machine at a host: kept with the
  // host's entry only, in a file only its owner reads; a bad one in the
  // file is forgotten, not a reason to drop the book.
  void deviceKeysLiveWithTheirEntry() {
    QTemporaryDir dir;
    const QString key(64, 'd');
    AddressBookStore book(dir.path());
    book.setDeviceKey("123456789", key);
    QVERIFY(book.deviceKey("123456789").isEmpty());  // no entry yet
    book.recordSuccess("123456789", QString());
    book.setDeviceKey("123456789", key);
    book.setDeviceKey("123456789", "not a key");
    QCOMPARE(book.deviceKey("123456789"), key);
    QCOMPARE(AddressBookStore(dir.path()).deviceKey("123456789"), key);
    QCOMPARE(int(QFileInfo(bookPath(dir)).permissions() & 0x0077), 0);  // nothing for group or others

    QByteArray bytes = readFile(bookPath(dir));
    bytes.replace(key.toLatin1(), "ZZ");
    writeFile(bookPath(dir), bytes);
    AddressBookStore reloaded(dir.path());
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
    QTemporaryDir dir;
    writeFile(bookPath(dir), content);
    writeFile(bookPath(dir) + ".bad", "an older casualty");
    AddressBookStore book(dir.path());
    QVERIFY(book.connections().empty());
    QCOMPARE(readFile(bookPath(dir)), content);  // untouched until a change
    book.recordSuccess("123456789", QString());
    QCOMPARE(readFile(bookPath(dir) + ".bad.1"), content);
    QCOMPARE(readFile(bookPath(dir) + ".bad"), QByteArray("an older casualty"));
    QVERIFY(decodeAddressBook(readFile(bookPath(dir))).has_value());
    book.recordSuccess("123456789", QString());
    QVERIFY(!QFile::exists(bookPath(dir) + ".bad.2"));  // kept aside once
  }

  void foldersAndOrdering() {
    QTemporaryDir dir;
    // Equal times keep their stored order; lower-case UUIDs are read.
    writeFile(bookPath(dir), R"({"connections":[
      {"sessionId":"a","firstSeenAt":1,"lastConnectedAt":100.25,"successCount":1},
      {"sessionId":"b","firstSeenAt":1,"lastConnectedAt":300.5,"successCount":1,"folderId":"0f8fad5b-d9cb-469f-a165-70867728950e"},
      {"sessionId":"c","firstSeenAt":1,"lastConnectedAt":100.25,"successCount":1},
      {"sessionId":"d","firstSeenAt":1,"lastConnectedAt":200.125,"successCount":1}],
      "folders":[{"id":"0f8fad5b-d9cb-469f-a165-70867728950e","name":"Bureau","createdAt":725760000.5}]})");
    AddressBookStore book(dir.path());
    QCOMPARE(book.connections().size(), size_t(4));
    QStringList outside;
    for (const auto& c : book.connections(std::nullopt)) outside << c.sessionId;
    QCOMPARE(outside, (QStringList{"d", "a", "c"}));
    const QUuid folder = book.folders().front().id;
    QCOMPARE(book.connections(folder).size(), size_t(1));

    book.deleteFolder(folder);
    QVERIFY(book.folders().empty());
    QCOMPARE(book.connections().size(), size_t(4));
    QCOMPARE(book.connections(std::nullopt).size(), size_t(4));

    // Fractions survive, UUIDs are written in upper case.
    const QByteArray saved = readFile(bookPath(dir));
    QVERIFY(saved.contains("100.25") && saved.contains("200.125"));
    book.addFolder("Maison");
    const QString id = QJsonDocument::fromJson(readFile(bookPath(dir))).object()["folders"][0]["id"].toString();
    QCOMPARE(id, id.toUpper());
    QCOMPARE(fromReferenceSeconds(725760000), QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC));
  }

  void missingEntriesChangeNothing() {
    QTemporaryDir dir;
    AddressBookStore book(dir.path());
    book.rename("nobody", "x");
    book.move("nobody", QUuid::createUuid());
    book.renameFolder(QUuid::createUuid(), "x");
    QVERIFY(!QFile::exists(bookPath(dir)));
  }
};

QTEST_GUILESS_MAIN(AddressBookStoreTest)
#include "address_book_store_test.moc"
