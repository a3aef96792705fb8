// SPDX-License-Identifier: GPL-3.0-or-later
// What the client's local events become: positions over the picture,
// modifier messages, click counts, wheel deltas and key codes.

#include <QtTest>

#include "client/input_mapping.h"
#include "protocol/key_codes.h"

using namespace lunor;
using namespace lunor::modifier_flags;

class InputMappingTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  // The view's points are bottom-up: y upwards.
  void positionsAreNormalisedOverThePicture_data() {
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<QRectF>("displayed");
    QTest::addColumn<QPointF>("expected");
    const QRectF picture(0, 218, 1000, 564);
    QTest::newRow("bottom edge") << QPointF(500, 218) << picture << QPointF(0.5, 1.0);
    QTest::newRow("top edge") << QPointF(500, 782) << picture << QPointF(0.5, 0.0);
    QTest::newRow("beyond the top right corner") << QPointF(1200, 900) << picture << QPointF(1.0, 0.0);
    QTest::newRow("left of the picture") << QPointF(-30, 500) << picture << QPointF(0.0, 0.5);
    QTest::newRow("NaN takes the low edge") << QPointF(NAN, NAN) << picture << QPointF(0.0, 1.0);
    QTest::newRow("no rectangle: the bounds") << QPointF(250, 750) << QRectF() << QPointF(0.25, 0.25);
  }
  void positionsAreNormalisedOverThePicture() {
    QFETCH(QPointF, point);
    QFETCH(QRectF, displayed);
    QFETCH(QPointF, expected);
    QCOMPARE(normalisedPosition(point, displayed, QRectF(0, 0, 1000, 1000)), expected);
  }

  void emptyAreaGivesTheOrigin() {
    QCOMPARE(normalisedPosition({5, 5}, QRectF(), QRectF(0, 0, 0, 100)), QPointF(0, 0));
  }

  void modifierChangesGoCmdShiftAltCtrl_data() {
    QTest::addColumn<uint>("before");
    QTest::addColumn<uint>("after");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("cmd and shift at once") << 0u << (kCmd | kShift) << QStringList{"cmd+", "shift+"};
    QTest::newRow("all four let go") << (kCmd | kShift | kAlt | kCtrl) << 0u
                                     << QStringList{"cmd-", "shift-", "alt-", "ctrl-"};
    QTest::newRow("one changes, the others held") << (kCtrl | kShift) << kCtrl << QStringList{"shift-"};
    QTest::newRow("other flags say nothing") << 0u << 0x10000u << QStringList{};
  }
  void modifierChangesGoCmdShiftAltCtrl() {
    QFETCH(uint, before);
    QFETCH(uint, after);
    QFETCH(QStringList, sent);
    QStringList got;
    for (const auto& message : modifierChanges(before, after)) {
      got << modifierName(message.modifier) + (message.down ? "+" : "-");
    }
    QCOMPARE(got, sent);
  }

  void clicksCountLikeTheDesktop() {
    ClickCounter clicks(400, 5);
    QCOMPARE(clicks.press(1, {10, 10}, 1000), 1);
    QCOMPARE(clicks.press(1, {12, 9}, 1200), 2);   // soon and near: the double click
    QCOMPARE(clicks.press(1, {12, 9}, 1400), 3);   // a third is no double click
    QCOMPARE(clicks.press(1, {12, 9}, 2000), 1);   // too late
    QCOMPARE(clicks.press(1, {40, 9}, 2100), 1);   // too far
    QCOMPARE(clicks.press(0, {40, 9}, 2200), 1);   // another button
  }

  void wheelDeltasInTheHostsUnits_data() {
    QTest::addColumn<QPoint>("angle");
    QTest::addColumn<QPoint>("pixels");
    QTest::addColumn<QPointF>("expected");
    QTest::newRow("a notch up") << QPoint(0, 120) << QPoint() << QPointF(0, -40);
    QTest::newRow("a notch to the left") << QPoint(120, 0) << QPoint() << QPointF(40, 0);
    QTest::newRow("a fine wheel's step") << QPoint(0, -15) << QPoint() << QPointF(0, 5);
    QTest::newRow("a trackpad's pixels win") << QPoint(0, 120) << QPoint(3, -7) << QPointF(3, 7);
  }
  void wheelDeltasInTheHostsUnits() {
    QFETCH(QPoint, angle);
    QFETCH(QPoint, pixels);
    QFETCH(QPointF, expected);
    QCOMPARE(wheelPixels(angle, pixels), expected);
  }

  // One table for both sides: every key the host maps back to an X key is
  // the key the client reads it from.
  void keyTableRoundTrips() {
    int keys = 0;
    for (int mac = 0; mac < 256; ++mac) {
      const auto key = macKeyToLinux(static_cast<uint16_t>(mac));
      if (!key) continue;
      ++keys;
      QCOMPARE(macKeyForXKeycode(key->evdev + 8), std::optional<uint16_t>(mac));
    }
    QVERIFY(keys >= 111);  // the whole US ANSI keyboard
    QVERIFY(!macKeyForXKeycode(7));
    QVERIFY(!macKeyForXKeycode(255 + 1));
  }
};

QTEST_GUILESS_MAIN(InputMappingTest)
#include "input_mapping_test.moc"
