// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-bench-e2e: glass-to-glass figures on a real screen. A private
// 1920x1080 X server (or a headless GNOME Wayland desktop) shows text
// scrolling over most of it and a corner stamp whose counter changes every
// 16 ms; the shipped lunor-remote
// shares it as a headless host, and a receiver (our client session in this
// process, or headless Chromium with a page of ours) reads the counter out
// of every decoded picture. Prints, per quality profile, the latency from
// the stamp's draw to the decoded picture, the received frame rate, CPU,
// memory, bit rate, connect to first picture and where the time goes, and
// writes the same figures as JSON. With --typing it measures keystroke to
// glyph instead: the receiver types into a window of ours on a still X
// screen, and each key's way is split at the window's arrival of the key
// and its drawing. With --network it measures one profile on weak networks
// instead: the receiver gets its media through a TURN server (coturn on
// loopback) alone, reached through lunor-impair, which impairs the path
// as each named scenario says (the host reaches the TURN server directly).
// With --file the window is a file's transfer instead: the receiver sends
// a file of the given size to the host while the pictures (or the typed
// keys) are measured as usual, and the transfer's rate and both sides'
// memory are added to the figures.
//
//   lunor-bench-e2e [--profiles low,medium,high,epic] [--seconds N] [--typing]
//                   [--network clean,delay,reorder,loss,cap1m,blackout|all]
//                   [--receiver native|browser] [--desktop x11|wayland] [--file MIB] [--json FILE]

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "browser_receiver.h"
#include "build_log.h"
#include "headless_desktop.h"
#include "impair_process.h"
#include "native_receiver.h"
#include "network_scenario.h"
#include "process_stats.h"
#include "remote_process.h"
#include "session/service_config.h"
#include "signal_server_process.h"
#include "picture_quality.h"
#include "stamp.h"
#include "system/console_log.h"
#include "turn_server.h"
#include "virtual_display.h"
#include "wayland_scenery.h"

using namespace lunor;
using namespace lunor::bench;

namespace {

constexpr char kPassword[] = "banc-de-mesure-42";

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(std::lround(p * double(values.size() - 1)))];
}

double mean(const std::vector<double>& values) {
  if (values.empty()) return 0;
  double sum = 0;
  for (double v : values) sum += v;
  return sum / double(values.size());
}

// The host's sender counters, from its last "📊 sender" line.
struct SenderCounters {
  double encoded = 0, sent = 0, encodeTotal = 0, sendDelayTotal = 0, packets = 0, bytes = 0, qpSum = 0;
  int64_t atUs = 0;  // when the line was read
  QString size, encoder, limit;
  bool valid = false;
};

SenderCounters lastSenderCounters(const QString& output) {
  SenderCounters c;
  const int at = output.lastIndexOf(QStringLiteral("📊 sender "));
  if (at < 0) return c;
  const QString line = output.mid(at, output.indexOf(QLatin1Char('\n'), at) - at);
  auto field = [&](const QString& key) {
    static const QRegularExpression pair(QStringLiteral("(\\w+)=(\\S*)"));
    for (auto it = pair.globalMatch(line); it.hasNext();) {
      const auto m = it.next();
      if (m.captured(1) == key) return m.captured(2);
    }
    return QString();
  };
  c.encoded = field("encoded").toDouble();
  c.sent = field("sent").toDouble();
  c.encodeTotal = field("encodeTotal").toDouble();
  c.sendDelayTotal = field("sendDelayTotal").toDouble();
  c.packets = field("packets").toDouble();
  c.bytes = field("bytes").toDouble();
  c.qpSum = field("qpSum").toDouble();
  c.size = field("size");
  c.encoder = field("encoder");
  c.limit = field("limit");
  c.valid = true;
  return c;
}

// Waits for the host's next counters line (they come once a second).
SenderCounters freshSenderCounters(test::RemoteProcess& host) {
  const int before = host.output().count(QStringLiteral("📊 sender "));
  std::ignore = QTest::qWaitFor([&] { return host.output().count(QStringLiteral("📊 sender ")) > before; }, 3000);
  SenderCounters c = lastSenderCounters(host.output());
  c.atUs = monotonicUs();
  return c;
}

// What the host shares: a private X server with a terminal scrolling a
// build log and the stamp window over it, or a headless GNOME desktop with
// the scenery program doing both.
struct SharedScreen {
  std::unique_ptr<test::VirtualDisplay> x11;
  std::unique_ptr<QProcess> terminal;
  std::unique_ptr<test::HeadlessDesktop> wayland;
  std::unique_ptr<Stamp> stamp;
  QString error;

  TypingStamp* typing = nullptr;  // in the typing measurement

  bool start(const QString& desktop, double lineDelay, bool typed) {
    if (typed) {
      // A still screen but for one window of ours, which counts the keys.
      x11 = std::make_unique<test::VirtualDisplay>(false);
      if (!x11->isRunning()) {
        error = x11->error();
        return false;
      }
      auto window = std::make_unique<TypingStamp>(x11->name().toStdString());
      if (!window->start()) {
        error = "cannot open " + x11->name();
        return false;
      }
      typing = window.get();
      stamp = std::move(window);
      return true;
    }
    if (desktop == "wayland") {
      wayland = std::make_unique<test::HeadlessDesktop>(QList<QSize>{QSize(1920, 1080)});
      if (!wayland->isRunning()) {
        error = wayland->error();
        return false;
      }
      auto scenery = std::make_unique<WaylandScenery>();
      if (!scenery->start(*wayland, lineDelay)) {
        error = scenery->error();
        return false;
      }
      stamp = std::move(scenery);
      return true;
    }
    x11 = std::make_unique<test::VirtualDisplay>(false);
    if (!x11->isRunning()) {
      error = x11->error();
      return false;
    }
    terminal = std::make_unique<QProcess>();
    // About 40 lines a second by default.
    if (!startScrollingTerminal(*terminal, x11->name(), lineDelay)) {
      error = "xterm did not start (scripts/install-bench-deps.sh)";
      return false;
    }
    QTest::qWait(1000);
    auto window = std::make_unique<StampWindow>(x11->name().toStdString());
    if (!window->start()) {
      error = "cannot open " + x11->name();
      return false;
    }
    stamp = std::move(window);
    return true;
  }
  ~SharedScreen() {
    stamp.reset();
    if (terminal) {
      setPaused(false);
      terminal->terminate();
      terminal->waitForFinished(3000);
    }
  }
  void setPaused(bool paused) {
    if (terminal) ::kill(pid_t(terminal->processId()), paused ? SIGSTOP : SIGCONT);
    if (stamp) stamp->setPaused(paused);
  }
  qint64 serverPid() const { return x11 ? x11->pid() : wayland->compositorPid(); }
};

QString fixed(double value, int decimals = 1) { return QString::number(value, 'f', decimals); }

// The way of each timed key up to the picture, from the typing window's
// clocks: sent → the window's X event, that event → the new counter drawn,
// drawn → the first picture showing it.
struct TypingStages {
  std::vector<double> keyToEventMs, eventToDrawnMs, drawnToPictureMs;
};

TypingStages typingStages(const TypingStamp& typing, const ReceiverWindow& w) {
  TypingStages stages;
  for (size_t i = 0; i < w.timedStamps.size() && i < w.latenciesMs.size(); ++i) {
    const uint32_t key = w.timedStamps[i];
    const int64_t sent = typing.drawnAt(key);
    const int64_t event = typing.keyEventAt(key);
    const int64_t drawn = typing.glyphDrawnAt(key);
    if (sent == 0 || event == 0 || drawn == 0) continue;
    stages.keyToEventMs.push_back((event - sent) / 1000.0);
    stages.eventToDrawnMs.push_back((drawn - event) / 1000.0);
    stages.drawnToPictureMs.push_back(w.latenciesMs[i] - (drawn - sent) / 1000.0);
  }
  return stages;
}

QJsonObject spread(const std::vector<double>& values) {
  return QJsonObject{{"p50", percentile(values, 0.5)},
                     {"p95", percentile(values, 0.95)},
                     {"mean", mean(values)},
                     {"samples", int(values.size())}};
}

QString p50p95(const std::vector<double>& values) {
  return QStringLiteral("%1 / %2 ms").arg(fixed(percentile(values, 0.5)), fixed(percentile(values, 0.95)));
}

void line(const QString& label, const QString& value) {
  // Padded by characters: the arrows are several bytes each.
  std::printf("  %s %s\n", qPrintable(label.leftJustified(34)), qPrintable(value));
}

// The latencies (ms) of the pictures got between fromUs and toUs whose
// stamp could be read.
std::vector<double> latenciesBetween(const ReceiverWindow& w, int64_t fromUs, int64_t toUs) {
  std::vector<double> latencies;
  for (const SeenPicture& p : w.pictures) {
    if (p.drawnUs != 0 && p.atUs >= fromUs && p.atUs < toUs) latencies.push_back((p.atUs - p.drawnUs) / 1000.0);
  }
  return latencies;
}

// From the link's return at backUs: to the first picture at all, and to
// the first whose stamp was drawn after it (fresh content); -1 for none.
struct Recovery {
  double toPictureMs = -1;
  double toFreshMs = -1;
};

Recovery recoveryAfter(const ReceiverWindow& w, int64_t backUs) {
  Recovery r;
  for (const SeenPicture& p : w.pictures) {
    if (p.atUs < backUs) continue;
    if (r.toPictureMs < 0) r.toPictureMs = (p.atUs - backUs) / 1000.0;
    if (p.drawnUs >= backUs) {
      r.toFreshMs = (p.atUs - backUs) / 1000.0;
      break;
    }
  }
  return r;
}

// The relay's counters over the window, by name.
QJsonObject relayCounters(const QHash<QString, double>& before, const QHash<QString, double>& after) {
  QJsonObject counters;
  for (auto it = after.begin(); it != after.end(); ++it) counters[it.key()] = it.value() - before.value(it.key());
  return counters;
}

// What the relay saw over a window: its counters at both ends, and the
// blackout it was asked for.
struct RelayWindow {
  QHash<QString, double> before, after;
  std::optional<std::pair<int64_t, int64_t>> blackout;  // start and end, monotonicUs
};

// A weak network's own figures for a window, printed and as JSON: the
// latency's course, what the host sent, what the relay carried, dropped
// and saw asked again, and the recovery from a blackout.
QJsonObject networkFigures(const NetworkScenario& scenario, QualityProfile profile, const ReceiverWindow& w,
                           const SenderCounters& sentBefore, const SenderCounters& sentAfter, const RelayWindow& relay) {
  const std::vector<double> first = latenciesBetween(w, w.startUs, w.startUs + 5'000'000);
  const int64_t endUs = w.startUs + int64_t(w.seconds * 1e6);
  const std::vector<double> last = latenciesBetween(w, endUs - 5'000'000, endUs);
  // Where a queue builds up and drains: the median of each second.
  QJsonArray perSecond;
  for (int64_t from = w.startUs; from + 1'000'000 <= endUs; from += 1'000'000) {
    const std::vector<double> second = latenciesBetween(w, from, from + 1'000'000);
    perSecond.append(second.empty() ? QJsonValue() : QJsonValue(std::round(percentile(second, 0.5) * 10) / 10));
  }
  const double senderSeconds = (sentAfter.atUs - sentBefore.atUs) / 1e6;
  const double sentFps = senderSeconds > 0 ? (sentAfter.sent - sentBefore.sent) / senderSeconds : 0;
  const QJsonObject counters = relayCounters(relay.before, relay.after);
  auto counter = [&](const char* key) { return counters.value(key).toInt(); };
  QJsonObject net{{"scenario", scenario.name},
                  {"conditions", scenario.summary},
                  {"relayArguments", QJsonArray::fromStringList(scenario.conditions)},
                  {"profile", rawValue(profile)},
                  {"latencyP50First5sMs", percentile(first, 0.5)},
                  {"latencyP50Last5sMs", percentile(last, 0.5)},
                  {"latencyP50PerSecondMs", perSecond},
                  {"sentSize", sentAfter.size},
                  {"sentFps", sentFps},
                  {"relay", counters}};
  auto known = [](const std::optional<double>& v) { return v ? QString::number(*v) : QStringLiteral("?"); };
  if (w.nacksSent) net["receiverNacks"] = *w.nacksSent;
  if (w.plisSent) net["receiverPlis"] = *w.plisSent;
  if (w.packetsLost) net["receiverPacketsLost"] = *w.packetsLost;
  if (w.freezes && w.frozenSeconds) {
    net["receiverFreezes"] = *w.freezes;
    net["receiverFrozenSeconds"] = *w.frozenSeconds;
    line("receiver freezes", QStringLiteral("%1, %2 s in all").arg(known(w.freezes), fixed(*w.frozenSeconds)));
  }
  line("latency p50, first / last 5 s",
       QStringLiteral("%1 / %2 ms").arg(fixed(percentile(first, 0.5)), fixed(percentile(last, 0.5))));
  line("sent", QStringLiteral("%1 at %2 fps, limited by %3").arg(sentAfter.size, fixed(sentFps), sentAfter.limit));
  line("relay → receiver", QStringLiteral("%1 in · %2 lost · %3 queue full · %4 blackout · RTX %5 (padding %6)")
                               .arg(counter("down_in"))
                               .arg(counter("down_lost"))
                               .arg(counter("down_queue"))
                               .arg(counter("down_blackout"))
                               .arg(counter("down_rtx"))
                               .arg(counter("down_rtx_padding")));
  line("relay → host", QStringLiteral("%1 in · %2 lost · NACK %3 · PLI %4 · FIR %5")
                           .arg(counter("up_in"))
                           .arg(counter("up_lost"))
                           .arg(counter("up_nack"))
                           .arg(counter("up_pli"))
                           .arg(counter("up_fir")));
  if (w.nacksSent || w.plisSent || w.packetsLost) {
    line("receiver NACK / PLI / lost", QStringLiteral("%1 / %2 / %3").arg(known(w.nacksSent), known(w.plisSent),
                                                                          known(w.packetsLost)));
  }
  if (scenario.blackoutSeconds > 0 && relay.blackout) {
    const Recovery r = recoveryAfter(w, relay.blackout->second);
    net["blackout"] = QJsonObject{{"seconds", (relay.blackout->second - relay.blackout->first) / 1e6},
                                  {"startS", (relay.blackout->first - w.startUs) / 1e6},
                                  {"toPictureMs", r.toPictureMs},
                                  {"toFreshPictureMs", r.toFreshMs}};
    line("link back → picture / fresh picture", QStringLiteral("%1 / %2 ms").arg(fixed(r.toPictureMs), fixed(r.toFreshMs)));
  } else if (scenario.blackoutSeconds > 0) {
    net["blackout"] = QJsonObject{{"error", "the relay did not start it"}};
    line("blackout", "the relay did not start it");
  }
  return net;
}

// A file's window: its clock and both sides' memory.
struct FileWindow {
  QElapsedTimer clock;
  QTimer sampler;
  bool over = false;
  double seconds = 0;
  double hostRssBefore = 0, hostRssMax = 0, ownRssBefore = 0, ownRssMax = 0;
};

// The longest a file's window lasts.
constexpr qint64 kFileWindowLimitMs = 600'000;

// A file of mib MiB of noise (nothing to gain by compressing it).
bool writeFile(const QString& path, int mib) {
  QFile out(path);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  QByteArray block(1 << 20, Qt::Uninitialized);
  QRandomGenerator random(42);
  for (int i = 0; i < mib; ++i) {
    random.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    if (out.write(block) != block.size()) return false;
  }
  return true;
}

// Pictures against the screen. Moving: now and then the text and the stamp
// are held for a moment, the screen read back, and the first picture that
// shows the held stamp compared with it; each sample after the text has
// moved long enough for the encoder to be in its moving regime. Still: the
// same, held for good, every picture that comes compared with the screen,
// to see how soon it is sharp and how many pictures that takes (longer on
// a weak link, which carries a sharp screenful in seconds).
constexpr int kMotionSamples = 8;
constexpr int kMovingMs = 700;
constexpr int kStillMs = 2000;
constexpr int kStillOnWeakLinkMs = 6000;
constexpr double kSharpDb = 45;

// A luma plane as a PGM file, to look at.
void writePgm(const QString& path, const LumaPicture& picture) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return;
  file.write(QStringLiteral("P5\n%1 %2\n255\n").arg(picture.width).arg(picture.height).toLatin1());
  file.write(reinterpret_cast<const char*>(picture.y.data()), qint64(picture.y.size()));
}

// stillDir: where the still screen and each picture of it go as PGM files
// (empty: nowhere).
QJsonObject measureQuality(SharedScreen& screen, Receiver& receiver, int stillMs, const QString& stillDir) {
  if (!screen.x11 || screen.typing) return {{"error", "measured on the X11 desktop's scrolling text only"}};
  if (!receiver.keepPictures(true)) return {{"error", "this receiver keeps no pictures"}};
  const std::string display = screen.x11->name().toStdString();
  // Holds everything, reads the screen back once the terminal's last
  // drawing is in, and lets the capture see it before anything moves again
  // (held for good when holdMs is 0).
  const auto heldScreen = [&](int holdMs) -> std::optional<std::pair<uint32_t, LumaPicture>> {
    screen.setPaused(true);
    QTest::qWait(30);
    auto reference = grabScreenLuma(display);
    if (holdMs > 0) {
      QTest::qWait(holdMs);
      screen.setPaused(false);
    }
    if (!reference) return std::nullopt;
    const auto stamp = readStamp({reference->y.data(), reference->width, reference->width, reference->height});
    if (!stamp) return std::nullopt;
    return std::pair{*stamp, std::move(*reference)};
  };

  std::vector<double> psnr, ssim;
  int missed = 0;
  QTest::qWait(kMovingMs);
  for (int i = 0; i < kMotionSamples; ++i) {
    receiver.takeKeptPictures();
    const auto held = heldScreen(70);
    QTest::qWait(kMovingMs);
    if (!held) {
      ++missed;
      continue;
    }
    const auto pictures = receiver.takeKeptPictures();
    const auto shown = std::find_if(pictures.begin(), pictures.end(), [&](const KeptPicture& p) { return p.stamp == held->first; });
    if (shown == pictures.end()) {
      ++missed;
      continue;
    }
    const Likeness l = likeness(held->second, shown->luma);
    psnr.push_back(l.psnr);
    ssim.push_back(l.ssim);
  }

  receiver.takeKeptPictures();
  const int64_t stillFrom = monotonicUs();
  const auto still = heldScreen(0);
  QTest::qWait(stillMs);
  screen.setPaused(false);
  const auto pictures = receiver.takeKeptPictures();
  receiver.keepPictures(false);
  QJsonObject stillFigures;
  if (still) {
    if (!stillDir.isEmpty()) writePgm(stillDir + "/screen.pgm", still->second);
    QJsonArray course;  // [ms after the screen stopped, dB] per picture
    double firstDb = -1, lastDb = -1, sharpMs = -1, lastSsim = -1;
    int count = 0;
    for (const KeptPicture& p : pictures) {
      if (p.stamp != still->first || p.atUs < stillFrom) continue;
      const Likeness l = likeness(still->second, p.luma);
      const double ms = (p.atUs - stillFrom) / 1000.0;
      if (!stillDir.isEmpty()) writePgm(QStringLiteral("%1/picture-%2ms.pgm").arg(stillDir).arg(std::lround(ms)), p.luma);
      course.append(QJsonArray{std::round(ms), std::round(l.psnr * 10) / 10});
      if (firstDb < 0) firstDb = l.psnr;
      if (sharpMs < 0 && l.psnr >= kSharpDb) sharpMs = ms;
      lastDb = l.psnr;
      lastSsim = l.ssim;
      ++count;
    }
    stillFigures = QJsonObject{{"firstPsnr", firstDb}, {"lastPsnr", lastDb}, {"lastSsim", lastSsim},
                               {"msToSharp", sharpMs}, {"pictures", count}, {"watchedMs", stillMs}, {"course", course}};
    line("quality still: first / last", QStringLiteral("%1 / %2 dB (SSIM %3), %4 pictures in %5 s")
                                            .arg(fixed(firstDb), fixed(lastDb), fixed(lastSsim, 4))
                                            .arg(count)
                                            .arg(stillMs / 1000.0));
    line(QStringLiteral("quality still: ≥ %1 dB after").arg(kSharpDb),
         sharpMs < 0 ? QStringLiteral("never") : fixed(sharpMs, 0) + " ms");
  } else {
    stillFigures = QJsonObject{{"error", "the screen could not be read back"}};
  }
  line("quality moving: PSNR / SSIM", QStringLiteral("%1 dB / %2 (p10 %3 dB / %4), %5 of %6 samples")
                                          .arg(fixed(mean(psnr)), fixed(mean(ssim), 4), fixed(percentile(psnr, 0.1)),
                                               fixed(percentile(ssim, 0.1), 4))
                                          .arg(psnr.size())
                                          .arg(kMotionSamples));
  return {{"moving", QJsonObject{{"meanPsnr", mean(psnr)}, {"meanSsim", mean(ssim)}, {"p10Psnr", percentile(psnr, 0.1)},
                                 {"p10Ssim", percentile(ssim, 0.1)}, {"samples", int(psnr.size())}, {"missed", missed}}},
          {"still", stillFigures}, {"sharpDb", kSharpDb}};
}

// One measurement: a quality profile, on a weak network or not.
struct Run {
  QString label;
  QualityProfile profile;
  std::optional<NetworkScenario> network;
};

}  // namespace

int main(int argc, char** argv) {
  // Every peer of the benchmark is on this machine: loopback paths too (the
  // processes it starts inherit this).
  qputenv("LUNOR_ICE_LOOPBACK", "1");
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Glass-to-glass figures: a scrolling terminal on a private 1920x1080 X server, shared by a "
      "headless lunor-remote host, read back by a receiver.");
  parser.addHelpOption();
  parser.addOption({"profiles", "Quality profiles to measure, in order.", "list", "low,medium,high,epic"});
  parser.addOption({"seconds", "Measured seconds per profile, after the warm-up.", "n", "15"});
  parser.addOption({"warm-up", "Seconds between the first picture and the measurement.", "n", "4"});
  parser.addOption({"receiver", "native (our client session) or browser (headless Chromium).", "kind", "native"});
  parser.addOption({"json", "Where the figures go.", "file", "lunor-bench-e2e.json"});
  parser.addOption({"remote", "The lunor-remote binary.", "path", LUNOR_REMOTE_BINARY});
  parser.addOption({"line-delay", "Seconds between two lines of the scrolling text (0: as fast as the terminal takes them, one per stamp on Wayland).",
                    "s", "0.02"});
  parser.addOption({"still", "Skip the still-screen measurement."});
  parser.addOption({"host-log", "Where the host's log goes at the end.", "file"});
  parser.addOption({"no-quality", "Skip the pictures' likeness to the screen."});
  parser.addOption({"still-pictures", "Where the still screen and the pictures of it go (PGM files), to look at.", "dir"});
  parser.addOption({"desktop", "x11 (a private X server, xterm) or wayland (a headless GNOME, lunor-bench-scenery).",
                    "kind", "x11"});
  parser.addOption({"typing", "Keystroke to glyph instead: the receiver types about 8 keys a second into a window of "
                    "ours on an X server, and the latency runs from each key's sending to the first picture that "
                    "shows it, split where the window gets the key and draws it (x11 desktop)."});
  parser.addOption({"network", "Weak networks instead, one run each at one profile (medium unless --profiles names "
                    "one): the receiver's media through coturn alone, reached through lunor-impair. "
                    "Scenarios: clean, delay, reorder, loss, cap1m, blackout, phone, dsl, wifi, or all.", "list"});
  parser.addOption({"impair", "The lunor-impair binary.", "path", LUNOR_IMPAIR_BINARY});
  parser.addOption({"file", "The window is a file's transfer instead: the receiver sends a file of this many MiB to "
                    "the host (native receiver, x11 desktop; with or without --typing).", "mib"});
  parser.process(app);

  QList<QualityProfile> profiles;
  for (const QString& raw : parser.value("profiles").split(',', Qt::SkipEmptyParts)) {
    const auto profile = qualityFromRaw(raw.trimmed());
    if (!profile) {
      std::fprintf(stderr, "lunor-bench-e2e: unknown profile %s\n", qPrintable(raw));
      return 2;
    }
    profiles << *profile;
  }
  const int seconds = parser.value("seconds").toInt();
  const int warmUp = parser.value("warm-up").toInt();
  const QString receiverKind = parser.value("receiver");
  const QString desktop = parser.value("desktop");
  const bool typing = parser.isSet("typing");
  bool delayOk = false;
  const double lineDelay = parser.value("line-delay").toDouble(&delayOk);
  const bool network = parser.isSet("network");
  const int fileMiB = parser.isSet("file") ? parser.value("file").toInt() : 0;
  if (profiles.isEmpty() || seconds <= 0 || warmUp < 0 || !delayOk || lineDelay < 0 ||
      (receiverKind != "native" && receiverKind != "browser") || (desktop != "x11" && desktop != "wayland") ||
      (typing && desktop != "x11") || (network && (typing || (parser.isSet("profiles") && profiles.size() != 1))) ||
      (parser.isSet("file") && (fileMiB <= 0 || network || receiverKind != "native" || desktop != "x11"))) {
    std::fprintf(stderr, "lunor-bench-e2e: bad arguments (see --help)\n");
    return 2;
  }
  QList<Run> runs;
  if (network) {
    const QualityProfile profile = parser.isSet("profiles") ? profiles.front() : QualityProfile::Medium;
    const QString list = parser.value("network").trimmed();
    QStringList names;
    if (list == "all") {
      for (const NetworkScenario& s : networkScenarios()) names << s.name;
    } else {
      names = list.split(',', Qt::SkipEmptyParts);
    }
    for (const QString& name : names) {
      const auto scenario = networkScenario(name.trimmed());
      if (!scenario) {
        std::fprintf(stderr, "lunor-bench-e2e: unknown network scenario %s\n", qPrintable(name));
        return 2;
      }
      if (scenario->blackoutSeconds >= seconds) {
        std::fprintf(stderr, "lunor-bench-e2e: the %s scenario needs more than %d s\n", qPrintable(name), seconds);
        return 2;
      }
      runs << Run{scenario->name, profile, scenario};
    }
    if (runs.isEmpty()) {
      std::fprintf(stderr, "lunor-bench-e2e: no network scenario\n");
      return 2;
    }
  } else {
    for (QualityProfile profile : profiles) runs << Run{rawValue(profile), profile, std::nullopt};
  }
  setConsoleSink([](const QString&) {});

  // The file sent in each window, and the host's home, where it lands.
  QTemporaryDir fileDir;
  const QString filePath = fileDir.filePath(QStringLiteral("transfer.bin"));
  if (fileMiB > 0 && !writeFile(filePath, fileMiB)) {
    std::fprintf(stderr, "lunor-bench-e2e: cannot write %d MiB into %s\n", fileMiB, qPrintable(fileDir.path()));
    return 1;
  }

  // The screen: text scrolling over most of it, the stamp on top.
  SharedScreen screen;
  if (!screen.start(desktop, lineDelay, typing)) {
    std::fprintf(stderr, "lunor-bench-e2e: %s\n", qPrintable(screen.error));
    return 1;
  }
  Stamp& stamp = *screen.stamp;

  test::SignalServerProcess signal;
  if (!signal.isListening()) {
    std::fprintf(stderr, "lunor-bench-e2e: lunor-signal did not start\n");
    return 1;
  }
  // On weak networks the receiver reaches this TURN server through the
  // relay; the host reaches it directly, on every path.
  TurnServer turn;
  if (network && !turn.start()) {
    std::fprintf(stderr, "lunor-bench-e2e: %s\n", qPrintable(turn.error()));
    return 1;
  }
  qputenv("LUNOR_SENDER_STATS", "1");
  test::RemoteProcess host(parser.value("remote"), signal.url(), screen.x11 ? screen.x11->name() : QString());
  QProcessEnvironment hostEnvironment;
  if (screen.wayland) hostEnvironment = screen.wayland->sessionVariables();
  if (network) {
    hostEnvironment.insert(kTurnUrlEnv, turn.url());
    hostEnvironment.insert(kStunUrlEnv, QStringLiteral("stun:127.0.0.1:%1").arg(turn.port()));
    hostEnvironment.insert(kTransportPolicyEnv, QStringLiteral("all"));
  }
  if (fileMiB > 0) hostEnvironment.insert(QStringLiteral("HOME"), fileDir.filePath(QStringLiteral("host")));
  host.setEnvironment(hostEnvironment);
  host.allowUnattended(kPassword);
  if (!host.start({"--headless-host"})) {
    std::fprintf(stderr, "lunor-bench-e2e: %s did not start\n", qPrintable(parser.value("remote")));
    return 1;
  }
  const QString room = host.roomId();
  if (room.isEmpty()) {
    std::fprintf(stderr, "lunor-bench-e2e: the host did not register:\n%s\n", qPrintable(host.output()));
    return 1;
  }
  const qint64 hostPid = host.process().processId();

  std::unique_ptr<Receiver> receiver;
  if (receiverKind == "browser") {
    receiver = std::make_unique<BrowserReceiver>(signal.url(), stamp);
  } else {
    receiver = std::make_unique<NativeReceiver>(signal.url(), stamp);
  }

  const int cores = int(std::thread::hardware_concurrency());
  const QString screenText =
      typing ? QStringLiteral("1920x1080 still, a window counting keys") : QStringLiteral("1920x1080 scrolling text");
  std::printf("lunor-bench-e2e: %s desktop, receiver %s, %d cores, screen %s, %d s per %s\n",
              qPrintable(desktop), qPrintable(receiver->name()), cores, qPrintable(screenText), seconds,
              network ? "scenario" : "profile");
  if (network) std::printf("through coturn on port %d and lunor-impair\n", turn.port());
  QJsonObject results;
  int failures = 0;
  uint32_t sentKeys = 0;  // typed so far, in the typing measurement
  for (const Run& run : runs) {
    const QualityProfile profile = run.profile;
    const QualitySettings& q = settingsOf(profile);
    if (run.network) {
      std::printf("\n%s — %s (%s)\n", qPrintable(run.label), qPrintable(run.network->summary),
                  qPrintable(rawValue(profile)));
    } else {
      std::printf("\n%s — %s\n", qPrintable(run.label), qPrintable(q.label));
    }
    QJsonObject figures;
    // The weak network, between the receiver and the TURN server.
    std::unique_ptr<ImpairProcess> impair;
    if (run.network) {
      impair = std::make_unique<ImpairProcess>(parser.value("impair"));
      if (!impair->start(turn.port(), run.network->conditions)) {
        std::printf("  failed: %s\n", qPrintable(impair->error()));
        results[run.label] = QJsonObject{{"error", impair->error()}};
        ++failures;
        continue;
      }
      receiver->setTurnRelay(impair->url());
    }
    const auto connectMs = receiver->join(room, kPassword, profile);
    if (!connectMs) {
      std::printf("  failed: %s\n", qPrintable(receiver->error()));
      results[run.label] = QJsonObject{{"error", receiver->error()}};
      ++failures;
      receiver->leave();
      QTest::qWait(1500);
      continue;
    }
    QTest::qWait(warmUp * 1000);

    const SenderCounters sentBefore = freshSenderCounters(host);
    const qsizetype hostLogFrom = host.output().size();
    const double hostCpuBefore = processCpuSeconds(hostPid);
    const double serverCpuBefore = processCpuSeconds(screen.serverPid());
    RelayWindow relay;
    if (impair) relay.before = impair->counters();
    receiver->beginWindow();
    // In a file's window: sent from now, the window lasting as long as it
    // takes; both sides' memory looked at as it goes.
    FileWindow file;
    if (fileMiB > 0) {
      file.hostRssBefore = processRssMiB(hostPid);
      file.ownRssBefore = processRssMiB(QCoreApplication::applicationPid());
      file.clock.start();
      file.sampler.setInterval(250);
      QObject::connect(&file.sampler, &QTimer::timeout, [&] {
        file.hostRssMax = std::max(file.hostRssMax, processRssMiB(hostPid));
        file.ownRssMax = std::max(file.ownRssMax, processRssMiB(QCoreApplication::applicationPid()));
        if (!file.over && receiver->fileState().over) {
          file.over = true;
          file.seconds = file.clock.elapsed() / 1000.0;
        }
      });
      file.sampler.start();
      if (!receiver->sendFile(filePath)) file.over = true;
    }
    // Whether the window goes on after ms of it.
    const auto windowOpen = [&](qint64 ms) {
      return fileMiB > 0 ? !file.over && ms < kFileWindowLimitMs : ms < seconds * 1000;
    };
    uint32_t keysTyped = 0, keysCounted = 0, keysNotSent = 0;
    if (screen.typing) {
      // Numbered on from what the window has counted, so that a key lost
      // in an earlier profile cannot shift this one's numbers.
      sentKeys = screen.typing->received();
      const uint32_t countedBefore = sentKeys;
      // A person's pace: a key every 95 to 155 ms (about 8 a second), never
      // quite even, held 30 ms; 'a' (key code 0) each time. The times are
      // kept on a clock of their own, so that a receiver slower to take a
      // key types at the same pace.
      QElapsedTimer clock;
      clock.start();
      const auto waitUntil = [&](qint64 ms) { QTest::qWait(int(std::max<qint64>(0, ms - clock.elapsed()))); };
      for (qint64 due = 0; windowOpen(due); due += 95 + QRandomGenerator::global()->bounded(60)) {
        waitUntil(due);
        screen.typing->sent(sentKeys + 1);
        if (receiver->sendKey(0, true)) {
          ++sentKeys;
          waitUntil(due + 30);
          receiver->sendKey(0, false);
        } else {
          ++keysNotSent;
        }
      }
      QTest::qWait(300);  // the last key's picture
      keysTyped = sentKeys - countedBefore;
      keysCounted = screen.typing->received() - countedBefore;
    } else if (run.network && run.network->blackoutSeconds > 0) {
      // The blackout in the middle of the window.
      QElapsedTimer clock;
      clock.start();
      QTest::qWait(int((seconds - run.network->blackoutSeconds) * 500));
      relay.blackout = impair->blackout();
      QTest::qWait(int(std::max<qint64>(0, seconds * 1000 - clock.elapsed())));
    } else {
      QElapsedTimer clock;
      clock.start();
      while (windowOpen(clock.elapsed())) QTest::qWait(50);
    }
    file.sampler.stop();
    const ReceiverWindow w = receiver->endWindow();
    if (impair) relay.after = impair->counters();
    const double hostCores = (processCpuSeconds(hostPid) - hostCpuBefore) / w.seconds;
    const double serverCores = (processCpuSeconds(screen.serverPid()) - serverCpuBefore) / w.seconds;
    const SenderCounters sentAfter = freshSenderCounters(host);
    const double hostRss = processRssMiB(hostPid);

    const double encoded = sentAfter.encoded - sentBefore.encoded;
    const double packets = sentAfter.packets - sentBefore.packets;
    const double encodeMs = encoded > 0 ? (sentAfter.encodeTotal - sentBefore.encodeTotal) * 1000 / encoded : -1;
    const double pacingMs =
        packets > 0 ? (sentAfter.sendDelayTotal - sentBefore.sendDelayTotal) * 1000 / packets : -1;
    const double qp = encoded > 0 ? (sentAfter.qpSum - sentBefore.qpSum) / encoded : -1;
    const double fps = w.frames / w.seconds;
    const double latencyMean = mean(w.latenciesMs);
    const TypingStages stages = screen.typing ? typingStages(*screen.typing, w) : TypingStages{};
    // What the stats do not cover: the stamp's age when captured (0-16 ms;
    // a typed key's drawing waits for the next capture instead), the capture
    // and its conversion, the loopback hop, the hand-over of the decoded
    // picture.
    const double fromDrawn = screen.typing ? mean(stages.drawnToPictureMs) : latencyMean;
    const double rest = fromDrawn - std::max(0.0, encodeMs) - std::max(0.0, w.processingMs);

    figures["connectToFirstFrameMs"] = *connectMs;
    figures["latencyMs"] = QJsonObject{{"p50", percentile(w.latenciesMs, 0.5)},
                                       {"p95", percentile(w.latenciesMs, 0.95)},
                                       {"max", percentile(w.latenciesMs, 1.0)},
                                       {"mean", latencyMean},
                                       {"samples", int(w.latenciesMs.size())},
                                       {"all", QJsonArray::fromVariantList([&] {
                                          QVariantList all;
                                          for (double v : w.latenciesMs) all << std::round(v * 10) / 10;
                                          return all;
                                        }())}};
    figures["fps"] = fps;
    figures["profileFps"] = q.fps;
    figures["fpsRatio"] = fps / q.fps;
    figures["size"] = QStringLiteral("%1x%2").arg(w.width).arg(w.height);
    figures["unreadableStamps"] = w.unreadable;
    figures["repeatedStamps"] = w.repeats;
    figures["kbps"] = w.bytesReceived * 8 / 1000 / w.seconds;
    figures["hostCores"] = hostCores;
    figures["hostRssMiB"] = hostRss;
    figures[desktop == "wayland" ? "compositorCores" : "xServerCores"] = serverCores;
    if (w.cpuSeconds >= 0) figures["receiverCores"] = w.cpuSeconds / w.seconds;
    figures["encoder"] = sentAfter.encoder;
    figures["qualityLimitation"] = sentAfter.limit;
    figures["meanQp"] = qp;
    figures["stagesMs"] = QJsonObject{{"encode", encodeMs},
                                      {"packetQueue", pacingMs},
                                      {"firstPacketToDecoded", w.processingMs},
                                      {"assembly", w.assemblyMs},
                                      {"jitterBuffer", w.jitterBufferMs},
                                      {"jitterBufferTarget", w.jitterBufferTargetMs},
                                      {"decode", w.decodeMs},
                                      {"captureAndRest", rest}};
    if (screen.typing) {
      figures["keyToEventMs"] = spread(stages.keyToEventMs);
      figures["eventToDrawnMs"] = spread(stages.eventToDrawnMs);
      figures["drawnToPictureMs"] = spread(stages.drawnToPictureMs);
      if (!w.keyHandOverMs.empty()) figures["keyHandOverMs"] = spread(w.keyHandOverMs);
      figures["keysTyped"] = int(keysTyped);
      figures["keysCounted"] = int(keysCounted);
      figures["keysNotSent"] = int(keysNotSent);
    }

    line("connect → first picture", fixed(*connectMs / 1000, 2) + " s");
    line("latency p50 / p95 / max", QStringLiteral("%1 / %2 / %3 ms (%4 samples)")
                                        .arg(fixed(percentile(w.latenciesMs, 0.5)), fixed(percentile(w.latenciesMs, 0.95)),
                                             fixed(percentile(w.latenciesMs, 1.0)))
                                        .arg(w.latenciesMs.size()));
    line("received", QStringLiteral("%1 fps of %2 (%3 %), %4x%5, %6 unreadable, %7 repeated")
                         .arg(fixed(fps))
                         .arg(q.fps)
                         .arg(fixed(100 * fps / q.fps, 0))
                         .arg(w.width)
                         .arg(w.height)
                         .arg(w.unreadable)
                         .arg(w.repeats));
    line("bit rate", fixed(w.bytesReceived * 8 / 1000 / w.seconds, 0) + " kbit/s");
    line("host CPU / RSS", QStringLiteral("%1 cores / %2 MiB").arg(fixed(hostCores, 2), fixed(hostRss, 0)));
    if (w.cpuSeconds >= 0) line("receiver CPU", fixed(w.cpuSeconds / w.seconds, 2) + " cores");
    line(desktop == "wayland" ? "compositor CPU" : "X server CPU", fixed(serverCores, 2) + " cores");
    line("encoder", QStringLiteral("%1, mean QP %2, limited by %3").arg(sentAfter.encoder, fixed(qp), sentAfter.limit));
    line("sender (mean ms)", QStringLiteral("encode %1 · packet queue (pacing) %2")
                                 .arg(fixed(encodeMs), fixed(pacingMs)));
    line("receiver (mean ms)",
         QStringLiteral("first packet → decoded %1: assembly %2 · jitter buffer %3 (target %4) · decode %5")
             .arg(fixed(w.processingMs), fixed(w.assemblyMs), fixed(w.jitterBufferMs), fixed(w.jitterBufferTargetMs),
                  fixed(w.decodeMs)));
    line("capture and the rest (mean ms)", fixed(rest));
    if (run.network) {
      QJsonObject net = networkFigures(*run.network, profile, w, sentBefore, sentAfter, relay);
      // What the host's congestion controller made of gaps in the link, and
      // the key frames it sent, during the window.
      QJsonArray gapLines;
      for (const QString& l : host.output().mid(hostLogFrom).split(u'\n')) {
        if (l.startsWith(QStringLiteral("[Link]")) || l.startsWith(QStringLiteral("[Encoder] key frame"))) gapLines.append(l);
      }
      if (!gapLines.isEmpty()) {
        net["hostLinkLines"] = gapLines;
        for (const auto& l : gapLines) line("host", l.toString());
      }
      figures["network"] = net;
    }
    if (fileMiB > 0) {
      const Receiver::FileState state = receiver->fileState();
      const double mbPerSecond = state.done && file.seconds > 0 ? fileMiB * 1.048576 / file.seconds : 0;
      figures["file"] = QJsonObject{{"mib", fileMiB},
                                    {"done", state.done},
                                    {"reason", state.reason},
                                    {"seconds", file.seconds},
                                    {"mbPerSecond", mbPerSecond},
                                    {"hostRssGrowthMiB", file.hostRssMax - file.hostRssBefore},
                                    {"receiverRssGrowthMiB", file.ownRssMax - file.ownRssBefore}};
      line("file", state.done ? QStringLiteral("%1 MiB in %2 s: %3 MB/s").arg(fileMiB).arg(fixed(file.seconds), fixed(mbPerSecond))
                              : QStringLiteral("failed: %1").arg(state.reason.isEmpty() ? QStringLiteral("unfinished") : state.reason));
      line("RSS growth host / sender", QStringLiteral("%1 / %2 MiB").arg(fixed(file.hostRssMax - file.hostRssBefore),
                                                                       fixed(file.ownRssMax - file.ownRssBefore)));
      if (!state.done) ++failures;
    }
    if (screen.typing) {
      line("keys typed / counted / not sent", QStringLiteral("%1 / %2 / %3").arg(keysTyped).arg(keysCounted).arg(keysNotSent));
      line("key sent → X event p50 / p95", p50p95(stages.keyToEventMs));
      if (!w.keyHandOverMs.empty()) line("  of it, bench → page p50 / p95", p50p95(w.keyHandOverMs));
      line("X event → drawn p50 / p95", p50p95(stages.eventToDrawnMs));
      line("drawn → first picture p50 / p95", p50p95(stages.drawnToPictureMs));
    }

    if (!screen.typing && fileMiB == 0 && !parser.isSet("no-quality")) {
      const bool weakLink = run.network && run.network->name != "clean";
      figures["quality"] = measureQuality(screen, *receiver, weakLink ? kStillOnWeakLinkMs : kStillMs,
                                          parser.value("still-pictures"));
    }
    if (profile == QualityProfile::Medium && !parser.isSet("still") && !run.network && fileMiB == 0) {
      // Nothing moves: the text stopped, the stamp paused.
      screen.setPaused(true);
      QTest::qWait(2000);
      const double before = processCpuSeconds(hostPid);
      QTest::qWait(5000);
      const double stillCores = (processCpuSeconds(hostPid) - before) / 5;
      screen.setPaused(false);
      figures["hostCoresStill"] = stillCores;
      line("host CPU, still screen", fixed(stillCores, 2) + " cores");
    }
    results[run.label] = figures;
    receiver->leave();
    QTest::qWait(1500);
    if (impair) impair->stop();
    if (fileMiB > 0) QDir(fileDir.filePath(QStringLiteral("host/Downloads"))).removeRecursively();
  }

  QJsonObject document{{"receiver", receiver->name()},
                       {"cores", cores},
                       {"desktop", desktop},
                       {"measure", typing ? "keystroke to glyph" : "glass to glass"},
                       {"screen", screenText}};
  if (network) {
    document["route"] = "receiver → lunor-impair → coturn (relayed candidates only); host → coturn directly";
    document["secondsPerScenario"] = seconds;
    document["scenarios"] = results;
  } else {
    document["secondsPerProfile"] = seconds;
    document["profiles"] = results;
  }
  QFile out(parser.value("json"));
  if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    out.write(QJsonDocument(document).toJson());
    std::printf("\nfigures written to %s\n", qPrintable(out.fileName()));
  } else {
    std::fprintf(stderr, "lunor-bench-e2e: cannot write %s\n", qPrintable(out.fileName()));
  }
  host.stop();
  if (parser.isSet("host-log")) {
    QFile log(parser.value("host-log"));
    if (log.open(QIODevice::WriteOnly | QIODevice::Truncate)) log.write(host.output().toUtf8());
  }
  return failures ? 1 : 0;
}
