// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-bench-encoder: the H264 encoders on the busy screen of the other
// benchmarks. Records a few seconds of a terminal scrolling a build log
// (1920x1080 at the profile's rate, read by our X11 capturer), then encodes
// the same pictures with each encoder and setting at the link's rate, decodes
// them and compares each decoded picture (the last one shown, where the
// encoder skipped) with the captured one. Prints per setting the CPU per
// picture, the wall time per picture (what it adds to the latency), the bit
// rate and the quality (PSNR and SSIM of the luma).
//
//   lunor-bench-encoder [--seconds N] [--fps F] [--kbps K] [--line-delay S] [--json FILE]
//
// With --sizes, x264 alone at the link's rate, the picture made smaller
// (3/4, 1/2) or fewer (every second one), each picture the viewer sees
// scaled back to the screen's size: which to give up first on a narrow link.
// Also the still screen after the recording, sharpened as the adapter does.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <tuple>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include "build_log.h"
#include "picture_quality.h"
#include "cpu_time.h"
#include "host/x11/display_list_x11.h"
#include "host/x11/screen_capturer_x11.h"
#include "rtc/h264/h264_engine.h"
#include "rtc/h264/still_sharpener.h"
#include "rtc/peer_connection.h"
#include "virtual_display.h"

using namespace lunor;
using lunor::bench::psnr;
using lunor::bench::ssim;

namespace {

struct I420 {
  int width = 0, height = 0;
  int64_t timestampUs = 0;
  std::vector<uint8_t> y, u, v;
};

// BGRA to I420, BT.601 limited range (as the library converts).
I420 toI420(const rtc::VideoFrameView& f) {
  I420 p;
  p.width = f.width;
  p.height = f.height;
  p.timestampUs = f.timestampUs;
  const int cw = (f.width + 1) / 2, ch = (f.height + 1) / 2;
  p.y.resize(size_t(f.width) * f.height);
  p.u.resize(size_t(cw) * ch);
  p.v.resize(size_t(cw) * ch);
  for (int r = 0; r < f.height; ++r) {
    const uint8_t* s = f.data + size_t(r) * f.stride;
    for (int c = 0; c < f.width; ++c) {
      const int b = s[4 * c], g = s[4 * c + 1], rr = s[4 * c + 2];
      p.y[size_t(r) * f.width + c] = uint8_t((66 * rr + 129 * g + 25 * b + 128) / 256 + 16);
    }
  }
  for (int r = 0; r < ch; ++r) {
    for (int c = 0; c < cw; ++c) {
      int b = 0, g = 0, rr = 0, n = 0;
      for (int dy = 0; dy < 2 && 2 * r + dy < f.height; ++dy) {
        for (int dx = 0; dx < 2 && 2 * c + dx < f.width; ++dx) {
          const uint8_t* s = f.data + size_t(2 * r + dy) * f.stride + 4 * (2 * c + dx);
          b += s[0], g += s[1], rr += s[2], ++n;
        }
      }
      b /= n, g /= n, rr /= n;
      p.u[size_t(r) * cw + c] = uint8_t((-38 * rr - 74 * g + 112 * b + 128) / 256 + 128);
      p.v[size_t(r) * cw + c] = uint8_t((112 * rr - 94 * g - 18 * b + 128) / 256 + 128);
    }
  }
  return p;
}

// Keeps every picture the capturer hands on.
struct Recorder final : rtc::VideoSource {
  std::vector<I420> pictures;
  bool recording = false;
  void adaptOutputFormat(int, int, int) override {}
  void pushFrame(const rtc::VideoFrameView& frame) override {
    if (recording) pictures.push_back(toI420(frame));
  }
  bool repeatLastFrame(int64_t) override { return true; }
  void sendKeyFrame() override {}
};


struct Setting {
  QString label;
  std::string engine;
  rtc::H264EncoderConfig config;
};

struct Figures {
  double cpuMsPerPicture = 0, wallMsPerPicture = 0, wallMsMax = 0, kbps = 0, psnr = 0, psnrMin = 100, ssim = 0,
         meanQp = -1;
  int skipped = 0, keyFrames = 0;
  QString error;
};

Figures run(const Setting& s, const std::vector<I420>& pictures, double fps) {
  Figures f;
  auto engine = rtc::createH264Engine(s.engine);
  std::string error;
  if (!engine || !engine->open(s.config, &error)) {
    f.error = QString::fromStdString(error.empty() ? "no such encoder" : error);
    return f;
  }
  rtc::H264PictureDecoder decoder;
  std::vector<uint8_t> shownY;  // the picture the viewer sees
  int shownStride = 0;
  double bytes = 0, qpSum = 0;
  int qpCount = 0;
  double wall = 0;
  for (size_t i = 0; i < pictures.size(); ++i) {
    const I420& p = pictures[i];
    rtc::H264Picture in;
    in.y = p.y.data(), in.u = p.u.data(), in.v = p.v.data();
    in.strideY = p.width, in.strideU = in.strideV = (p.width + 1) / 2;
    in.width = p.width, in.height = p.height;
    in.timestampUs = int64_t(double(i) * 1e6 / fps);
    in.keyFrame = i == 0;
    rtc::H264Output out;
    const auto start = std::chrono::steady_clock::now();
    const double cpuBefore = bench::cpuSeconds();
    if (!engine->encode(in, out)) {
      f.error = "encoding failed";
      return f;
    }
    f.cpuMsPerPicture += (bench::cpuSeconds() - cpuBefore) * 1000;
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    wall += ms;
    f.wallMsMax = std::max(f.wallMsMax, ms);
    if (out.annexB.empty()) {
      ++f.skipped;
    } else {
      bytes += double(out.annexB.size());
      f.keyFrames += out.keyFrame ? 1 : 0;
      if (out.qp >= 0) qpSum += out.qp, ++qpCount;
      rtc::H264PictureDecoder::Planes planes;
      if (decoder.decode(out.annexB, planes) && planes.width == p.width && planes.height == p.height) {
        shownStride = p.width;
        shownY.resize(size_t(p.width) * p.height);
        for (int r = 0; r < p.height; ++r) {
          std::copy_n(planes.y + size_t(r) * planes.strideY, p.width, shownY.data() + size_t(r) * p.width);
        }
      }
    }
    if (shownY.empty()) {
      f.error = "the first picture did not decode";
      return f;
    }
    const double q = psnr(p.y.data(), p.width, shownY.data(), shownStride, p.width, p.height);
    f.psnr += q;
    f.psnrMin = std::min(f.psnrMin, q);
    f.ssim += ssim(p.y.data(), p.width, shownY.data(), shownStride, p.width, p.height);
  }
  const double n = double(pictures.size());
  f.cpuMsPerPicture /= n;
  f.wallMsPerPicture = wall / n;
  f.kbps = bytes * 8 / 1000 / (n / fps);
  f.psnr /= n;
  f.ssim /= n;
  f.meanQp = qpCount ? qpSum / qpCount : -1;
  return f;
}

// x264 on pictures scale times the screen's size, one in `step` of them.
struct Reduced {
  double scale = 1;
  int step = 1;
};
struct ReducedFigures {
  int width = 0, height = 0;
  double kbps = 0, meanQp = 0, psnr = 0, ssim = 0, p10Psnr = 0;
  double stillPsnr = 0, stillMsToSharp = -1, ceilingPsnr = 0;
};

ReducedFigures runReduced(const Reduced& r, const std::vector<I420>& pictures, double fps, int kbps) {
  ReducedFigures f;
  f.width = int(std::lround(1920 * r.scale / 2)) * 2;
  f.height = int(std::lround(1080 * r.scale / 2)) * 2;
  rtc::H264EncoderConfig c;
  c.width = f.width, c.height = f.height, c.fps = fps / r.step, c.bitrateBps = kbps * 1000;
  auto engine = rtc::createH264Engine("x264");
  if (!engine->open(c, nullptr)) return f;
  rtc::H264PictureDecoder decoder;
  bench::LumaPicture shown;
  struct Small {
    bench::LumaPicture y, u, v;
  };
  const auto smaller = [&](const I420& p) {
    const int cw = (p.width + 1) / 2, ch = (p.height + 1) / 2;
    return Small{bench::shrunk(p.y.data(), p.width, p.width, p.height, f.width, f.height),
                 bench::shrunk(p.u.data(), cw, cw, ch, f.width / 2, f.height / 2),
                 bench::shrunk(p.v.data(), cw, cw, ch, f.width / 2, f.height / 2)};
  };
  double bytes = 0, qpSum = 0;
  int qpCount = 0;
  rtc::StillSharpener sharpener;
  // Codes one picture (repeat: the same as the last one) at time us.
  const auto code = [&](const Small& s, int64_t us, bool key, bool repeat) {
    const rtc::StillSharpener::Plan plan = sharpener.next(repeat, key, us, c.bitrateBps, f.height);
    rtc::H264Picture in;
    in.y = s.y.y.data(), in.u = s.u.y.data(), in.v = s.v.y.data();
    in.strideY = f.width, in.strideU = in.strideV = f.width / 2;
    in.width = f.width, in.height = f.height, in.timestampUs = us, in.keyFrame = key;
    rtc::StillSharpener::apply(plan, in);
    rtc::H264Output out;
    if (!engine->encode(in, out) || out.annexB.empty()) return size_t(0);
    if (!repeat && !key) qpSum += out.qp, ++qpCount;
    sharpener.coded(plan, out.keyFrame, out.annexB.size(), us, c.bitrateBps);
    rtc::H264PictureDecoder::Planes planes;
    if (decoder.decode(out.annexB, planes)) shown = bench::copyLuma(planes.y, planes.strideY, planes.width, planes.height);
    return out.annexB.size();
  };
  std::vector<double> psnrs;
  for (size_t i = 0; i < pictures.size(); ++i) {
    const I420& p = pictures[i];
    if (i % size_t(r.step) == 0) {
      bytes += double(code(smaller(p), int64_t(double(i) * 1e6 / fps), i == 0, false));
    }
    if (shown.y.empty()) return f;
    const bench::Likeness l = bench::likeness(bench::LumaPicture{p.width, p.height, p.y}, shown);
    psnrs.push_back(l.psnr);
    f.psnr += l.psnr;
    f.ssim += l.ssim;
  }
  const double n = double(pictures.size());
  f.kbps = bytes * 8 / 1000 / (n / fps);
  f.psnr /= n;
  f.ssim /= n;
  f.meanQp = qpCount ? qpSum / qpCount : -1;
  std::sort(psnrs.begin(), psnrs.end());
  f.p10Psnr = psnrs[psnrs.size() / 10];
  // The screen stops on the last picture: its repeats for 2 s.
  const I420& last = pictures.back();
  const bench::LumaPicture reference{last.width, last.height, last.y};
  const Small still = smaller(last);
  const int64_t stopUs = int64_t(n * 1e6 / fps);
  for (const auto d : {150, 190, 230, 270, 310, 450, 700, 1700}) {  // as the capture repeats it
    const int64_t t = d * 1000;
    code(still, stopUs + t, false, true);
    f.stillPsnr = bench::likeness(reference, shown).psnr;
    if (f.stillMsToSharp < 0 && f.stillPsnr >= 45) f.stillMsToSharp = double(t) / 1000;
  }
  f.ceilingPsnr = bench::likeness(reference, still.y).psnr;
  return f;
}

void compareReductions(const std::vector<I420>& pictures, double fps, int kbps, QJsonArray& rows) {
  std::printf("%-28s %8s %6s %9s %9s %8s %9s %10s %9s\n", "picture", "kbit/s", "QP", "PSNR dB", "p10 dB", "SSIM",
              "still dB", "sharp ms", "best dB");
  for (const Reduced r : {Reduced{1, 1}, Reduced{1, 2}, Reduced{0.75, 1}, Reduced{0.75, 2}, Reduced{0.5, 1}}) {
    const ReducedFigures f = runReduced(r, pictures, fps, kbps);
    const QString label = QStringLiteral("%1x%2, %3/s").arg(f.width).arg(f.height).arg(fps / r.step, 0, 'f', 1);
    std::printf("%-28s %8.0f %6.1f %9.2f %9.2f %8.4f %9.2f %10.0f %9.2f\n", qPrintable(label), f.kbps, f.meanQp, f.psnr, f.p10Psnr,
                f.ssim, f.stillPsnr, f.stillMsToSharp, f.ceilingPsnr);
    rows.append(QJsonObject{{"picture", label},
                            {"kbps", f.kbps},
                            {"meanQp", f.meanQp},
                            {"psnrY", f.psnr},
                            {"p10PsnrY", f.p10Psnr},
                            {"ssimY", f.ssim},
                            {"stillPsnrAfter2s", f.stillPsnr},
                            {"stillMsToSharp", f.stillMsToSharp},
                            {"bestStillPsnr", f.ceilingPsnr}});
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "The H264 encoders on a scrolling terminal (1920x1080): CPU, latency, bit rate and quality per setting.");
  parser.addHelpOption();
  parser.addOption({"seconds", "Seconds of screen recorded.", "n", "8"});
  parser.addOption({"fps", "Pictures a second (the medium profile's 25).", "n", "25"});
  parser.addOption({"kbps", "The link's rate given to the encoders (the medium profile's ceiling).", "n", "8000"});
  parser.addOption({"line-delay", "Seconds between two lines of the scrolling text.", "s", "0.02"});
  parser.addOption({"sizes", "x264 alone, the picture smaller or fewer pictures, at the link's rate."});
  parser.addOption({"json", "Where the figures go.", "file", "lunor-bench-encoder.json"});
  parser.process(app);
  const int seconds = std::max(1, parser.value("seconds").toInt());
  const int fps = std::clamp(parser.value("fps").toInt(), 1, 60);
  const int kbps = std::max(100, parser.value("kbps").toInt());

  test::VirtualDisplay display(false);
  if (!display.isRunning()) {
    std::fprintf(stderr, "lunor-bench-encoder: %s\n", qPrintable(display.error()));
    return 1;
  }
  QProcess terminal;
  if (!bench::startScrollingTerminal(terminal, display.name(), parser.value("line-delay").toDouble())) {
    std::fprintf(stderr, "lunor-bench-encoder: xterm did not start (scripts/install-bench-deps.sh)\n");
    return 1;
  }
  QTest::qWait(1500);

  auto recorder = std::make_shared<Recorder>();
  DisplayListX11 displays;
  ScreenCapturerX11 capturer(recorder, displays);
  bool started = false;
  capturer.startCapture(0, 1920, 1080, fps, [&](std::optional<CaptureError> e) { started = !e; });
  if (!QTest::qWaitFor([&] { return started; }, 10000)) {
    std::fprintf(stderr, "lunor-bench-encoder: the capture did not start\n");
    return 1;
  }
  QTest::qWait(500);
  recorder->recording = true;
  QTest::qWait(seconds * 1000);
  recorder->recording = false;
  capturer.stopCapture();
  terminal.terminate();
  terminal.waitForFinished(3000);
  const std::vector<I420>& pictures = recorder->pictures;
  const double recordedFps = double(pictures.size()) / seconds;
  std::printf("lunor-bench-encoder: %zu pictures of a scrolling terminal, 1920x1080 at %.1f/s, link %d kbit/s\n\n",
              pictures.size(), recordedFps, kbps);
  if (pictures.size() < 2) return 1;

  // The figures, under `key`, beside what they were measured on.
  const auto writeFigures = [&](const char* key, const QJsonArray& rows) {
    QFile out(parser.value("json"));
    if (!out.open(QIODevice::WriteOnly)) return;
    out.write(QJsonDocument(QJsonObject{
                                {"pictures", int(pictures.size())}, {"fps", recordedFps}, {"linkKbps", kbps}, {key, rows}})
                  .toJson());
  };
  if (parser.isSet("sizes")) {
    QJsonArray rows;
    compareReductions(pictures, recordedFps, kbps, rows);
    writeFigures("reductions", rows);
    return 0;
  }

  auto config = [&](auto&& tweak) {
    rtc::H264EncoderConfig c;
    c.width = 1920;
    c.height = 1080;
    c.fps = fps;
    c.bitrateBps = kbps * 1000;
    tweak(c);
    return c;
  };
  std::vector<Setting> settings;
  for (int complexity : {0, 1, 2}) {
    settings.push_back({QStringLiteral("OpenH264 screen, complexity %1").arg(complexity), "openh264",
                        config([&](auto& c) { c.complexity = complexity; })});
  }
  settings.push_back({"OpenH264 camera, complexity 0", "openh264", config([](auto& c) { c.screenContent = false; })});
  settings.push_back({"OpenH264 screen, 2 threads, 2 slices", "openh264", config([](auto& c) {
                        c.threads = 2;
                        c.slices = 2;
                      })});
  settings.push_back({"OpenH264 screen, 1 thread, 4 slices", "openh264", config([](auto& c) { c.slices = 4; })});
  for (const char* preset : {"ultrafast", "superfast", "veryfast"}) {
    for (double crf : {23.0, 27.0, 30.0}) {
      settings.push_back({QStringLiteral("x264 %1, CRF %2").arg(preset).arg(crf), "x264", config([&](auto& c) {
                            c.preset = preset;
                            c.crf = crf;
                          })});
    }
  }
  settings.push_back({"x264 ultrafast, CRF 28 (the default)", "x264", config([](auto&) {})});
  // A plain x264 pipeline (GStreamer's x264enc with zerolatency): the link's
  // rate as an average, no quality aimed at.
  settings.push_back({"x264 ultrafast, the rate as an average", "x264", config([](auto& c) { c.crf = 0; })});
  settings.push_back({"x264 ultrafast, CRF 27, 2 threads", "x264", config([](auto& c) {
                        c.crf = 27;
                        c.threads = 2;
                      })});
  settings.push_back({"x264 superfast, CRF 27, 2 threads", "x264", config([](auto& c) {
                        c.preset = "superfast";
                        c.crf = 27;
                        c.threads = 2;
                      })});

  std::printf("%-38s %9s %9s %9s %8s %8s %8s %7s %6s %5s\n", "setting", "CPU ms", "wall ms", "max ms", "kbit/s",
              "PSNR dB", "min dB", "SSIM", "QP", "skip");
  QJsonArray rows;
  for (const Setting& s : settings) {
    const Figures f = run(s, pictures, recordedFps);
    if (!f.error.isEmpty()) {
      std::printf("%-38s %s\n", qPrintable(s.label), qPrintable(f.error));
      rows.append(QJsonObject{{"setting", s.label}, {"error", f.error}});
      continue;
    }
    std::printf("%-38s %9.2f %9.2f %9.2f %8.0f %8.2f %8.2f %7.4f %6.1f %5d\n", qPrintable(s.label), f.cpuMsPerPicture,
                f.wallMsPerPicture, f.wallMsMax, f.kbps, f.psnr, f.psnrMin, f.ssim, f.meanQp, f.skipped);
    rows.append(QJsonObject{{"setting", s.label},
                            {"cpuMsPerPicture", f.cpuMsPerPicture},
                            {"wallMsPerPicture", f.wallMsPerPicture},
                            {"wallMsMax", f.wallMsMax},
                            {"kbps", f.kbps},
                            {"psnrY", f.psnr},
                            {"psnrYMin", f.psnrMin},
                            {"ssimY", f.ssim},
                            {"meanQp", f.meanQp},
                            {"skipped", f.skipped},
                            {"keyFrames", f.keyFrames},
                            {"coresAtProfileRate", f.cpuMsPerPicture * recordedFps / 1000}});
  }
  writeFigures("settings", rows);
  return 0;
}
