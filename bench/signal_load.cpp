// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-signal-load: lunor-signal under load. Starts the server on loopback
// and drives it with QWebSocket clients from this process:
//   1. N hosts, each in a room of its own: the server's memory and CPU;
//   2. joins against those idle hosts: join → join-request latency;
//   3. "signal" relay between admitted pairs: messages a second, server CPU;
//   4. a reconnect storm: connections dropped and back all at once;
//   5. two instances sharing rooms over Redis: the relay again, hosts on
//      one instance, clients on the other.
// Prints the figures and, with --json, writes them to a file. The idle hosts
// live in threads of their own so that the connections being timed are not
// slowed by this process polling thousands of sockets.
//
//   lunor-signal-load [--hosts N] [--joins N] [--join-rate R] [--pairs M]
//                     [--rate R] [--seconds S] [--storm N] [--storm-rounds N]
//                     [--no-redis] [--server-arg ARG]... [--server-log FILE]
//                     [--json FILE]

#include <algorithm>
#include <cstdio>
#include <thread>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>

#include "process_stats.h"
#include "signal_load.h"
#include "system/descriptor_limit.h"

using namespace lunor;
using namespace lunor::bench;
using namespace lunor::bench::load;

namespace {

// The system's load averages: others' work shares the cores with the figures.
QString loadAverage() {
  QFile file(QStringLiteral("/proc/loadavg"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

}  // namespace

namespace lunor::bench::load {

void Load::stopFirstServer() {
  // Connections the server closed although they did their part.
  QHash<QString, int> closed = actors_.lostWhy;
  for (Fleet* fleet : hostFleets()) {
    fleet->call([&] {
      for (auto it = fleet->lostWhy.begin(); it != fleet->lostWhy.end(); ++it) closed[it.key()] += it.value();
    });
  }
  std::printf("\nconnections the first server closed: %s\n", qPrintable(counts(closed)));
  results_["closedByServer"] = toJson(closed);
  for (Fleet* fleet : hostFleets()) fleet->call([fleet] { fleet->dropAll(); });
  actors_.dropAll();
  pause(500);
  const double peak = processRssMiB(pid_, "VmHWM:");
  // Its log's folded repeats come out as it stops.
  tally(server_->stop());
  server_.reset();
  std::printf("first server's peak RSS: %s MiB\n", qPrintable(fixed(peak)));
  results_["serverPeakRssMiB"] = peak;
}

}  // namespace lunor::bench::load

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  raiseDescriptorLimit();
  QCoreApplication::setEventDispatcher(new lunor::signal::EpollEventDispatcher);
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "lunor-signal under load: many idle hosts, joins against them, signal relay between pairs, a "
      "reconnect storm, and two instances sharing rooms over Redis.");
  parser.addHelpOption();
  parser.addOption({"hosts", "Idle hosts, each in a room of its own.", "n", "10000"});
  parser.addOption({"joins", "Joins against the idle hosts.", "n", "1000"});
  parser.addOption({"join-rate", "Joins a second (the pool of joining clients keeps each under its cooldown).",
                    "n", "200"});
  parser.addOption({"pairs", "Admitted host/client pairs relaying signals.", "n", "150"});
  parser.addOption({"rate", "Signals a second each connection of a pair sends (the server allows 100).", "n", "80"});
  parser.addOption({"seconds", "Measured seconds of each relay, after a warm-up.", "n", "10"});
  parser.addOption({"warm-up", "Seconds of relay before the measurement.", "n", "2"});
  parser.addOption({"storm", "Hosts dropped and reconnected at once.", "n", "5000"});
  parser.addOption({"storm-rounds", "Storms one after the other (to tell a leak from a high-water mark).", "n",
                    "1"});
  parser.addOption({"no-redis", "Skip the two instances over Redis."});
  parser.addOption({"server-arg", "An extra argument for lunor-signal (repeatable).", "arg"});
  parser.addOption({"server-log", "Where the servers' logs are copied.", "file"});
  parser.addOption({"json", "Where the figures go as JSON.", "file"});
  parser.process(app);

  auto number = [&](const char* name) { return parser.value(name).toInt(); };
  Options o;
  o.hosts = number("hosts");
  o.joins = number("joins");
  o.joinRate = number("join-rate");
  o.pairs = number("pairs");
  o.rate = parser.value("rate").toDouble();
  o.seconds = number("seconds");
  o.warmUp = number("warm-up");
  o.storm = std::min(number("storm"), o.hosts);
  o.stormRounds = number("storm-rounds");
  o.redis = !parser.isSet("no-redis");
  o.extraArgs = parser.values("server-arg");
  if (o.hosts <= 0 || o.joins < 0 || o.joinRate <= 0 || o.pairs < 0 || o.rate <= 0 || o.seconds <= 0 ||
      o.warmUp < 0 || o.storm < 0 || o.stormRounds <= 0) {
    std::fprintf(stderr, "lunor-signal-load: bad arguments (see --help)\n");
    return 2;
  }
  QFile serverLogFile(parser.value("server-log"));
  if (parser.isSet("server-log")) {
    if (!serverLogFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
      std::fprintf(stderr, "lunor-signal-load: cannot write %s\n", qPrintable(serverLogFile.fileName()));
      return 2;
    }
    logCopy = &serverLogFile;
  }

  std::printf("lunor-signal-load: %s\n", LUNOR_SIGNAL_BINARY);
  std::printf("  %u cores, load average %s; descriptors: %lld for this process\n", std::thread::hardware_concurrency(),
              qPrintable(loadAverage()), descriptorLimit());
  std::printf("  server flags: %s\n  (per-address bounds lifted: all the load comes from 127.0.0.1)\n",
              qPrintable((kServerFlags + o.extraArgs).join(' ')));
  std::printf("  server event loop: %s\n", qgetenv("LUNOR_SIGNAL_DISPATCHER") == "qt"
                                                 ? "Qt's own (LUNOR_SIGNAL_DISPATCHER=qt)"
                                                 : "epoll (its default)");
  if (o.rate >= 100) std::printf("  note: --rate %g is at or over the server's 100 msg/s a connection\n", o.rate);

  Load load(o);
  if (!load.start()) return 1;
  load.idleHosts();
  load.joins();
  load.relay();
  load.storm();
  load.stopFirstServer();
  load.twoInstances();

  std::printf("\nserver log over the run: %s\n", qPrintable(load.unusualEvents()));
  std::printf("load average at the end: %s\n", qPrintable(loadAverage()));
  if (parser.isSet("json")) {
    QFile out(parser.value("json"));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
      std::fprintf(stderr, "lunor-signal-load: cannot write %s\n", qPrintable(out.fileName()));
      return 1;
    }
    out.write(QJsonDocument(load.results()).toJson());
    std::printf("figures written to %s\n", qPrintable(out.fileName()));
  }
  return 0;
}