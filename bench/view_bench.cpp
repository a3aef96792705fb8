// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-bench-view: the client's picture under load. On a private X server
// (software OpenGL), pushes 1920 x 1080 I420 frames at 60 fps into the
// stage, as the decoder would from its own thread, and prints the frames
// shown per second and the CPU each frame costs: our code (the copy into a
// video frame, the hop to the main thread) apart from the rest of the
// process (Qt's rendering in software OpenGL, above all).
//
//   lunor-bench-view [--seconds N] [--fps F] [--window WxH]

#include <atomic>
#include <cstdio>
#include <thread>

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QQmlEngine>
#include <QQuickView>
#include <QtQml/qqmlextensionplugin.h>

#include "client/video_view.h"
#include "cpu_time.h"
#include "session_probe.h"
#include "system/console_log.h"
#include "rtc/webrtc/webrtc_factory.h"
#include "virtual_display.h"

Q_IMPORT_QML_PLUGIN(Lunor_ClientPlugin)

using namespace lunor;

namespace {

struct Frame {
  Frame(int width, int height) : width(width), height(height) {
    y.resize(size_t(width) * height);
    u.assign(size_t(width / 2) * (height / 2), 128);
    v.assign(size_t(width / 2) * (height / 2), 128);
  }
  // A grey picture with a white bar that moves with the frame number.
  rtc::I420FrameView view(uint32_t number) {
    std::fill(y.begin(), y.end(), uint8_t(60));
    const int bar = int(number * 16 % uint32_t(width - 64));
    for (int row = 0; row < height; ++row) std::fill_n(y.begin() + row * width + bar, 64, uint8_t(235));
    return {y.data(), u.data(), v.data(), width, width / 2, width / 2, width, height, 0};
  }
  int width, height;
  std::vector<uint8_t> y, u, v;
};

}  // namespace

int main(int argc, char** argv) {
  std::unique_ptr<test::VirtualDisplay> display;
  int seconds = 10;
  int fps = 60;
  QSize window(1280, 720);
  {
    QCoreApplication bootstrap(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"seconds", "How long to measure.", "N", "10"});
    parser.addOption({"fps", "Frames pushed per second.", "F", "60"});
    parser.addOption({"window", "The window's size.", "WxH", "1280x720"});
    parser.process(bootstrap);
    seconds = std::max(1, parser.value("seconds").toInt());
    fps = std::clamp(parser.value("fps").toInt(), 1, 240);
    const QStringList size = parser.value("window").split('x');
    if (size.size() == 2) window = QSize(size[0].toInt(), size[1].toInt()).expandedTo(QSize(64, 64));
    display = std::make_unique<test::VirtualDisplay>(/*twoMonitors=*/false);
  }
  if (!display->isRunning()) {
    std::fprintf(stderr, "lunor-bench-view: %s\n", qPrintable(display->error()));
    return 1;
  }
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication app(argc, argv);
  setConsoleSink([](const QString&) {});

  test::ScriptedSession scripted;
  if (!scripted.clientInRoom()) return 1;
  auto track = std::make_shared<rtc::FakeVideoTrack>("remote");
  scripted.connection()->observer->onVideoTrack(track);
  scripted.server.sendJson(test::signalMessage({{"type", "videoGeometry"}, {"width", 1920}, {"height", 1080}}));
  if (!QTest::qWaitFor([&] { return scripted.client().hasRemoteVideoTrack(); }, 5000)) return 1;

  const size_t sinks = track->sinkCount();  // the session's own watch for a first picture
  QQuickView view;
  view.setResizeMode(QQuickView::SizeRootObjectToView);
  view.engine()->addImportPath("qrc:/qt/qml");
  view.setInitialProperties({{"session", QVariant::fromValue(&scripted.client())}});
  view.setSource(QUrl("qrc:/qt/qml/Lunor/Client/Stage.qml"));
  view.resize(window);
  view.show();
  if (!QTest::qWaitForWindowExposed(&view) || track->sinkCount() != sinks + 1) return 1;
  auto* picture = view.rootObject()->findChild<VideoView*>();
  if (!picture) return 1;
  std::atomic<int> swapped{0};
  QObject::connect(&view, &QQuickWindow::frameSwapped, [&] { ++swapped; });

  // The decoder's thread: a frame every 1/fps second.
  std::atomic<bool> running{true};
  const rtc::ToBgra toBgra = rtc::libraryToBgra();
  std::atomic<bool> measuring{false};
  std::atomic<int> pushed{0};
  std::atomic<double> feedCpu{0};
  std::thread decoder([&] {
    Frame frame(1920, 1080);
    const auto period = std::chrono::microseconds(1'000'000 / fps);
    auto next = std::chrono::steady_clock::now();
    for (uint32_t n = 0; running; ++n) {
      rtc::I420FrameView picture = frame.view(n);  // the decoder's work, not ours
      picture.toBgra = toBgra;
      const double before = bench::threadCpuSeconds();
      track->deliver(picture);
      if (measuring) {
        feedCpu = feedCpu + (bench::threadCpuSeconds() - before);
        ++pushed;
      }
      next += period;
      std::this_thread::sleep_until(next);
    }
  });

  QTest::qWait(2000);  // warm-up
  const uint64_t presented0 = picture->feed().framesPresented();
  const int swapped0 = swapped;
  const double cpu0 = bench::cpuSeconds();
  const double main0 = bench::threadCpuSeconds();
  measuring = true;
  QElapsedTimer wall;
  wall.start();
  QTest::qWait(seconds * 1000);
  measuring = false;
  const double elapsed = wall.elapsed() / 1000.0;
  const double cpu = bench::cpuSeconds() - cpu0;
  const double mainThread = bench::threadCpuSeconds() - main0;
  running = false;
  decoder.join();

  const int frames = std::max(1, pushed.load());
  const uint64_t presented = picture->feed().framesPresented() - presented0;
  const int shown = swapped - swapped0;
  std::printf("window             %dx%d, fit\n", window.width(), window.height());
  std::printf("frames pushed      %d (%.1f/s, 1920x1080 I420)\n", frames, frames / elapsed);
  std::printf("frames presented   %.1f/s (handed to the video sink)\n", presented / elapsed);
  std::printf("frames shown       %.1f/s (window swaps)\n", shown / elapsed);
  std::printf("our code           %.3f ms CPU per frame (copy into a video frame, on the decoder's thread)\n",
              feedCpu.load() * 1000 / frames);
  std::printf("main thread        %.3f ms CPU per frame (the hop, QML, the scene; render thread apart)\n",
              mainThread * 1000 / frames);
  std::printf("whole process      %.3f ms CPU per frame (software OpenGL included)\n", cpu * 1000 / frames);
  return 0;
}
