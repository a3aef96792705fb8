// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-impair: a weak network in front of a TURN server, on loopback. A
// UDP relay listens on 127.0.0.1, forwards each client's datagrams to the
// TURN server from a socket of its own per client address, and the
// server's replies back, through one impaired link per direction (loss, a
// delay with jitter, reordering, a rate cap with a bounded queue,
// blackouts). A thread of its own releases each datagram at the time its
// link decided.
//
//   lunor-impair --to 127.0.0.1:3478 [--listen 0] [--loss P] [--delay MS] [--jitter MS]
//                [--reorder P] [--jitter-reorders] [--rate KBPS] [--queue-ms MS]
//                [--down-… | --up-…] [--blackout START_S:DURATION_S]…
//                [--blackout-on-signal S] [--seed N] [--max-seconds S]
//
// Down is towards the client, up towards the server. Its stdout, a line
// each:
//   listening 127.0.0.1:PORT          first, once it listens
//   blackout START_US END_US          each blackout as it is known (monotonic µs)
//   counters key=value …              on SIGUSR2 and at the end
// SIGUSR1 starts a blackout of --blackout-on-signal seconds; SIGTERM or
// SIGINT, or --max-seconds, ends it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>

#include "impaired_link.h"
#include "relayed_datagram.h"

using namespace lunor::bench;

namespace {

constexpr size_t kMaxClients = 64;
constexpr size_t kMaxDatagram = 65536;

int64_t nowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// "127.0.0.1:PORT", loopback only; port 0 is allowed where allowZeroPort.
std::optional<sockaddr_in> loopbackAddress(const QString& text, bool allowZeroPort) {
  const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
  if (colon <= 0) return std::nullopt;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (inet_pton(AF_INET, text.left(colon).toLatin1().constData(), &address.sin_addr) != 1) return std::nullopt;
  if ((ntohl(address.sin_addr.s_addr) >> 24) != 127) return std::nullopt;
  bool ok = false;
  const int port = text.mid(colon + 1).toInt(&ok);
  if (!ok || port < 0 || port > 65535 || (port == 0 && !allowZeroPort)) return std::nullopt;
  address.sin_port = htons(uint16_t(port));
  return address;
}

uint64_t keyOf(const sockaddr_in& a) { return uint64_t(ntohl(a.sin_addr.s_addr)) << 16 | ntohs(a.sin_port); }

int udpSocket(const sockaddr_in& bindTo) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // Room for a burst while the main loop is busy with another socket.
  const int buffer = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&bindTo), sizeof bindTo) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// One direction's counts, from both threads.
struct DirectionCounters {
  std::atomic<uint64_t> in{0}, out{0}, bytesIn{0}, bytesOut{0};
  std::atomic<uint64_t> lost{0}, blackout{0}, queue{0};
  std::atomic<uint64_t> unsent{0};  // the socket would not take it (its buffer full)
  // What the datagrams carried, at the way in (read by the main thread only).
  std::map<uint32_t, uint64_t> rtpBySsrc, paddingBySsrc;
  uint64_t nack = 0, pli = 0, fir = 0;

  void dropped(DropReason reason) {
    switch (reason) {
      case DropReason::Loss:
        ++lost;
        break;
      case DropReason::Blackout:
        ++blackout;
        break;
      case DropReason::Queue:
        ++queue;
        break;
      case DropReason::None:
        break;
    }
  }
  void count(const RelayedDatagram& d) {
    if (d.kind == RelayedDatagram::Kind::Rtp) {
      ++rtpBySsrc[d.ssrc];
      if (d.padding) ++paddingBySsrc[d.ssrc];
    }
    nack += d.isNack();
    pli += d.isPli();
    fir += d.isFir();
  }
  uint64_t inFlight() const { return in - out - lost - blackout - queue - unsent; }
};

// "prefix_key=value …" for one direction. The stream with the most RTP
// packets is taken for the media; the others (RTX) carry retransmissions
// and the padding that probes the link's rate.
std::string describe(const char* prefix, const DirectionCounters& c) {
  uint32_t media = 0;
  uint64_t mediaPackets = 0, otherPackets = 0, otherPadding = 0;
  for (const auto& [ssrc, packets] : c.rtpBySsrc) {
    if (packets > mediaPackets) {
      media = ssrc;
      mediaPackets = packets;
    }
  }
  for (const auto& [ssrc, packets] : c.rtpBySsrc) {
    if (ssrc == media) continue;
    otherPackets += packets;
    const auto padding = c.paddingBySsrc.find(ssrc);
    if (padding != c.paddingBySsrc.end()) otherPadding += padding->second;
  }
  char text[512];
  std::snprintf(text, sizeof text,
                "%1$s_in=%2$llu %1$s_out=%3$llu %1$s_bytes_in=%4$llu %1$s_bytes_out=%5$llu %1$s_lost=%6$llu "
                "%1$s_blackout=%7$llu %1$s_queue=%8$llu %1$s_unsent=%9$llu %1$s_in_flight=%10$llu %1$s_rtp=%11$llu "
                "%1$s_rtx=%12$llu %1$s_rtx_padding=%13$llu %1$s_nack=%14$llu %1$s_pli=%15$llu %1$s_fir=%16$llu",
                prefix, (unsigned long long)c.in, (unsigned long long)c.out, (unsigned long long)c.bytesIn,
                (unsigned long long)c.bytesOut, (unsigned long long)c.lost, (unsigned long long)c.blackout,
                (unsigned long long)c.queue, (unsigned long long)c.unsent, (unsigned long long)c.inFlight(),
                (unsigned long long)mediaPackets, (unsigned long long)otherPackets, (unsigned long long)otherPadding,
                (unsigned long long)c.nack, (unsigned long long)c.pli, (unsigned long long)c.fir);
  return text;
}

// A datagram on its way out.
struct Outgoing {
  int fd;          // the socket it leaves by
  sockaddr_in to;  // where to
  DirectionCounters* counters;
  std::vector<uint8_t> bytes;
};

// The thread that sends each datagram at its release time: a queue by
// release time and a sleep until the earliest, woken early by a datagram
// due sooner.
class Releaser {
 public:
  // blackouts: borrowed, outlives this.
  explicit Releaser(const Blackouts& blackouts) : blackouts_(blackouts), thread_([this] { run(); }) {}
  ~Releaser() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  Releaser(const Releaser&) = delete;
  Releaser& operator=(const Releaser&) = delete;

  void push(int64_t releaseUs, Outgoing outgoing) {
    bool sooner;
    {
      std::lock_guard lock(mutex_);
      sooner = queue_.empty() || releaseUs < queue_.nextUs();
      queue_.push(releaseUs, std::move(outgoing));
    }
    if (sooner) wake_.notify_one();
  }

 private:
  void run() {
    // The kernel may otherwise wake us up to 50 µs late, to batch timers.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    std::vector<Outgoing> due;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (queue_.empty()) {
        wake_.wait(lock);
        continue;
      }
      const int64_t next = queue_.nextUs();
      if (next > nowUs()) {
        wake_.wait_until(lock, std::chrono::steady_clock::time_point(std::chrono::microseconds(next)));
        continue;
      }
      const int64_t now = nowUs();
      while (auto item = queue_.popDue(now)) due.push_back(std::move(*item));
      lock.unlock();
      // What was on its way when a blackout began is lost with it.
      const bool dark = blackouts_.dark(now);
      for (Outgoing& o : due) {
        if (dark) {
          ++o.counters->blackout;
          continue;
        }
        if (sendto(o.fd, o.bytes.data(), o.bytes.size(), 0, reinterpret_cast<const sockaddr*>(&o.to), sizeof o.to) >=
            0) {
          ++o.counters->out;
          o.counters->bytesOut += o.bytes.size();
        } else {
          ++o.counters->unsent;
        }
      }
      due.clear();
      lock.lock();
    }
  }

  const Blackouts& blackouts_;
  std::mutex mutex_;
  std::condition_variable wake_;
  ReleaseQueue<Outgoing> queue_;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once the rest is ready
};

// Conditions from --NAME (both directions) and --down-NAME / --up-NAME.
struct ConditionOption {
  const char* name;
  const char* help;
  double LinkConditions::*field;
  double max;  // the largest value that makes sense
};
constexpr double kNoMax = 1e9;
const ConditionOption kConditionOptions[] = {
    {"loss", "Datagrams lost at random, in %.", &LinkConditions::lossPercent, 100},
    {"loss-burst", "Losses come in runs of this many datagrams on average (1: each on its own).",
     &LinkConditions::lossBurst, kNoMax},
    {"delay", "One-way delay, in ms.", &LinkConditions::delayMs, kNoMax},
    {"jitter", "The delay varies by ± this many ms.", &LinkConditions::jitterMs, kNoMax},
    {"reorder", "Datagrams (%) that skip the delay and overtake the others.", &LinkConditions::reorderPercent, 100},
    {"rate", "Rate cap, in kbit/s (0: none).", &LinkConditions::rateKbps, kNoMax},
    {"queue-ms", "What the capped link's queue holds, in ms at its rate.", &LinkConditions::queueMs, kNoMax},
};

void printLine(const std::string& text) {
  std::fputs((text + "\n").c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "A UDP relay on loopback in front of a TURN server, impairing both directions (down: towards the client).");
  parser.addHelpOption();
  parser.addOption({"listen", "Where to listen (127.0.0.1:PORT or PORT; 0: any free port).", "address", "0"});
  parser.addOption({"to", "The TURN server (loopback).", "address", "127.0.0.1:3478"});
  for (const ConditionOption& o : kConditionOptions) {
    parser.addOption({o.name, o.help, "value"});
    parser.addOption({QStringLiteral("down-") + o.name, QStringLiteral("Towards the client only: ") + o.help, "value"});
    parser.addOption({QStringLiteral("up-") + o.name, QStringLiteral("Towards the server only: ") + o.help, "value"});
  }
  parser.addOption(
      {"jitter-reorders", "Each datagram gets its own delay and may overtake others (else they keep their order)."});
  parser.addOption({"blackout",
                    "Nothing passes from START_S for DURATION_S seconds, counted from the start (repeatable).",
                    "start:duration"});
  parser.addOption({"blackout-on-signal", "Seconds of blackout that SIGUSR1 starts.", "s", "2"});
  parser.addOption({"seed", "Seed of the random draws (loss, jitter, reordering).", "n", "1"});
  parser.addOption({"max-seconds", "Ends after this many seconds.", "s", "600"});
  parser.process(app);

  auto fail = [](const QString& why) {
    std::fprintf(stderr, "lunor-impair: %s\n", qPrintable(why));
    return 2;
  };
  QString listenText = parser.value("listen");
  if (!listenText.contains(QLatin1Char(':'))) listenText.prepend(QStringLiteral("127.0.0.1:"));
  const auto listenAddress = loopbackAddress(listenText, true);
  const auto serverAddress = loopbackAddress(parser.value("to"), false);
  if (!listenAddress) return fail("--listen must be a loopback IPv4 address and port: " + parser.value("listen"));
  if (!serverAddress) return fail("--to must be a loopback IPv4 address and port: " + parser.value("to"));

  LinkConditions down, up;
  for (const ConditionOption& o : kConditionOptions) {
    for (const QString& name :
         {QString::fromLatin1(o.name), QStringLiteral("down-") + o.name, QStringLiteral("up-") + o.name}) {
      if (!parser.isSet(name)) continue;
      bool ok = false;
      const double value = parser.value(name).toDouble(&ok);
      if (!ok || value < 0 || value > o.max) {
        return fail("bad --" + name + ": " + parser.value(name));
      }
      if (!name.startsWith(QLatin1String("up-"))) down.*o.field = value;
      if (!name.startsWith(QLatin1String("down-"))) up.*o.field = value;
    }
  }
  down.jitterReorders = up.jitterReorders = parser.isSet("jitter-reorders");
  bool ok = false;
  const double signalBlackoutS = parser.value("blackout-on-signal").toDouble(&ok);
  if (!ok || signalBlackoutS <= 0) return fail("bad --blackout-on-signal");
  const double maxSeconds = parser.value("max-seconds").toDouble(&ok);
  if (!ok || maxSeconds <= 0) return fail("bad --max-seconds");
  const uint64_t seed = parser.value("seed").toULongLong(&ok);
  if (!ok) return fail("bad --seed");

  const int64_t startUs = nowUs();
  Blackouts blackouts;
  std::vector<std::pair<int64_t, int64_t>> scheduled;
  for (const QString& window : parser.values("blackout")) {
    const QStringList parts = window.split(QLatin1Char(':'));
    bool startOk = false, lengthOk = false;
    const double start = parts.value(0).toDouble(&startOk);
    const double length = parts.value(1).toDouble(&lengthOk);
    if (parts.size() != 2 || !startOk || !lengthOk || start < 0 || length <= 0) return fail("bad --blackout " + window);
    scheduled.emplace_back(startUs + int64_t(start * 1e6), startUs + int64_t((start + length) * 1e6));
    blackouts.add(scheduled.back().first, scheduled.back().second);
  }

  const int listenFd = udpSocket(*listenAddress);
  if (listenFd < 0)
    return fail(QStringLiteral("cannot listen on %1: %2").arg(listenText, QString::fromLocal8Bit(strerror(errno))));
  sockaddr_in bound{};
  socklen_t boundLength = sizeof bound;
  getsockname(listenFd, reinterpret_cast<sockaddr*>(&bound), &boundLength);

  // Signals arrive as reads on a descriptor of the main loop; the releaser
  // thread, started after, inherits the mask and never sees them.
  sigset_t handled;
  sigemptyset(&handled);
  for (int s : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT, SIGHUP}) sigaddset(&handled, s);
  pthread_sigmask(SIG_BLOCK, &handled, nullptr);
  const int signalFd = signalfd(-1, &handled, SFD_NONBLOCK | SFD_CLOEXEC);

  DirectionCounters downCounters, upCounters;
  ImpairedLink downLink(down, seed, &blackouts);
  ImpairedLink upLink(up, seed + 1, &blackouts);

  // One socket towards the server per client address.
  struct Flow {
    sockaddr_in client;
    int fd;
  };
  std::map<uint64_t, Flow> flows;
  std::map<int, const Flow*> flowByFd;
  uint64_t refused = 0;  // datagrams from clients beyond kMaxClients

  char addressText[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &bound.sin_addr, addressText, sizeof addressText);
  printLine("listening " + std::string(addressText) + ":" + std::to_string(ntohs(bound.sin_port)));
  for (const auto& [from, to] : scheduled) printLine("blackout " + std::to_string(from) + " " + std::to_string(to));
  std::fprintf(stderr, "lunor-impair: to %s; down: %s; up: %s\n", qPrintable(parser.value("to")),
               down.describe().c_str(), up.describe().c_str());
  auto counters = [&] {
    printLine("counters " + describe("down", downCounters) + " " + describe("up", upCounters) +
              " clients=" + std::to_string(flows.size()) + " refused=" + std::to_string(refused));
  };

  std::vector<uint8_t> buffer(kMaxDatagram);
  const int64_t deadlineUs = startUs + int64_t(maxSeconds * 1e6);
  {
    Releaser releaser(blackouts);
    // Counts a datagram and sends it through its direction's link.
    auto forward = [&](bool upward, const Flow& flow, size_t n) {
      const int64_t now = nowUs();
      DirectionCounters& c = upward ? upCounters : downCounters;
      ++c.in;
      c.bytesIn += n;
      c.count(classifyRelayed(buffer.data(), n));
      const Fate fate = (upward ? upLink : downLink).admit(now, n);
      if (fate.drop != DropReason::None) {
        c.dropped(fate.drop);
        return;
      }
      releaser.push(fate.releaseUs, Outgoing{upward ? flow.fd : listenFd, upward ? *serverAddress : flow.client, &c,
                                             std::vector<uint8_t>(buffer.begin(), buffer.begin() + ptrdiff_t(n))});
    };
    // The flow of a client address, opened at its first datagram; null
    // beyond kMaxClients.
    auto flowOf = [&](const sockaddr_in& client) -> const Flow* {
      if (auto it = flows.find(keyOf(client)); it != flows.end()) return &it->second;
      if (flows.size() >= kMaxClients) return nullptr;
      sockaddr_in local{};
      local.sin_family = AF_INET;
      local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const int upstream = udpSocket(local);
      if (upstream < 0) return nullptr;
      if (connect(upstream, reinterpret_cast<const sockaddr*>(&*serverAddress), sizeof *serverAddress) != 0) {
        close(upstream);
        return nullptr;
      }
      const Flow* flow = &flows.emplace(keyOf(client), Flow{client, upstream}).first->second;
      flowByFd[upstream] = flow;
      return flow;
    };
    auto drainClients = [&] {
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      ssize_t n;
      while ((n = recvfrom(listenFd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                           &fromLength)) >= 0) {
        if (const Flow* flow = flowOf(from)) {
          forward(true, *flow, size_t(n));
        } else {
          ++refused;
        }
        fromLength = sizeof from;
      }
    };
    auto drainServer = [&](const Flow& flow) {
      ssize_t n;
      while ((n = recv(flow.fd, buffer.data(), buffer.size(), 0)) >= 0) forward(false, flow, size_t(n));
    };

    bool running = true;
    std::vector<pollfd> polled;
    while (running) {
      const int64_t left = deadlineUs - nowUs();
      if (left <= 0) break;
      polled.clear();
      polled.push_back({signalFd, POLLIN, 0});
      polled.push_back({listenFd, POLLIN, 0});
      for (const auto& [fd, flow] : flowByFd) polled.push_back({fd, POLLIN, 0});
      if (poll(polled.data(), polled.size(), int(std::min<int64_t>(left / 1000 + 1, 1000))) < 0 && errno != EINTR)
        break;
      for (const pollfd& p : polled) {
        if (!(p.revents & POLLIN)) continue;
        if (p.fd == signalFd) {
          signalfd_siginfo info{};
          while (read(signalFd, &info, sizeof info) == ssize_t(sizeof info)) {
            if (info.ssi_signo == SIGUSR1) {
              const int64_t from = nowUs();
              const int64_t to = from + int64_t(signalBlackoutS * 1e6);
              blackouts.add(from, to);
              printLine("blackout " + std::to_string(from) + " " + std::to_string(to));
            } else if (info.ssi_signo == SIGUSR2) {
              counters();
            } else {
              running = false;
            }
          }
        } else if (p.fd == listenFd) {
          drainClients();
        } else {
          drainServer(*flowByFd.at(p.fd));
        }
      }
    }
  }  // the releaser stops; what it still held stays in flight

  counters();
  const double seconds = (nowUs() - startUs) / 1e6;
  std::fprintf(stderr, "lunor-impair: %.1f s, %zu clients, %llu refused\n", seconds, flows.size(),
               (unsigned long long)refused);
  for (const auto& [name, c] :
       {std::pair<const char*, const DirectionCounters*>{"down", &downCounters}, {"up", &upCounters}}) {
    std::fprintf(stderr,
                 "  %-4s %llu in, %llu out; dropped: %llu lost, %llu blackout, %llu queue full, %llu unsent; "
                 "%llu in flight\n",
                 name, (unsigned long long)c->in, (unsigned long long)c->out, (unsigned long long)c->lost,
                 (unsigned long long)c->blackout, (unsigned long long)c->queue, (unsigned long long)c->unsent,
                 (unsigned long long)c->inFlight());
  }
  for (const auto& [key, flow] : flows) close(flow.fd);
  close(listenFd);
  close(signalFd);
  return 0;
}
