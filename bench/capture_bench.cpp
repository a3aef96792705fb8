// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-bench-capture: the screen capturer at 1920 x 1080, for a still
// screen and for one that changes every frame. On X11 a private X server
// read by our X11 capturer; on Wayland a headless GNOME desktop recorded by
// the compositor and read by our PipeWire consumer. Prints wall and CPU
// milliseconds per screen read and per frame sent, and on Wayland the
// compositor's share of the work.
//
//   lunor-bench-capture [--desktop x11|wayland] [--seconds N] [--fps F]

#include <cstdio>
#include <functional>
#include <tuple>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <X11/Xlib.h>

#include "cpu_time.h"
#include "headless_desktop.h"
#include "host/wayland/display_list_mutter.h"
#include "host/wayland/mutter_remote_desktop.h"
#include "host/wayland/screen_capturer_pipewire.h"
#include "host/x11/display_list_x11.h"
#include "host/x11/screen_capturer_x11.h"
#include "process_stats.h"
#include "rtc/peer_connection.h"
#include "virtual_display.h"
#include "wayland_scenery.h"

using namespace lunor;

namespace {

using bench::cpuSeconds;

// Takes frames and does nothing with them: the capture's own cost only.
struct NullSource final : rtc::VideoSource {
  void adaptOutputFormat(int, int, int) override {}
  void pushFrame(const rtc::VideoFrameView&) override {}
  bool repeatLastFrame(int64_t) override { return true; }
  void sendKeyFrame() override {}
};

struct Counters {
  std::function<uint64_t()> reads;  // screen reads, where the capturer polls
  std::function<uint64_t()> frames;
};

// `animate` runs once per frame period while measuring; `serverPid` is the
// display server's, whose CPU is reported beside ours when it does the reading.
void measure(const char* label, int seconds, int fps, ScreenCapturer& capturer, const Counters& counters,
             const std::function<void()>& animate = {}, qint64 serverPid = 0) {
  bool started = false;
  capturer.startCapture(0, 1920, 1080, fps, [&](std::optional<CaptureError> e) {
    started = !e;
    if (e) std::fprintf(stderr, "lunor-bench-capture: %s\n", qPrintable(e->fullDescription()));
  });
  std::ignore = QTest::qWaitFor([&] { return started; }, 10000);
  QTest::qWait(1000);  // warm-up

  const uint64_t reads0 = counters.reads ? counters.reads() : 0;
  const uint64_t frames0 = counters.frames();
  const double cpu0 = cpuSeconds();
  const double server0 = serverPid ? bench::processCpuSeconds(serverPid) : 0;
  QElapsedTimer wall;
  wall.start();
  while (wall.elapsed() < seconds * 1000) {
    if (animate) animate();
    QTest::qWait(1000 / fps);
  }
  const double elapsed = wall.elapsed() / 1000.0;
  const double cpu = cpuSeconds() - cpu0;
  const double frames = double(counters.frames() - frames0);
  capturer.stopCapture();
  std::printf("%-16s ", label);
  if (counters.reads) {
    const double reads = double(counters.reads() - reads0);
    std::printf("reads %.1f/s, CPU %.2f ms per read, ", reads / elapsed, reads > 0 ? cpu * 1000 / reads : 0);
  }
  std::printf("frames sent %.1f/s, CPU %.2f ms per frame sent, %.1f%% of a core", frames / elapsed,
              frames > 0 ? cpu * 1000 / frames : 0, 100 * cpu / elapsed);
  if (serverPid) {
    const double server = bench::processCpuSeconds(serverPid) - server0;
    std::printf("; compositor %.1f%% of a core", 100 * server / elapsed);
  }
  std::printf("\n");
}

int benchX11(int seconds, int fps) {
  test::VirtualDisplay server(/*twoMonitors=*/false);
  if (!server.isRunning()) {
    std::fprintf(stderr, "lunor-bench-capture: %s\n", qPrintable(server.error()));
    return 1;
  }
  std::printf("X11, 1920x1080 at %d fps, %d s per case\n", fps, seconds);
  DisplayListX11 displays;
  ScreenCapturerX11 capturer(std::make_shared<NullSource>(), displays);
  const Counters counters{[&] { return capturer.captureCount(); }, [&] { return capturer.frameCount(); }};
  measure("still screen", seconds, fps, capturer, counters);

  Display* painter = XOpenDisplay(nullptr);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  const Window window = XCreateWindow(painter, DefaultRootWindow(painter), 0, 0, 1920, 1080, 0,
                                      CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect,
                                      &attributes);
  XMapRaised(painter, window);
  XSync(painter, False);
  unsigned long colour = 0;
  // A full-screen change per frame: the worst case for damage tracking.
  measure("changing screen", seconds, fps, capturer, counters, [&] {
    colour = (colour + 0x030507) & 0xFFFFFF;
    XSetWindowBackground(painter, window, colour);
    XClearWindow(painter, window);
    XFlush(painter);
  });
  XCloseDisplay(painter);
  return 0;
}

int benchWayland(int seconds, int fps) {
  test::HeadlessDesktop desktop({QSize(1920, 1080)});
  if (!desktop.isRunning()) {
    std::fprintf(stderr, "lunor-bench-capture: %s\n", qPrintable(desktop.error()));
    return 1;
  }
  // This process joins the desktop's session bus and PipeWire.
  const QProcessEnvironment variables = desktop.sessionVariables();
  for (const QString& name : variables.keys()) {
    qputenv(name.toLatin1().constData(), variables.value(name).toLocal8Bit());
  }
  std::printf("Wayland (headless GNOME), 1920x1080 at %d fps, %d s per case\n", fps, seconds);
  DisplayListMutter displays;
  MutterRemoteDesktop session;
  ScreenCapturerPipeWire capturer(std::make_shared<NullSource>(), session, displays);
  const Counters counters{{}, [&] { return capturer.frameCount(); }};
  measure("still screen", seconds, fps, capturer, counters, {}, desktop.compositorPid());

  // Every stamp scrolls a line of text over the whole screen.
  bench::WaylandScenery scenery;
  if (!scenery.start(desktop, 0)) {
    std::fprintf(stderr, "lunor-bench-capture: %s\n", qPrintable(scenery.error()));
    return 1;
  }
  measure("changing screen", seconds, fps, capturer, counters, {}, desktop.compositorPid());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription("Screen capture cost at 1920x1080 on a private X server or GNOME desktop.");
  parser.addHelpOption();
  parser.addOption({"desktop", "x11 or wayland.", "kind", "x11"});
  parser.addOption({"seconds", "Measured seconds per case.", "n", "5"});
  parser.addOption({"fps", "Capture rate.", "f", "30"});
  parser.process(app);
  const int seconds = std::max(1, parser.value("seconds").toInt());
  const int fps = std::clamp(parser.value("fps").toInt(), 1, 120);
  const QString desktop = parser.value("desktop");
  if (desktop == "wayland") return benchWayland(seconds, fps);
  if (desktop == "x11") return benchX11(seconds, fps);
  std::fprintf(stderr, "lunor-bench-capture: --desktop is x11 or wayland\n");
  return 2;
}
