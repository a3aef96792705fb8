// SPDX-License-Identifier: GPL-3.0-or-later
// The host's parts without a display: mapping, key tables, input state, the
// capture loop's pace on a simulated clock.

#include <algorithm>

#include <QJsonDocument>
#include <QtTest>

#include "console_capture.h"
#include "host/capture_loop.h"
#include "host/capture_pacer.h"
#include "host/coordinate_mapper.h"
#include "host/display_list.h"
#include "host/fake_control_injector.h"
#include "host/input_tracker.h"
#include "host/screen_resizer.h"
#include "host/wheel_clicks.h"
#include "protocol/key_codes.h"
#include "protocol/peer_features.h"

using namespace lunor;

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
  std::vector<int> changedReads;  // the reads that found a change

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
  void waitForTick() override { advanceTo((t_ / (1000 / fps) + 1) * (1000 / fps)); }
  Read read() override {
    if (int(reads.size()) == failAtRead) return Read::Failed;
    reads.push_back(t_);
    lastRead_ = t_;
    const bool changed = std::exchange(dirty_, false);
    if (changed) changedReads.push_back(t_);
    advanceTo(t_ + readCost);
    return changed ? Read::Changed : Read::Unchanged;
  }
  void send() override { sends.push_back(lastRead_); }
  bool wantsRepeats() override { return t_ < refineUntil; }
  int refineUntil = 0;  // ms: the encoder sharpens a still picture until then

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

// Changes at those times until `until` (ms); the reads and sends the loop
// made of them, with or without a change watch, at a profile's rate.
struct Pace {
  std::vector<int> changes;
  int until;
  std::vector<int> changedReads;
  std::vector<int> sends;  // empty: not looked at
  bool watch = true;
  int fps = 25;
  int refineUntil = 0;
};

}  // namespace

Q_DECLARE_METATYPE(Pace)

class HostUnitsTest : public QObject {
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
  // hostPoint is the position on the shared display; hostPixel, where the
  // pointer goes, is a whole pixel of it, never the first column of its
  // neighbour.
  // A separate session's client asks for its view's size; the host fits it
  // into the profile's picture.
  void screenSizeRequests_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QSize>("asked");   // invalid: not a request to act on
    QTest::addColumn<QSize>("fitted");  // into 1920x1080
    QTest::newRow("as sent") << encodeScreenSizeRequest({1600, 900}) << QSize(1600, 900) << QSize(1600, 900);
    QTest::newRow("odd sides rounded down") << QByteArray(R"({"t":"screenSize","w":1366,"h":767})")
                                            << QSize(1366, 767) << QSize(1360, 766);
    QTest::newRow("a wide 4K view shrinks to fit, shape kept")
        << QByteArray(R"({"t":"screenSize","w":5120,"h":1440})") << QSize(5120, 1440) << QSize(1920, 540);
    QTest::newRow("a phone's narrow view grows to the smallest side")
        << QByteArray(R"({"t":"screenSize","w":390,"h":844})") << QSize(390, 844) << QSize(480, 1038);
    for (const char* bad : {R"({"t":"screenSize","w":0,"h":900})", R"({"t":"screenSize","w":1600.5,"h":900})",
                            R"({"t":"screenSize","w":"1600","h":900})", R"({"t":"screenSize","w":1600})",
                            R"({"t":"screenSize","w":99999,"h":900})", R"({"t":"move","w":1600,"h":900})"}) {
      QTest::newRow(bad) << QByteArray(bad) << QSize() << QSize();
    }
  }
  void screenSizeRequests() {
    QFETCH(QByteArray, json);
    QFETCH(QSize, asked);
    QFETCH(QSize, fitted);
    const auto decoded = decodeScreenSizeRequest(QJsonDocument::fromJson(json).object());
    QCOMPARE(decoded.value_or(QSize()), asked);
    if (decoded) QCOMPARE(fitScreenSize(*decoded, {1920, 1080}), fitted);
  }

  void mapsOntoTheSharedDisplay_data() {
    QTest::addColumn<uint>("id");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<QPoint>("pixel");
    QTest::newRow("centre") << 1u << 0.5 << 0.5 << QPointF(720, 450) << QPoint(720, 450);
    QTest::newRow("origin") << 1u << 0.0 << 0.0 << QPointF(0, 0) << QPoint(0, 0);
    QTest::newRow("far corner, one past") << 1u << 1.0 << 1.0 << QPointF(1440, 900) << QPoint(1439, 899);
    QTest::newRow("second display") << 2u << 0.25 << 0.5 << QPointF(1920, 540) << QPoint(1920, 540);
    QTest::newRow("rounded down") << 2u << 0.5004 << 0.0 << QPointF(2400.768, 0) << QPoint(2400, 0);
    QTest::newRow("above-left display") << 3u << 0.0 << 0.0 << QPointF(-1920, -1080) << QPoint(-1920, -1080);
    QTest::newRow("above-left display, far corner") << 3u << 1.0 << 1.0 << QPointF(0, 0) << QPoint(-1, -1);
    QTest::newRow("clamped") << 1u << -0.2 << 1.7 << QPointF(0, 900) << QPoint(0, 899);
    QTest::newRow("NaN counts as 1") << 1u << std::nan("") << 0.0 << QPointF(1440, 0) << QPoint(1439, 0);
    QTest::newRow("infinite counts as the edge") << 1u << qInf() << -qInf() << QPointF(1440, 0) << QPoint(1439, 0);
    QTest::newRow("unknown display") << 9u << 0.5 << 0.5 << QPointF(0, 0) << QPoint(0, 0);
  }
  void mapsOntoTheSharedDisplay() {
    QFETCH(uint, id);
    QFETCH(double, x);
    QFETCH(double, y);
    QTEST(CoordinateMapper(displays).hostPoint(id, x, y), "point");
    QTEST(CoordinateMapper(displays).hostPixel(id, x, y), "pixel");
  }

  // Each mapping is logged at debug level only: a busy session is not
  // slowed by it.
  void logsTheMappingOnlyWhenAskedTo() {
    for (const bool debug : {true, false}) {
      QLoggingCategory::setFilterRules(debug ? "lunor.host.debug=true" : "lunor.host.debug=false");
      test::ConsoleCapture console;
      CoordinateMapper::map(5, QRectF(0, 0, 1440, 900), -0.2, 1.7);
      QCOMPARE(console.lines().value(1), debug ? QString("   displayID=5") : QString());
    }
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
    QTEST(int(macKeyCodeForCharacter(char16_t(character))), "macCode");
    QTEST(int(macKeyToLinux(uint16_t(macCode))->evdev), "evdev");
    QVERIFY(!macKeyToLinux(63));  // Fn has no key of its own here
    QVERIFY(!macKeyToLinux(500));
    QCOMPARE(hasMacKeyCode(char16_t(character)), character != 0xE9);
  }

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
    QCOMPARE(injector.calls().mid(before), (QStringList{"type(é,0)", "key(12,0)", "button(L,0,30,40)",
                                                        "button(R,0,30,40)", "releaseAllModifiers"}));
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
    WheelClicks wheel;
    QList<int> got;
    for (double delta : deltas) got << wheel.add(delta);
    QTEST(got, "clicks");
  }

  void captureReadsOnChangeCappedByTheRate_data() {
    QTest::addColumn<Pace>("pace");
    QTest::newRow("a change after a quiet spell, once it settles (1 ms)") << Pace{{510}, 900, {0, 511}};
    QTest::newRow("a change just after a read, one interval after it") << Pace{{10}, 900, {0, 40}};
    QTest::newRow("several changes in an interval, one read") << Pace{{5, 12, 30}, 900, {0, 40}};
    QTest::newRow("a drawing in several requests, read once when it is done") << Pace{{500, 501, 502}, 900, {0, 503}};
    QTest::newRow("a drawing that never stops, read within 3 ms")
        << Pace{{500, 501, 502, 503, 504, 505}, 900, {0, 503, 543}};
    QTest::newRow("low profile: a change waits no tick") << Pace{{310}, 900, {0, 311}, {}, true, 15};
    QTest::newRow("a change just after a still screen's repeat, at once") << Pace{{152}, 400, {0, 153}};
    QTest::newRow("a still screen: again soon and often (sharpened), then a refresh a second")
        << Pace{{}, 3500, {0}, {0, 150, 190, 230, 270, 310, 450, 700, 950, 1200, 1450, 1700, 2700}};
    QTest::newRow("a change restarts the repeats")
        << Pace{{700}, 1000, {0, 701}, {0, 150, 190, 230, 270, 310, 450, 701, 851, 891, 931, 971}};
    QTest::newRow("a still screen sharpened a part at a time: repeats at the frame rate while it goes")
        << Pace{{}, 1000, {0}, {0, 150, 190, 230, 270, 310, 350, 390, 430, 450, 700, 950}, true, 25, 400};
    QTest::newRow("without a watch, a change waits for the tick; the repeats too")
        << Pace{{510}, 800, {0, 520}, {0, 160, 200, 240, 280, 320, 480, 520, 680, 720, 760}, false};
  }
  // An encoder that never has done gets repeats at the frame rate for some
  // seconds, then once a second as any still screen.
  void stillRepeatsForAnEncoderThatSharpensEndlessly() {
    using std::chrono::milliseconds;
    const StillRepeats::TimePoint t0{};
    StillRepeats still;
    still.changed(t0);
    still.repeated(t0 + milliseconds(7990), milliseconds(40), true);
    QCOMPARE(still.next(), t0 + milliseconds(8030));
    still.repeated(t0 + milliseconds(8030), milliseconds(40), true);
    QCOMPARE(still.next(), t0 + milliseconds(8700));
  }

  void captureReadsOnChangeCappedByTheRate() {
    QFETCH(Pace, pace);
    FakeScreen screen;
    screen.fps = pace.fps;
    screen.changes = pace.changes;
    screen.until = pace.until;
    screen.refineUntil = pace.refineUntil;
    QVERIFY(runCaptureLoop(screen, pace.watch));
    QCOMPARE(screen.changedReads, pace.changedReads);
    if (!pace.sends.empty()) QCOMPARE(screen.sends, pace.sends);
  }

  // A screen that never stops changing keeps the profile's rate, no more,
  // even when reads take time and the loop wakes a little late.
  void captureOfABusyScreenKeepsItsRate_data() {
    QTest::addColumn<int>("readCost");
    QTest::addColumn<int>("wakeLate");
    QTest::newRow("instant reads, on time") << 0 << 0;
    QTest::newRow("8 ms reads, waking 2 ms late") << 8 << 2;
  }
  void captureOfABusyScreenKeepsItsRate() {
    FakeScreen screen;
    QFETCH(int, readCost);
    QFETCH(int, wakeLate);
    screen.readCost = readCost;
    screen.wakeLate = wakeLate;
    for (int t = 1; t < 1000; ++t) screen.changes.push_back(t);
    QVERIFY(runCaptureLoop(screen, true));
    QCOMPARE(screen.reads.size(), size_t(25));
    QCOMPARE(screen.sends, screen.reads);
    for (size_t i = 1; i < screen.reads.size(); ++i) QVERIFY(screen.reads[i] - screen.reads[i - 1] >= 40 - 2);
  }

  void aFailedCaptureReadEndsTheLoop() {
    FakeScreen screen;
    screen.changes = {100, 200};
    screen.failAtRead = 2;
    QVERIFY(!runCaptureLoop(screen, true));
    QCOMPARE(screen.sends, (std::vector<int>{0, 101}));
  }
};

QTEST_GUILESS_MAIN(HostUnitsTest)
#include "host_units_test.moc"
