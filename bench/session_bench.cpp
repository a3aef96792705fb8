// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-bench: a host and a client session in one process, real WebRTC over
// loopback, a synthetic screen. Prints received frames per second,
// capture-to-render latency (p50/p95) and CPU seconds per wall second.
//
//   lunor-bench [--profile low|medium|high|epic] [--seconds N] [--display WxH]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include "cpu_time.h"
#include "fake_environment.h"
#include "host/synthetic_screen_capturer.h"
#include "client/client_session.h"
#include "host/host_session.h"
#include "rtc/webrtc/webrtc_factory.h"
#include "signal_server.h"
#include "system/console_log.h"

using namespace lunor;

namespace {

int64_t nowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

using bench::cpuSeconds;

// Capture times by frame number, and latencies of the frames that arrive.
struct StampClock final : rtc::VideoSink {
  std::mutex mutex;
  std::unordered_map<uint32_t, int64_t> captured;
  std::vector<double> latenciesMs;
  int frames = 0;
  int unreadable = 0;
  bool measuring = false;
  int width = 0, height = 0;

  void capturedFrame(uint32_t number, int64_t timestampUs) {
    std::lock_guard lock(mutex);
    captured[number] = timestampUs;
    if (captured.size() > 4096) captured.erase(number - 4096);
  }
  void onFrame(const rtc::I420FrameView& frame) override {
    const int64_t now = nowUs();
    const auto stamp = readFrameStamp(frame);
    std::lock_guard lock(mutex);
    width = frame.width;
    height = frame.height;
    if (!measuring) return;
    ++frames;
    auto it = stamp ? captured.find(*stamp) : captured.end();
    if (it == captured.end()) {
      ++unreadable;
      return;
    }
    latenciesMs.push_back((now - it->second) / 1000.0);
  }
};

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(p * (values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  // Every peer of the benchmark is on this machine: loopback paths too (the
  // processes it starts inherit this).
  qputenv("LUNOR_ICE_LOOPBACK", "1");
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription("Two in-process Lunor Remote sessions over loopback WebRTC.");
  parser.addHelpOption();
  parser.addOption({"profile", "Quality profile (low, medium, high, epic).", "name", "medium"});
  parser.addOption({"seconds", "Measured seconds, after 3 s of warm-up.", "n", "10"});
  parser.addOption({"display", "Synthetic display size.", "WxH", "1920x1080"});
  parser.process(app);

  const auto profile = qualityFromRaw(parser.value("profile"));
  const int seconds = parser.value("seconds").toInt();
  const QStringList size = parser.value("display").split('x');
  if (!profile || seconds <= 0 || size.size() != 2) {
    std::fprintf(stderr, "lunor-bench: bad arguments (see --help)\n");
    return 2;
  }
  const int displayWidth = size[0].toInt();
  const int displayHeight = size[1].toInt();

  setConsoleSink([](const QString&) {});  // the sessions' chatter would skew the figures
  signal::SignalServer server;
  if (server.listen(QHostAddress::LocalHost, 0)) return 1;
  const QUrl url(QString("ws://127.0.0.1:%1/signal").arg(server.port()));

  StampClock clock;
  auto makeSide = [&](test::FakeEnvironment& environment) {
    environment.endpoint.url = url;
    environment.makeRtcFactory = [] { return rtc::createWebRtcFactory(); };
  };
  test::FakeEnvironment hostEnvironment;
  test::FakeEnvironment clientEnvironment;
  makeSide(hostEnvironment);
  makeSide(clientEnvironment);
  hostEnvironment.displayList =
      StaticDisplayList({{1, displayWidth, displayHeight, QRect(0, 0, displayWidth, displayHeight)}});
  hostEnvironment.frameHook = [&](uint32_t n, int64_t t) { clock.capturedFrame(n, t); };

  HostSession host(hostEnvironment, hostEnvironment);
  ClientSession client(clientEnvironment);
  host.startHost("100000001");
  if (!QTest::qWaitFor([&] { return host.status() == Status::RoomOpen; }, 10000)) return 1;
  client.startClient("100000001");
  if (!QTest::qWaitFor([&] { return host.pendingJoin(); }, 10000)) return 1;
  host.approve();
  if (!QTest::qWaitFor([&] { return client.hasRemoteVideoTrack(); }, 20000)) {
    std::fprintf(stderr, "lunor-bench: no video\n");
    return 1;
  }
  client.remoteVideoTrack()->addSink(&clock);
  // The capture starts at the display's size; the profile applies from here,
  // asked for as the client asks for it.
  client.requestQuality(rawValue(*profile));
  if (!QTest::qWaitFor([&] { return host.currentQuality() == *profile; }, 10000)) return 1;
  QTest::qWait(3000);

  {
    std::lock_guard lock(clock.mutex);
    clock.measuring = true;
  }
  const double cpuStart = cpuSeconds();
  QElapsedTimer wall;
  wall.start();
  QTest::qWait(seconds * 1000);
  const double elapsed = wall.elapsed() / 1000.0;
  const double cpu = cpuSeconds() - cpuStart;
  client.remoteVideoTrack()->removeSink(&clock);

  std::lock_guard lock(clock.mutex);
  const QualitySettings& q = settingsOf(*profile);
  std::printf("profile            %s (%dx%d @%d fps), display %dx%d\n", qPrintable(rawValue(*profile)),
              q.width, q.height, q.fps, displayWidth, displayHeight);
  std::printf("received frames    %dx%d\n", clock.width, clock.height);
  std::printf("received fps       %.1f\n", clock.frames / elapsed);
  std::printf("latency p50        %.1f ms\n", percentile(clock.latenciesMs, 0.50));
  std::printf("latency p95        %.1f ms\n", percentile(clock.latenciesMs, 0.95));
  std::printf("unreadable stamps  %d of %d\n", clock.unreadable, clock.frames);
  std::printf("cpu                %.2f s/s (both sessions, %d cores)\n", cpu / elapsed,
              static_cast<int>(std::thread::hardware_concurrency()));
  client.stop("Session terminée par le client");
  QTest::qWait(200);
  return 0;
}
