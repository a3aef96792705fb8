// lunor-bench-capture: the X11 screen capturer at 1920 x 1080 on a private
// X server, for a static screen and for one that changes every frame. Prints
// wall and CPU milliseconds per screen read and per frame sent.
//
//   lunor-bench-capture [--seconds N] [--fps F]

#include <tuple>
#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <X11/Xlib.h>

#include "host/x11/display_list_x11.h"
#include "host/x11/screen_capturer_x11.h"
#include "cpu_time.h"
#include "rtc/peer_connection.h"
#include "virtual_display.h"

using namespace lunor;

namespace {

using bench::cpuSeconds;

// Takes frames and does nothing with them: the capture's own cost only.
struct NullSource final : rtc::VideoSource {
  void adaptOutputFormat(int, int, int) override {}
  void pushFrame(const rtc::VideoFrameView&) override {}
};

void measure(const char* label, int seconds, int fps, Display* painter, Window window) {
  DisplayListX11 displays;
  ScreenCapturerX11 capturer(std::make_shared<NullSource>(), displays);
  bool started = false;
  capturer.startCapture(0, 1920, 1080, fps, [&](std::optional<CaptureError> e) { started = !e; });
  std::ignore = QTest::qWaitFor([&] { return started; }, 10000);
  QTest::qWait(1000);  // warm-up

  const uint64_t reads0 = capturer.captureCount();
  const uint64_t frames0 = capturer.frameCount();
  const double cpu0 = cpuSeconds();
  QElapsedTimer wall;
  wall.start();
  unsigned long colour = 0;
  while (wall.elapsed() < seconds * 1000) {
    if (painter) {
      // A full-screen change per frame: the worst case for damage tracking.
      colour = (colour + 0x030507) & 0xFFFFFF;
      XSetWindowBackground(painter, window, colour);
      XClearWindow(painter, window);
      XFlush(painter);
    }
    QTest::qWait(1000 / fps);
  }
  const double elapsed = wall.elapsed() / 1000.0;
  const double cpu = cpuSeconds() - cpu0;
  const double reads = double(capturer.captureCount() - reads0);
  const double frames = double(capturer.frameCount() - frames0);
  capturer.stopCapture();
  std::printf("%-16s reads %.1f/s, frames sent %.1f/s, CPU %.2f ms per read, %.2f ms per frame sent, %.1f%% of a core\n",
              label, reads / elapsed, frames / elapsed, reads > 0 ? cpu * 1000 / reads : 0,
              frames > 0 ? cpu * 1000 / frames : 0, 100 * cpu / elapsed);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription("X11 screen capture cost at 1920x1080 on a private Xvnc.");
  parser.addHelpOption();
  parser.addOption({"seconds", "Measured seconds per case.", "n", "5"});
  parser.addOption({"fps", "Capture rate.", "f", "30"});
  parser.process(app);
  const int seconds = std::max(1, parser.value("seconds").toInt());
  const int fps = std::clamp(parser.value("fps").toInt(), 1, 120);

  test::VirtualDisplay server(/*twoMonitors=*/false);
  if (!server.isRunning()) {
    std::fprintf(stderr, "lunor-bench-capture: %s\n", qPrintable(server.error()));
    return 1;
  }
  std::printf("1920x1080 at %d fps, %d s per case\n", fps, seconds);
  measure("static screen", seconds, fps, nullptr, 0);

  Display* painter = XOpenDisplay(nullptr);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  const Window window = XCreateWindow(painter, DefaultRootWindow(painter), 0, 0, 1920, 1080, 0,
                                      CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect,
                                      &attributes);
  XMapRaised(painter, window);
  XSync(painter, False);
  measure("changing screen", seconds, fps, painter, window);
  XCloseDisplay(painter);
  return 0;
}
