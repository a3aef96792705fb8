// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-signal-load, phases 1, 2 and 4: idle hosts, joins against them,
// and the reconnect storm.

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <unistd.h>

#include "process_stats.h"
#include "cpu_time.h"
#include "signal_load.h"

namespace lunor::bench::load {

void Load::idleHosts() {
  std::printf("\n1. %d hosts, a room each\n", o_.hosts);
  const double rssEmpty = processRssMiB(pid_);
  const double cpuStart = processCpuSeconds(pid_);
  const qint64 connectStart = nowUs();
  int next = 0;
  for (size_t g = 0; g < groups_.size(); ++g) {
    Fleet& fleet = groups_[g]->fleet;
    const int first = next;
    next += groupSizes_[g];
    fleet.call([&] {
      std::vector<Peer*> list;
      for (int i = first; i < next; ++i) list.push_back(&fleet.add(Role::Host, url_, QStringLiteral("host-%1").arg(i)));
      fleet.connectAll(list, kConnectWindow);
    });
  }
  waitFor(
      [&] {
        const int greeted = hostTotal(&Fleet::greeted);
        return greeted + hostTotal(&Fleet::failed) >= o_.hosts && hostTotal(&Fleet::created) >= greeted;
      },
      std::max(60000, o_.hosts * 10));
  const double connectSeconds = double(nowUs() - connectStart) / 1e6;
  const double connectCpu = processCpuSeconds(pid_) - cpuStart;
  hostsUp_ = hostTotal(&Fleet::created);
  pause(2000);
  const double idleCpu0 = processCpuSeconds(pid_);
  pause(3000);
  const double idleCores = (processCpuSeconds(pid_) - idleCpu0) / 3;
  const double rss = processRssMiB(pid_);
  QHash<QString, int> failures;
  for (Fleet* fleet : hostFleets()) {
    fleet->call([&] {
      for (auto it = fleet->failures.begin(); it != fleet->failures.end(); ++it) failures[it.key()] += it.value();
    });
  }
  constexpr double kRssTargetMiB = 300e6 / (1024 * 1024);  // 300 MB
  const bool met = rss < kRssTargetMiB && hostsUp_ == o_.hosts;
  line("connected, rooms created", QStringLiteral("%1 greeted, %2 failed, %3 rooms in %4 s (%5 hosts/s)")
                                       .arg(hostTotal(&Fleet::greeted))
                                       .arg(hostTotal(&Fleet::failed))
                                       .arg(hostsUp_)
                                       .arg(fixed(connectSeconds, 2))
                                       .arg(fixed(hostsUp_ / connectSeconds, 0)));
  if (!failures.isEmpty()) line("failures", counts(failures));
  line("server RSS", QStringLiteral("%1 MiB (empty: %2 MiB; %3 KiB a host)")
                         .arg(fixed(rss), fixed(rssEmpty))
                         .arg(fixed(hostsUp_ > 0 ? (rss - rssEmpty) * 1024 / hostsUp_ : 0, 1)));
  line("target: RSS under 300 MB", verdict(met));
  line("server CPU", QStringLiteral("%1 s to take them in; %2 % when idle")
                         .arg(fixed(connectCpu, 2), fixed(idleCores * 100, 1)));
  line("this process's RSS", fixed(processRssMiB(getpid())) + " MiB");
  const QJsonObject log = serverLog();
  results_["hosts"] = QJsonObject{{"hosts", o_.hosts},
                                  {"greeted", hostTotal(&Fleet::greeted)},
                                  {"failed", hostTotal(&Fleet::failed)},
                                  {"roomsCreated", hostsUp_},
                                  {"connectSeconds", connectSeconds},
                                  {"serverRssMiB", rss},
                                  {"serverRssEmptyMiB", rssEmpty},
                                  {"serverCpuSecondsToConnect", connectCpu},
                                  {"serverIdleCpuPercent", idleCores * 100},
                                  {"targetMet", met},
                                  {"serverLog", log}};
}

void Load::joins() {
  if (o_.joins <= 0 || hostsUp_ <= 0) return;
  // Each client of the pool joins once every 1.25 s: under the server's
  // cooldown of one join a second, which stays at its default.
  const int poolSize = std::min(o_.joins, int(std::ceil(o_.joinRate * 1.25)) + 1);
  std::printf("\n2. %d joins at %d/s against the idle hosts, from %d clients\n", o_.joins, o_.joinRate, poolSize);
  std::vector<Peer*> pool;
  for (int i = 0; i < poolSize; ++i) pool.push_back(&actors_.add(Role::Client, url_, {}));
  const int greeted0 = actors_.greeted, failed0 = actors_.failed;
  actors_.connectAll(pool, kConnectWindow);
  waitFor([&] { return actors_.greeted - greeted0 + actors_.failed - failed0 >= poolSize; }, 30000);
  const QHash<QString, int> errors0 = actors_.errors;
  const QHash<QString, int> others0 = actors_.others;
  const int heard0 = hostTotal(&Fleet::joinRequests);
  actors_.joinSentUs.clear();
  actors_.joinAnsweredUs.clear();
  for (Fleet* fleet : hostFleets()) fleet->call([fleet] { fleet->joinHeardUs.clear(); });

  int sent = 0;
  const double cpu0 = processCpuSeconds(pid_);
  const qint64 start = nowUs();
  QTimer pace;
  pace.setTimerType(Qt::PreciseTimer);
  pace.setInterval(1);
  QObject::connect(&pace, &QTimer::timeout, [&] {
    const int due = std::min(o_.joins, int(double(nowUs() - start) / 1e6 * o_.joinRate) + 1);
    for (; sent < due; ++sent) {
      Peer& client = *pool[size_t(sent % poolSize)];
      if (!client.greeted || !client.socket) continue;
      actors_.join(client, QStringLiteral("host-%1").arg(sent % hostsUp_));
    }
  });
  pace.start();
  waitFor([&] { return sent >= o_.joins; }, o_.joins * 1000 / o_.joinRate + 10000);
  pace.stop();
  waitFor([&] { return hostTotal(&Fleet::joinRequests) - heard0 >= actors_.joinSentUs.size(); }, 5000);
  const double cores = (processCpuSeconds(pid_) - cpu0) / (double(nowUs() - start) / 1e6);
  int unheard = 0, unanswered = 0;
  const Spread latency = spreadOf(joinLatencies(actors_, hostFleets(), false, &unheard));
  const Spread answers = spreadOf(joinLatencies(actors_, hostFleets(), true, &unanswered));
  const QHash<QString, int> errors = minus(actors_.errors, errors0);
  const QHash<QString, int> others = minus(actors_.others, others0);
  const bool met = latency.samples > 0 && latency.p99 < 5 && unheard == 0;
  line("join → host's join-request", describe(latency));
  line("target: p99 under 5 ms", verdict(met));
  // The server sends both in the same turn of its event loop: when this one
  // is as slow, the time went in the server, not in this process.
  line("join → client's own \"joined\"", describe(answers));
  line("server CPU while joining", fixed(cores * 100, 0) + " % of a core");
  line("joins sent / unheard by the host", QStringLiteral("%1 / %2").arg(actors_.joinSentUs.size()).arg(unheard));
  line("errors to the clients", counts(errors));
  line("other answers to the clients", counts(others));
  const QJsonObject log = serverLog();
  results_["joins"] = QJsonObject{{"joins", o_.joins},
                                  {"ratePerSecond", o_.joinRate},
                                  {"pool", poolSize},
                                  {"latencyMs", toJson(latency)},
                                  {"joinedAnswerLatencyMs", toJson(answers)},
                                  {"serverCpuPercent", cores * 100},
                                  {"unheard", unheard},
                                  {"errors", toJson(errors)},
                                  {"targetMet", met},
                                  {"serverLog", log}};
  for (Peer* p : pool) actors_.drop(*p);
  pause(500);
}

void Load::storm() {
  if (o_.storm <= 0 || hostsUp_ <= 0) return;
  std::printf("\n4. reconnect storm: %d hosts dropped at once, back at once%s\n", o_.storm,
              o_.stormRounds > 1 ? qPrintable(QStringLiteral(", %1 times").arg(o_.stormRounds)) : "");
  // The first group holds exactly the hosts of the storm.
  Fleet& fleet = groups_.front()->fleet;
  std::vector<Peer*> list;
  fleet.call([&] {
    for (auto& p : fleet.peers) list.push_back(p.get());
  });
  const int count = int(list.size());
  QJsonArray rounds;
  bool allMet = true;
  for (int round = 1; round <= o_.stormRounds; ++round) {
    if (o_.stormRounds > 1) std::printf("  round %d\n", round);
    const double rssBefore = processRssMiB(pid_);
    QHash<QString, int> errors0, failures0;
    fleet.call([&] {
      errors0 = fleet.errors;
      failures0 = fleet.failures;
    });
    const int greeted0 = fleet.greeted, failed0 = fleet.failed, created0 = fleet.created;
    const double serverCpu0 = processCpuSeconds(pid_), benchCpu0 = cpuSeconds();
    fleet.call([&] { fleet.storm(list); });
    const int timeoutMs = 30000;
    waitFor([&] { return fleet.greeted - greeted0 + fleet.failed - failed0 >= count; }, timeoutMs);
    waitFor([&] { return fleet.created - created0 >= fleet.greeted - greeted0; }, 5000);
    std::vector<double> helloMs, createdMs;
    QHash<QString, int> failures, errors;
    int greeted = 0, failed = 0, created = 0;
    fleet.call([&] {
      for (Peer* p : list) {
        if (p->greeted) {
          ++greeted;
          helloMs.push_back(double(p->greetedUs - fleet.stormStartUs) / 1000);
        }
        if (p->created) {
          ++created;
          createdMs.push_back(double(p->createdUs - fleet.stormStartUs) / 1000);
        }
        if (p->failed) ++failed;
      }
      failures = minus(fleet.failures, failures0);
      errors = minus(fleet.errors, errors0);
    });
    const double serverCpu = processCpuSeconds(pid_) - serverCpu0, benchCpu = cpuSeconds() - benchCpu0;
    const Spread hello = spreadOf(helloMs), room = spreadOf(createdMs);
    const int pending = count - greeted - failed;
    const bool met = greeted == count && hello.max < 5000;
    allMet = allMet && met;
    line("hello again", QStringLiteral("%1 of %2; %3 failed, %4 still waiting after %5 s")
                            .arg(greeted)
                            .arg(count)
                            .arg(failed)
                            .arg(pending)
                            .arg(timeoutMs / 1000));
    line("time to hello", describe(hello));
    line("time to its room again", describe(room));
    line("target: all within 5 s, none refused", verdict(met));
    if (failed > 0) line("failures", counts(failures));
    line("errors to the hosts", counts(errors));
    line("CPU meanwhile", QStringLiteral("server %1 s, this process %2 s, in %3 s")
                              .arg(fixed(serverCpu, 2), fixed(benchCpu, 2),
                                   fixed(std::max(hello.max, room.max) / 1000, 2)));
    pause(2000);
    const double rssAfter = processRssMiB(pid_);
    line("server RSS before / after", QStringLiteral("%1 / %2 MiB").arg(fixed(rssBefore), fixed(rssAfter)));
    const QJsonObject log = serverLog();
    rounds.append(QJsonObject{{"connections", count},
                              {"greeted", greeted},
                              {"failed", failed},
                              {"pending", pending},
                              {"failures", toJson(failures)},
                              {"helloMs", toJson(hello)},
                              {"roomCreatedMs", toJson(room)},
                              {"errors", toJson(errors)},
                              {"serverCpuSeconds", serverCpu},
                              {"benchCpuSeconds", benchCpu},
                              {"serverRssBeforeMiB", rssBefore},
                              {"serverRssAfterMiB", rssAfter},
                              {"targetMet", met},
                              {"serverLog", log}});
  }
  results_["storm"] = QJsonObject{{"rounds", rounds}, {"targetMet", allMet}};
}

}  // namespace lunor::bench::load
