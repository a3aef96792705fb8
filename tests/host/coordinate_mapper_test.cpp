// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include "console_capture.h"
#include "host/coordinate_mapper.h"
#include "host/display_list.h"
#include "protocol/key_codes.h"

using namespace lunor;

class CoordinateMapperTest : public QObject {
  Q_OBJECT

  //   (-1920,-1080) +--------+
  //                 |  3     |
  //                 +--------+ (0,0) +---------+----------+
  //                                  |  1      |  2       |
  //                                  +---------+ (1440)   +
  StaticDisplayList displays{{{1, 1440, 900, QRect(0, 0, 1440, 900)},
                              {2, 1920, 1080, QRect(1440, 0, 1920, 1080)},
                              {3, 1920, 1080, QRect(-1920, -1080, 1920, 1080)}}};

 private Q_SLOTS:
  void mapsOntoTheSharedDisplay_data() {
    QTest::addColumn<uint>("id");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<QPointF>("point");
    QTest::newRow("centre") << 1u << 0.5 << 0.5 << QPointF(720, 450);
    QTest::newRow("origin") << 1u << 0.0 << 0.0 << QPointF(0, 0);
    QTest::newRow("far corner, one past") << 1u << 1.0 << 1.0 << QPointF(1440, 900);
    QTest::newRow("second display") << 2u << 0.25 << 0.5 << QPointF(1920, 540);
    QTest::newRow("above-left display") << 3u << 0.0 << 0.0 << QPointF(-1920, -1080);
    QTest::newRow("clamped") << 1u << -0.2 << 1.7 << QPointF(0, 900);
    QTest::newRow("NaN counts as 1") << 1u << std::nan("") << 0.0 << QPointF(1440, 0);
    QTest::newRow("unknown display") << 9u << 0.5 << 0.5 << QPointF(0, 0);
  }
  void mapsOntoTheSharedDisplay() {
    QFETCH(uint, id);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(QPointF, point);
    QCOMPARE(CoordinateMapper(displays).hostPoint(id, x, y), point);
  }

  // Where the pointer goes: a whole pixel on the shared display, never the
  // first column of its neighbour.
  void pointsLandOnAPixelOfTheSharedDisplay_data() {
    QTest::addColumn<uint>("id");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<QPoint>("pixel");
    QTest::newRow("centre") << 1u << 0.5 << 0.5 << QPoint(720, 450);
    QTest::newRow("right edge stays on display 1") << 1u << 1.0 << 1.0 << QPoint(1439, 899);
    QTest::newRow("rounded down") << 2u << 0.5004 << 0.0 << QPoint(2400, 0);
    QTest::newRow("above-left display, far corner") << 3u << 1.0 << 1.0 << QPoint(-1, -1);
    QTest::newRow("infinite counts as the edge") << 1u << qInf() << -qInf() << QPoint(1439, 0);
    QTest::newRow("unknown display") << 9u << 0.5 << 0.5 << QPoint(0, 0);
  }
  void pointsLandOnAPixelOfTheSharedDisplay() {
    QFETCH(uint, id);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(QPoint, pixel);
    QCOMPARE(CoordinateMapper(displays).hostPixel(id, x, y), pixel);
  }

  // Each mapping is logged, at debug level only.
  void logsTheMappingWhenAskedTo() {
    QLoggingCategory::setFilterRules("lunor.coordmapper.debug=true");
    test::ConsoleCapture console;
    CoordinateMapper::map(5, QRectF(0, 0, 1440, 900), -0.2, 1.7);
    QLoggingCategory::setFilterRules("lunor.coordmapper.debug=false");
    QCOMPARE(console.lines().value(1), QString("   displayID=5"));
    QCOMPARE(console.lines().last(), QString("   → point=(0.0, 900.0)"));
    test::ConsoleCapture quiet;
    CoordinateMapper::map(5, QRectF(0, 0, 1440, 900), 0.5, 0.5);
    QVERIFY(quiet.lines().isEmpty());
  }

  void keyTables_data() {
    QTest::addColumn<int>("character");
    QTest::addColumn<int>("macCode");
    QTest::addColumn<int>("evdev");
    QTest::newRow("a") << int('a') << 0 << 30;
    QTest::newRow("5 sits before 6 in codes") << int('5') << 23 << 6;
    QTest::newRow("return") << int('\r') << 36 << 28;
    QTest::newRow("delete is backspace") << 0x7F << 51 << 14;
    QTest::newRow("up arrow") << 0xF700 << 126 << 103;
    QTest::newRow("not in the table") << 0xE9 << 0 << 30;
  }
  void keyTables() {
    QFETCH(int, character);
    QFETCH(int, macCode);
    QFETCH(int, evdev);
    QCOMPARE(int(macKeyCodeForCharacter(char16_t(character))), macCode);
    QCOMPARE(int(macKeyToLinux(uint16_t(macCode))->evdev), evdev);
    QVERIFY(!macKeyToLinux(63));   // Fn has no key of its own here
    QVERIFY(!macKeyToLinux(500));
    QCOMPARE(hasMacKeyCode(char16_t(character)), character != 0xE9);
  }
};

QTEST_GUILESS_MAIN(CoordinateMapperTest)
#include "coordinate_mapper_test.moc"
