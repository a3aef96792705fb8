// SPDX-License-Identifier: GPL-3.0-or-later
// The stages of the host's input chain that hold state: the tracker of what
// is pressed and the wheel's click counter.

#include <QtTest>

#include "host/fake_control_injector.h"
#include "host/input_tracker.h"
#include "host/wheel_clicks.h"

using namespace lunor;

class InputChainTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void releasingLetsGoOfEverythingHeld() {
    FakeControlInjector injector;
    InputTracker tracker(injector);
    tracker.button(MouseButton::Left, true, {10, 20});
    tracker.drag(MouseButton::Left, {30, 40});
    tracker.keyEvent(12, true);
    tracker.keyEvent(12, true);  // auto-repeat
    tracker.keyEvent(13, true);
    tracker.keyEvent(13, false);
    tracker.typeCharacter(u'é', true);
    tracker.button(MouseButton::Middle, true, {30, 40});
    tracker.button(MouseButton::Middle, false, {30, 40});
    tracker.doubleClick(MouseButton::Right);  // pressed, its release never came
    const int before = static_cast<int>(injector.calls().size());

    tracker.releaseAll();
    QCOMPARE(injector.calls().mid(before),
             (QStringList{"type(é,0)", "key(12,0)", "button(L,0,30,40)", "button(R,0,30,40)",
                          "releaseAllModifiers"}));
    tracker.releaseAll();  // nothing is held any more
    QCOMPARE(injector.calls().mid(before + 5), QStringList{"releaseAllModifiers"});
  }

  void wheelDeltasAddUpToWholeClicks_data() {
    QTest::addColumn<QList<double>>("deltas");
    QTest::addColumn<QList<int>>("clicks");
    QTest::newRow("one notch of Qt's wheel (120 px)") << QList<double>{120} << QList<int>{3};
    QTest::newRow("a trackpad's few pixels add up")
        << QList<double>{15, 15, 15, 15, 15, 15} << QList<int>{0, 0, 1, 0, 0, 1};
    QTest::newRow("small steps the other way") << QList<double>{-25, -25} << QList<int>{0, -1};
    QTest::newRow("turning back starts afresh") << QList<double>{30, -30, -30} << QList<int>{0, 0, -1};
    QTest::newRow("a runaway delta is bounded and leaves no debt")
        << QList<double>{1e9, 20, 20} << QList<int>{50, 0, 1};
    QTest::newRow("not a number") << QList<double>{NAN, INFINITY, 40} << QList<int>{0, 0, 1};
  }
  void wheelDeltasAddUpToWholeClicks() {
    QFETCH(QList<double>, deltas);
    QFETCH(QList<int>, clicks);
    WheelClicks wheel;
    QList<int> got;
    for (double delta : deltas) got << wheel.add(delta);
    QCOMPARE(got, clicks);
  }
};

QTEST_GUILESS_MAIN(InputChainTest)
#include "input_chain_test.moc"
