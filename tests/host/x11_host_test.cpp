// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux host parts against a private X server with two monitors:
//
//   (0,0)                      (2560,0)               (4480,0)
//     +--------------------------+----------------------+
//     |  VNC-0  2560 x 1440      |  RIGHT 1920 x 1080   |
//     |                          +----------------------+ (1080)
//     +--------------------------+ (1440)

#include <signal.h>

#include <mutex>
#include <thread>

#include <QtTest>

// Before Xlib, whose Status macro would rename the manager's enumeration.
#include "system/permission_checks.h"
#include "system/permission_manager.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include "host/x11/control_injector_x11.h"
#include "host/injection_sequence.h"
#include "host/x11/display_list_x11.h"
#include "host/x11/screen_capturer_x11.h"
#include "rtc/peer_connection.h"
#include "test_window.h"
#include "virtual_display.h"

using namespace lunor;

namespace {

// Keeps a copy of the newest frame.
class KeepingSource final : public rtc::VideoSource {
 public:
  void adaptOutputFormat(int, int, int) override {}
  void pushFrame(const rtc::VideoFrameView& frame) override {
    std::lock_guard lock(mutex);
    width = frame.width;
    height = frame.height;
    pixels.resize(static_cast<size_t>(frame.width) * frame.height * 4);
    for (int y = 0; y < frame.height; ++y) {
      std::memcpy(pixels.data() + static_cast<size_t>(y) * frame.width * 4,
                  frame.data + static_cast<size_t>(y) * frame.stride, static_cast<size_t>(frame.width) * 4);
    }
    ++frames;
  }
  bool repeatLastFrame(int64_t) override {
    ++frames;
    return true;
  }
  void sendKeyFrame() override {}
  // B, G, R of a pixel of the newest frame.
  std::array<int, 3> pixel(int x, int y) {
    std::lock_guard lock(mutex);
    const uint8_t* p = pixels.data() + (static_cast<size_t>(y) * width + x) * 4;
    return {p[0], p[1], p[2]};
  }
  std::mutex mutex;
  std::vector<uint8_t> pixels;
  int width = 0, height = 0;
  std::atomic<int> frames{0};
};

// A window over the right monitor, red on its left half and blue on its
// right, that records what input reaches it.
struct Observer : test::TestWindow {
  Observer() : TestWindow(QString(), QRect(2560, 0, 1920, 1080), /*blueRightHalf=*/true) {}
};

}  // namespace

class X11HostTest : public QObject {
  Q_OBJECT
  std::unique_ptr<test::VirtualDisplay> server;

 private Q_SLOTS:
  void initTestCase() {
    server = std::make_unique<test::VirtualDisplay>();
    QVERIFY2(server->isRunning(), qPrintable(server->error()));
  }
  void cleanupTestCase() { server.reset(); }

  void listsTheMonitorsAndFollowsChanges() {
    DisplayListX11 list;
    QVERIFY(list.isAvailable());
    const auto displays = list.displays();
    QCOMPARE(displays.size(), size_t(2));
    QCOMPARE(displays[0].bounds, QRect(0, 0, 2560, 1440));
    QCOMPARE(QSize(displays[0].width, displays[0].height), QSize(2560, 1440));
    QCOMPARE(displays[1].bounds, QRect(2560, 0, 1920, 1080));
    QVERIFY(displays[0].id != 0 && displays[1].id != 0 && displays[0].id != displays[1].id);
    QCOMPARE(list.mainDisplayId(), displays[0].id);
    // The same identifiers on every call.
    QCOMPARE(list.displays(), displays);

    // A lookup needs no answer from the server; a change shows in the next one.
    QCOMPARE(::kill(static_cast<pid_t>(server->pid()), SIGSTOP), 0);
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread([&list, done] {
      list.displays();
      *done = true;
    }).detach();
    const bool answered = QTest::qWaitFor([&] { return done->load(); }, 3000);
    QCOMPARE(::kill(static_cast<pid_t>(server->pid()), SIGCONT), 0);
    QTRY_VERIFY(done->load());  // the list outlives the thread in any case
    QVERIFY2(answered, "a lookup waited for the X server");

    QVERIFY(test::runOnDisplay("xrandr", {"--delmonitor", "RIGHT"}));
    QTRY_COMPARE(list.displays().size(), size_t(1));
    QVERIFY(test::runOnDisplay("xrandr", {"--setmonitor", "RIGHT", "1920/508x1080/286+2560+0", "none"}));
    QTRY_COMPARE(list.displays().size(), size_t(2));
  }

  // No rate before a stream, no capture of a display that is not there.
  void capturerReportsItsOwnErrors() {
    DisplayListX11 list;
    ScreenCapturerX11 capturer(std::make_shared<KeepingSource>(), list);
    QString rate, start;
    const auto text = [](std::optional<CaptureError> e) { return e ? e->fullDescription() : QString("none"); };
    capturer.setFrameRate(30, [&](std::optional<CaptureError> e) { rate = text(e); });
    QCOMPARE(rate, CaptureError::streamNotStarted().fullDescription());
    capturer.startCapture(2, 1920, 1080, 30, [&](std::optional<CaptureError> e) { start = text(e); });
    QTRY_COMPARE(start, CaptureError::invalidDisplayIndex().fullDescription());
    QVERIFY(!capturer.hasStream());

    std::vector<DisplayDescription> shared;
    capturer.shareableDisplays([&](std::vector<DisplayDescription> d, std::optional<CaptureError>) { shared = d; });
    QTRY_COMPARE(shared.size(), size_t(2));
  }

  void capturesTheSecondMonitorWithItsCursor() {
    Observer observer;
    QVERIFY(observer.display);
    // The pointer over the red half from the start (as after a display switch).
    const auto warp = [&](int x) {
      XWarpPointer(observer.display, None, DefaultRootWindow(observer.display), 0, 0, 0, 0, 2560 + x, 300);
      XSync(observer.display, False);
    };
    warp(300);
    DisplayListX11 list;
    auto source = std::make_shared<KeepingSource>();
    ScreenCapturerX11 capturer(source, list);
    std::optional<std::optional<CaptureError>> started;
    capturer.startCapture(1, 1920, 1080, 30, [&](std::optional<CaptureError> e) { started = e; });
    QTRY_VERIFY_WITH_TIMEOUT(started.has_value(), 10000);
    QVERIFY2(!started->has_value(), started->has_value() ? qPrintable((*started)->fullDescription()) : "");
    QTRY_VERIFY_WITH_TIMEOUT(source->frames.load() > 0, 10000);
    QCOMPARE(source->width, 1920);
    QCOMPARE(source->height, 1080);
    QTRY_COMPARE_WITH_TIMEOUT(source->pixel(100, 900), (std::array<int, 3>{0, 0, 255}), 5000);  // red
    QCOMPARE(source->pixel(1500, 900), (std::array<int, 3>{255, 0, 0}));                      // blue

    // The pointer is drawn where it is only: where it was goes back to red.
    const auto cursorAt = [&](int x) {
      for (int dy = 0; dy < 16; ++dy) {
        for (int dx = 0; dx < 16; ++dx) {
          if (source->pixel(x + dx, 300 + dy) != std::array<int, 3>{0, 0, 255}) return true;
        }
      }
      return false;
    };
    QVERIFY(QTest::qWaitFor([&] { return cursorAt(300); }, 5000));
    for (const int x : {600, 700, 800}) {
      warp(x);
      QVERIFY(QTest::qWaitFor([&] { return cursorAt(x); }, 5000));
      QVERIFY2(!cursorAt(300), qPrintable(QString("a cursor left behind with the pointer at %1").arg(x)));
    }
    capturer.stopCapture();
    QVERIFY(!capturer.hasStream());
  }

  void injectedInputReachesTheSharedMonitor() {
    Observer observer;
    QVERIFY(observer.display);
    ControlInjectorX11 injector;
    QVERIFY(injector.ready());
    observer.drain();

    injector.movePointer({2560 + 960, 540});
    auto motion = observer.next(MotionNotify);
    QVERIFY(motion);
    QCOMPARE(motion->xmotion.x_root, 2560 + 960);
    QCOMPARE(motion->xmotion.y_root, 540);

    injector.button(MouseButton::Right, true, {2560 + 480, 270});
    injector.button(MouseButton::Right, false, {2560 + 480, 270});
    auto press = observer.next(ButtonPress);
    QVERIFY(press);
    QCOMPARE(press->xbutton.button, 3u);  // a right click
    QCOMPARE(press->xbutton.x_root, 2560 + 480);
    QVERIFY(observer.next(ButtonRelease));

    observer.drain();
    injector.scroll({2560 + 960, 540}, 0, 120);  // three wheel clicks downwards
    for (int i = 0; i < 3; ++i) {
      auto wheel = observer.next(ButtonPress);
      QVERIFY(wheel);
      QCOMPARE(wheel->xbutton.button, 5u);
    }

    observer.drain();
    injector.setModifier(Modifier::Shift, true);
    injector.keyEvent(0, true);  // the macOS code of the A key
    injector.keyEvent(0, false);
    injector.setModifier(Modifier::Shift, false);
    auto letter = observer.nextKeyOtherThan(XK_Shift_L);
    QVERIFY(letter);
    QCOMPARE(observer.text(*letter), QString("A"));

    // A character with no key of its own, alone and under Ctrl (Ctrl+é, not Ctrl+A).
    for (const bool ctrl : {false, true}) {
      observer.drain();
      injector.setModifier(Modifier::Ctrl, ctrl);
      injector.typeCharacter(u'é', true);
      auto accented = observer.nextKeyOtherThan(XK_Control_L);
      injector.typeCharacter(u'é', false);
      injector.setModifier(Modifier::Ctrl, false);
      QVERIFY(accented);
      QCOMPARE(XLookupKeysym(&accented->xkey, 0), KeySym(XK_eacute));
      QCOMPARE(bool(accented->xkey.state & ControlMask), ctrl);
      QVERIFY(observer.next(KeyRelease));
    }

    // Nothing a hostile peer sends ends the process.
    injector.keyEvent(63, true);      // Fn: no key here
    injector.keyEvent(65535, true);   // no such code
    injector.scroll({0, 0}, std::nan(""), 1e300);
    injector.typeCharacter(0xD83D, true);  // half a surrogate pair
    injector.releaseAllModifiers();
  }

  // Without XTEST the person is told at once that input cannot be posted
  // (accessibility denied, with why); the microphone plays no part here.
  void accessibilityFollowsXtest_data() {
    QTest::addColumn<bool>("xtest");
    QTest::newRow("with XTEST") << true;
    QTest::newRow("without XTEST") << false;
  }
  void accessibilityFollowsXtest() {
    QFETCH(bool, xtest);
    std::optional<test::VirtualDisplay> bare;
    if (!xtest) bare.emplace(/*twoMonitors=*/false, QStringList{"-extension", "XTEST"});
    QVERIFY2(!bare || bare->isRunning(), bare ? qPrintable(bare->error()) : "");
    ControlInjectorX11 injector;
    QCOMPARE(injector.ready(), xtest);
    QCOMPARE(injector.problem().contains("XTEST"), !xtest);
    OpenPermissionChecks checks([] { return ControlInjectorX11().problem(); });
    PermissionManager permissions(checks);
    permissions.refreshAll();
    QTRY_COMPARE(permissions.accessibility(), QString(xtest ? "granted" : "denied"));
    QTRY_COMPARE(permissions.allGranted(), xtest);
    QCOMPARE(permissions.accessibilityProblem(), injector.problem());
  }

  // A client's double click through the production chain: X toolkits count
  // clicks by their timing, so exactly two clicks.
  void doubleClickIsTwoClicks() {
    Observer observer;
    QVERIFY(observer.display);
    DisplayListX11 list;
    InjectionSequence input(std::make_unique<ControlInjectorX11>(), list, list.displays().at(1).id, {});
    QObject context;
    const Epoch epoch(context);
    observer.drain();
    for (const char* text : {R"({"t":"mdown","b":0,"x":0.25,"y":0.25})", R"({"t":"mup","b":0,"x":0.25,"y":0.25})",
                             R"({"t":"doubleclick","b":0,"x":0.25,"y":0.25})",
                             R"({"t":"mup","b":0,"x":0.25,"y":0.25})"}) {
      input.receive(text, epoch.ticket());
    }
    QStringList seen;
    for (int i = 0; i < 4; ++i) {
      auto event = observer.next({ButtonPress, ButtonRelease});
      QVERIFY(event);
      seen << QString("%1@%2").arg(event->type == ButtonPress ? "press" : "release").arg(event->xbutton.x_root);
    }
    QCOMPARE(seen, (QStringList{"press@3040", "release@3040", "press@3040", "release@3040"}));
    QVERIFY(!observer.next({ButtonPress, ButtonRelease}, 300));
  }
};

QTEST_GUILESS_MAIN(X11HostTest)
#include "x11_host_test.moc"
