// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QBuffer>
#include <QtTest>

#include "store/user_profile_store.h"

using namespace lunor;

namespace {

QImage picture(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32);
  image.fill(QColor(20, 120, 220));
  return image;
}

}  // namespace

class UserProfileStoreTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void decodesOnlyCompleteRecords_data() {
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
  void decodesOnlyCompleteRecords() {
    QFETCH(QByteArray, stored);
    QFETCH(bool, readable);
    QTemporaryDir dir;
    QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
    settings.setValue(UserProfileStore::kDefaultsKey, stored);
    UserProfileStore store(settings, dir.path());
    QCOMPARE(decodeProfile(stored).has_value(), readable);
    if (!readable) {
      QCOMPARE(store.profile(), UserProfile{});
      // The unreadable value stays until the next save replaces it.
      QCOMPARE(settings.value(UserProfileStore::kDefaultsKey).toByteArray(), stored);
    } else {
      QCOMPARE(encodeProfile(store.profile()), QJsonDocument::fromJson(stored).toJson(QJsonDocument::Compact));
    }
  }

  void savedRecordIsCompactJsonBytes() {
    QTemporaryDir dir;
    QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
    UserProfileStore store(settings, dir.path());
    store.setFirstName("Zoé");
    const QVariant stored = settings.value(UserProfileStore::kDefaultsKey);
    QCOMPARE(stored.typeId(), QMetaType::QByteArray);
    QCOMPARE(stored.toByteArray(), QByteArray(R"({"firstName":"Zoé","lastName":"","unattendedEnabled":false})"));
    // A later launch reads it back.
    UserProfileStore again(settings, dir.path());
    QCOMPARE(again.firstName(), QString("Zoé"));
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
    QFETCH(QString, expected);
    UserProfile profile;
    profile.firstName = first;
    profile.lastName = last;
    QCOMPARE(displayName(profile), expected);
  }

  void scalesForTheWire_data() {
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("sent");
    QTest::newRow("wide") << QSize(300, 150) << QSize(96, 48);
    QTest::newRow("tall") << QSize(150, 300) << QSize(48, 96);
    QTest::newRow("small is not enlarged") << QSize(50, 40) << QSize(50, 40);
    QTest::newRow("exactly 96") << QSize(96, 96) << QSize(96, 96);
    QTest::newRow("a sliver keeps a pixel") << QSize(2000, 1) << QSize(96, 1);
  }
  void scalesForTheWire() {
    QFETCH(QSize, source);
    QFETCH(QSize, sent);
    QTemporaryDir dir;
    QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
    UserProfileStore store(settings, dir.path());
    QVERIFY(store.chooseAvatar(picture(source.width(), source.height())));
    const auto wire = store.wireAvatar();
    QVERIFY(wire);
    QVERIFY(!wire->contains('\n'));
    const QImage decoded = decodeWireAvatar(*wire);
    QCOMPARE(decoded.size(), sent);
  }

  void picturesAccumulateAndRemovalKeepsTheFile() {
    QTemporaryDir dir;
    QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
    UserProfileStore store(settings, dir.path());
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

    store.removeAvatar();
    QVERIFY(!settings.value(UserProfileStore::kDefaultsKey).toByteArray().contains("avatarFilename"));
    QVERIFY(avatars.exists(second));
    QVERIFY(!store.wireAvatar());
  }

  void missingOrUnusablePicturesGiveNothing() {
    QTemporaryDir dir;
    QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
    UserProfileStore store(settings, dir.path());
    QVERIFY(!store.chooseAvatar(QImage()));
    QVERIFY(!store.hasAvatar());
    QVERIFY(store.chooseAvatar(picture(10, 10)));
    QFile::remove(QDir(store.avatarDirectory()).filePath(*store.profile().avatarFilename));
    QVERIFY(store.avatarImage().isNull());
    QVERIFY(!store.wireAvatar());
    QVERIFY(store.hasAvatar());  // the name is kept

  }

  // A peer's picture is read only as PNG or JPEG, within a size budget.
  void receivedPicturesAreReadWithinBounds_data() {
    QTest::addColumn<QString>("wire");
    QTest::addColumn<QSize>("size");  // empty: refused
    auto encoded = [](int w, int h, const char* format) {
      QImage image(w, h, QImage::Format_RGB32);
      image.fill(Qt::darkCyan);
      QByteArray bytes;
      QBuffer buffer(&bytes);
      buffer.open(QIODevice::WriteOnly);
      image.save(&buffer, format);
      return QString::fromLatin1(bytes.toBase64());
    };
    QTest::newRow("PNG") << encoded(96, 48, "PNG") << QSize(96, 48);
    QTest::newRow("JPEG") << encoded(64, 64, "JPEG") << QSize(64, 64);
    QTest::newRow("BMP") << encoded(8, 8, "BMP") << QSize();
    QTest::newRow("PNG too wide") << encoded(2048, 1, "PNG") << QSize();
    QTest::newRow("PNG too tall") << encoded(1, 2048, "PNG") << QSize();
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
};

QTEST_GUILESS_MAIN(UserProfileStoreTest)
#include "user_profile_store_test.moc"
