#include <algorithm>
#include <numeric>

#include <QtTest>

#include "host/capture_pacer.h"

using namespace lunor;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::vector<int>)

class CapturePacerTest : public QObject {
  Q_OBJECT

  // The grabs a loop makes from 0 to `untilMs`, looking every `stepMs`,
  // with the screen changing at `changesMs`.
  static std::vector<int> grabs(int fps, const std::vector<int>& changesMs, int untilMs, int stepMs = 1) {
    CapturePacer pacer(fps);
    const CapturePacer::TimePoint start{};
    std::vector<int> made;
    for (int t = 0; t <= untilMs; t += stepMs) {
      const auto now = start + std::chrono::milliseconds(t);
      for (int change : changesMs) {
        if (change <= t && change > t - stepMs) pacer.changed();
      }
      if (pacer.due(now)) {
        pacer.grabbed(now);
        made.push_back(t);
      }
    }
    return made;
  }

 private Q_SLOTS:
  void grabsOnChangeCappedByTheRate_data() {
    QTest::addColumn<int>("fps");
    QTest::addColumn<std::vector<int>>("changes");
    QTest::addColumn<int>("until");
    QTest::addColumn<std::vector<int>>("expected");
    QTest::newRow("a change after a quiet spell, at once") << 25 << std::vector<int>{500} << 900
                                                           << std::vector<int>{0, 500};
    QTest::newRow("a change just after a grab, one interval after it")
        << 25 << std::vector<int>{10} << 900 << std::vector<int>{0, 40};
    QTest::newRow("several changes in an interval, one grab") << 25 << std::vector<int>{5, 12, 30} << 900
                                                              << std::vector<int>{0, 40};
    QTest::newRow("low profile: a change waits no tick") << 15 << std::vector<int>{300} << 900
                                                         << std::vector<int>{0, 300};
    QTest::newRow("a still screen, a refresh a second") << 25 << std::vector<int>{} << 2500
                                                        << std::vector<int>{0, 1000, 2000};
    QTest::newRow("a change restarts the refresh's count") << 25 << std::vector<int>{700} << 2000
                                                           << std::vector<int>{0, 700, 1700};
  }
  void grabsOnChangeCappedByTheRate() {
    QFETCH(int, fps);
    QFETCH(std::vector<int>, changes);
    QFETCH(int, until);
    QFETCH(std::vector<int>, expected);
    QCOMPARE(grabs(fps, changes, until), expected);
  }

  // A screen that never stops changing keeps the profile's rate, no more,
  // even when the loop wakes a little late each time.
  void aBusyScreenKeepsItsRate_data() {
    QTest::addColumn<int>("step");
    QTest::newRow("on time") << 1;
    QTest::newRow("waking up to 2 ms late") << 3;
  }
  void aBusyScreenKeepsItsRate() {
    QFETCH(int, step);
    std::vector<int> always(1000);
    std::iota(always.begin(), always.end(), 0);
    const auto made = grabs(25, always, 999, step);
    QCOMPARE(made.size(), size_t(25));
    for (size_t i = 1; i < made.size(); ++i) QVERIFY(made[i] - made[i - 1] >= 40 - 2);
  }
};

QTEST_GUILESS_MAIN(CapturePacerTest)
#include "capture_pacer_test.moc"
