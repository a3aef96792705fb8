// SPDX-License-Identifier: GPL-3.0-or-later
// The web client's key table: made from the application's own, and the
// copy the build put in the web client's folder is that one.

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

#include "protocol/key_codes.h"
#include "web_key_table.h"

using namespace lunor;

class WebKeyTableTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void theBuildsCopyIsCurrent() {
    QFile built(QStringLiteral(LUNOR_WEB_DIR "/keys.js"));
    QVERIFY2(built.open(QIODevice::ReadOnly), qPrintable(built.fileName()));
    QCOMPARE(built.readAll(), signal::webKeyTableModule());
  }

  // Every key of the table once, under a name of its own, with its code.
  void everyKeyOnce() {
    const QString module = QString::fromUtf8(signal::webKeyTableModule());
    static const QRegularExpression entry(QStringLiteral("^  (\\w+): (\\d+),$"), QRegularExpression::MultilineOption);
    QHash<QString, int> byName;
    QSet<int> codes;
    for (auto it = entry.globalMatch(module); it.hasNext();) {
      const auto m = it.next();
      QVERIFY2(!byName.contains(m.captured(1)), qPrintable(m.captured(1)));
      byName.insert(m.captured(1), m.captured(2).toInt());
      codes.insert(m.captured(2).toInt());
    }
    const auto table = macKeyTable();
    QCOMPARE(byName.size(), qsizetype(table.size()));
    QCOMPARE(codes.size(), qsizetype(table.size()));
    for (const auto& [mac, key] : table) QCOMPARE(byName.value(QString::fromLatin1(key.domCode), -1), int(mac));
  }

  // The browser's names against the keys' places: a name on the wrong row
  // would type another key on the host.
  void namesMatchTheirKeys_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("evdev");
    QTest::newRow("A") << "KeyA" << 30;
    QTest::newRow("Z (QWERTY place)") << "KeyZ" << 44;
    QTest::newRow("5") << "Digit5" << 6;
    QTest::newRow("Enter") << "Enter" << 28;
    QTest::newRow("the ISO key") << "IntlBackslash" << 86;
    QTest::newRow("left command") << "MetaLeft" << 125;
    QTest::newRow("right option") << "AltRight" << 100;
    QTest::newRow("F13") << "F13" << 183;
    QTest::newRow("keypad 7") << "Numpad7" << 71;
    QTest::newRow("keypad enter") << "NumpadEnter" << 96;
    QTest::newRow("up") << "ArrowUp" << 103;
  }
  void namesMatchTheirKeys() {
    QFETCH(QString, code);
    QFETCH(int, evdev);
    const auto mac = macKeyForEvdev(uint16_t(evdev));
    QVERIFY(mac);
    QCOMPARE(QString::fromLatin1(macKeyToLinux(*mac)->domCode), code);
  }
};

QTEST_APPLESS_MAIN(WebKeyTableTest)
#include "web_key_table_test.moc"
