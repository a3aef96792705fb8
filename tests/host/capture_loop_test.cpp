// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>

#include <QtTest>

#include "host/capture_loop.h"

using namespace lunor;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::vector<int>)

namespace {

// A screen on a simulated clock (milliseconds from 0) that changes at given
// times, with a change watch that reports them and reads that take a while.
class FakeScreen final : public CaptureLoopPort {
 public:
  int fps = 25;
  std::vector<int> changes;  // ascending
  int until = 1000;
  int readCost = 0;  // ms a read takes
  int wakeLate = 0;  // ms the loop wakes after a change
  int failAtRead = -1;

  std::vector<int> reads, sends;

  bool running() override { return t_ < until; }
  int frameRate() override { return fps; }
  TimePoint now() override { return TimePoint{} + std::chrono::milliseconds(t_); }
  bool waitForChange(std::chrono::milliseconds timeout) override {
    if (std::exchange(damage_, false)) return true;
    const int end = t_ + int(timeout.count());
    if (next_ < changes.size() && changes[next_] <= end) {
      advanceTo(std::max(t_, changes[next_]));
      t_ += wakeLate;
      damage_ = false;
      return true;
    }
    advanceTo(end);
    return false;
  }
  void waitForTick() override {
    const int interval = 1000 / fps;
    advanceTo((t_ / interval + 1) * interval);
  }
  Read read() override {
    if (int(reads.size()) == failAtRead) return Read::Failed;
    reads.push_back(t_);
    lastRead_ = t_;
    const bool changed = std::exchange(dirty_, false);
    advanceTo(t_ + readCost);
    return changed ? Read::Changed : Read::Unchanged;
  }
  void send() override { sends.push_back(lastRead_); }

 private:
  void advanceTo(int t) {
    t_ = t;
    for (; next_ < changes.size() && changes[next_] <= t_; ++next_) dirty_ = damage_ = true;
  }

  int t_ = 0;
  size_t next_ = 0;
  bool dirty_ = true;  // the first read finds a picture
  bool damage_ = false;
  int lastRead_ = 0;
};

}  // namespace

class CaptureLoopTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void readsOnChangeCappedByTheRate_data() {
    QTest::addColumn<bool>("watch");
    QTest::addColumn<int>("fps");
    QTest::addColumn<std::vector<int>>("changes");
    QTest::addColumn<int>("until");
    QTest::addColumn<std::vector<int>>("reads");
    QTest::addColumn<std::vector<int>>("sends");
    using V = std::vector<int>;
    QTest::newRow("a change after a quiet spell, once it settles (1 ms)")
        << true << 25 << V{510} << 900 << V{0, 511} << V{0, 511};
    QTest::newRow("a change just after a read, one interval after it")
        << true << 25 << V{10} << 900 << V{0, 40} << V{0, 40};
    QTest::newRow("several changes in an interval, one read") << true << 25 << V{5, 12, 30} << 900 << V{0, 40}
                                                              << V{0, 40};
    QTest::newRow("a drawing in several requests, read once when it is done")
        << true << 25 << V{500, 501, 502} << 900 << V{0, 503} << V{0, 503};
    QTest::newRow("a drawing that never stops, read within 3 ms") << true << 25 << V{500, 501, 502, 503, 504, 505}
                                                                  << 900 << V{0, 503, 543} << V{0, 503, 543};
    QTest::newRow("low profile: a change waits no tick") << true << 15 << V{310} << 900 << V{0, 311} << V{0, 311};
    QTest::newRow("a still screen: a refresh a second, nothing between")
        << true << 25 << V{} << 3500 << V{0, 1000, 2000, 3000} << V{0, 1000, 2000, 3000};
    QTest::newRow("a change restarts the refresh's count") << true << 25 << V{700} << 2000 << V{0, 701, 1701}
                                                           << V{0, 701, 1701};
    QTest::newRow("without a watch, a change waits for the tick") << false << 25 << V{510} << 600
                                                                  << [] {
                                                                       V v;
                                                                       for (int t = 0; t < 600; t += 40) v.push_back(t);
                                                                       return v;
                                                                     }()
                                                                  << V{0, 520};
  }
  void readsOnChangeCappedByTheRate() {
    QFETCH(bool, watch);
    FakeScreen screen;
    QFETCH(int, fps);
    screen.fps = fps;
    QFETCH(std::vector<int>, changes);
    screen.changes = changes;
    QFETCH(int, until);
    screen.until = until;
    QVERIFY(runCaptureLoop(screen, watch));
    QTEST(screen.reads, "reads");
    QTEST(screen.sends, "sends");
  }

  // A screen that never stops changing keeps the profile's rate, no more,
  // even when reads take time and the loop wakes a little late.
  void aBusyScreenKeepsItsRate_data() {
    QTest::addColumn<int>("readCost");
    QTest::addColumn<int>("wakeLate");
    QTest::newRow("instant reads, on time") << 0 << 0;
    QTest::newRow("8 ms reads, waking 2 ms late") << 8 << 2;
  }
  void aBusyScreenKeepsItsRate() {
    FakeScreen screen;
    QFETCH(int, readCost);
    screen.readCost = readCost;
    QFETCH(int, wakeLate);
    screen.wakeLate = wakeLate;
    for (int t = 1; t < 1000; ++t) screen.changes.push_back(t);
    QVERIFY(runCaptureLoop(screen, true));
    QCOMPARE(screen.reads.size(), size_t(25));
    QCOMPARE(screen.sends, screen.reads);
    for (size_t i = 1; i < screen.reads.size(); ++i) QVERIFY(screen.reads[i] - screen.reads[i - 1] >= 40 - 2);
  }

  void aFailedReadEndsTheLoop() {
    FakeScreen screen;
    screen.changes = {100, 200};
    screen.failAtRead = 2;
    QVERIFY(!runCaptureLoop(screen, true));
    QCOMPARE(screen.sends, (std::vector<int>{0, 101}));
  }
};

QTEST_GUILESS_MAIN(CaptureLoopTest)
#include "capture_loop_test.moc"
