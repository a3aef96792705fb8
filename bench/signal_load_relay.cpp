// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-signal-load, phases 3 and 5: relay between admitted pairs, on one
// instance and on two sharing their rooms over Redis.

#include <algorithm>
#include <cstdio>

#include <QCoreApplication>

#include "cpu_time.h"
#include "process_stats.h"
#include "redis_server_process.h"
#include "signal_load.h"

namespace lunor::bench::load {
namespace {

// A child process of this one, by name; 0 when there is none.
qint64 childPid(const QByteArray& name) {
  const qint64 self = QCoreApplication::applicationPid();
  for (qint64 pid : processTree(self)) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (pid != self && comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name) return pid;
  }
  return 0;
}

}  // namespace

QJsonObject toJson(const RelayFigures& r) {
  return {{"ready", r.ready},
          {"trouble", r.trouble},
          {"seconds", r.seconds},
          {"sentPerSecond", r.sentPerSecond},
          {"receivedPerSecond", r.receivedPerSecond},
          {"serverCpuPercent", r.serverCores * 100},
          {"serverCpuPercentByProcess", [&] {
             QJsonArray percents;
             for (double cores : r.coresByProcess) percents.append(cores * 100);
             return percents;
           }()},
          {"benchCpuPercent", r.benchCores * 100},
          {"unanswered", r.unanswered},
          {"closedByServer", r.closedByServer},
          {"latencyMs", toJson(r.latency)},
          {"pairJoinLatencyMs", toJson(r.joinLatency)},
          {"errors", toJson(r.errors)}};
}

RelayFigures runRelay(Fleet& fleet, const QUrl& hostUrl, const QUrl& clientUrl, const QString& tag, int pairs,
                      double rate, int warmUp, int seconds, const std::vector<qint64>& serverPids) {
  RelayFigures r;
  std::vector<Peer*> hostList, clientList;
  for (int i = 0; i < pairs; ++i) {
    Peer& host = fleet.add(Role::Host, hostUrl, QStringLiteral("relay-%1-%2").arg(tag).arg(i));
    Peer& client = fleet.add(Role::Client, clientUrl, {});
    host.partner = &client;
    client.partner = &host;
    hostList.push_back(&host);
    clientList.push_back(&client);
  }
  std::vector<Peer*> all = hostList;
  all.insert(all.end(), clientList.begin(), clientList.end());
  fleet.joinSentUs.clear();
  fleet.joinHeardUs.clear();
  fleet.joinAnsweredUs.clear();

  const int greeted0 = fleet.greeted, created0 = fleet.created, admitted0 = fleet.admitted, failed0 = fleet.failed;
  fleet.connectAll(all, kConnectWindow);
  waitFor(
      [&] {
        return fleet.greeted - greeted0 + fleet.failed - failed0 >= 2 * pairs && fleet.created - created0 >= pairs;
      },
      30000);
  if (fleet.greeted - greeted0 < 2 * pairs || fleet.created - created0 < pairs) {
    r.trouble = QStringLiteral("%1 of %2 connections greeted, %3 of %4 rooms created (errors: %5)")
                    .arg(fleet.greeted - greeted0)
                    .arg(2 * pairs)
                    .arg(fleet.created - created0)
                    .arg(pairs)
                    .arg(counts(fleet.errors));
    for (Peer* p : all) fleet.drop(*p);
    return r;
  }
  for (int i = 0; i < pairs; ++i) fleet.join(*clientList[size_t(i)], hostList[size_t(i)]->roomId);
  waitFor([&] { return fleet.admitted - admitted0 >= 2 * pairs; }, 15000);
  int unheard = 0;
  r.joinLatency = spreadOf(joinLatencies(fleet, {&fleet}, false, &unheard));
  if (fleet.admitted - admitted0 < 2 * pairs) {
    r.trouble = QStringLiteral("%1 of %2 pairs admitted (%3 joins unheard by their host; messages: %4)")
                    .arg((fleet.admitted - admitted0) / 2)
                    .arg(pairs)
                    .arg(unheard)
                    .arg(counts(fleet.others));
    for (Peer* p : all) fleet.drop(*p);
    return r;
  }
  r.ready = true;

  const QHash<QString, int> errors0 = fleet.errors;
  const int lost0 = fleet.lost;
  fleet.startRelay(rate);
  pause(warmUp * 1000);
  fleet.relayLatenciesMs.clear();
  fleet.measuring = true;
  const qint64 sent0 = fleet.relaySent, received0 = fleet.relayReceived;
  const std::vector<double> server0 = cpuOf(serverPids);
  const double bench0 = cpuSeconds();
  const qint64 t0 = nowUs();
  pause(seconds * 1000);
  const qint64 sent1 = fleet.relaySent, received1 = fleet.relayReceived;
  const std::vector<double> server1 = cpuOf(serverPids);
  const double bench1 = cpuSeconds();
  r.seconds = double(nowUs() - t0) / 1e6;
  fleet.measuring = false;
  fleet.stopRelay();
  // What is still on its way.
  waitFor([&] { return fleet.relayReceived >= fleet.relaySent; }, 2000);

  r.sentPerSecond = double(sent1 - sent0) / r.seconds;
  r.receivedPerSecond = double(received1 - received0) / r.seconds;
  for (size_t i = 0; i < serverPids.size(); ++i) {
    r.coresByProcess.push_back((server1[i] - server0[i]) / r.seconds);
    r.serverCores += r.coresByProcess.back();
  }
  r.benchCores = (bench1 - bench0) / r.seconds;
  r.unanswered = fleet.relaySent - fleet.relayReceived;
  r.latency = spreadOf(std::move(fleet.relayLatenciesMs));
  fleet.relayLatenciesMs = {};
  r.errors = minus(fleet.errors, errors0);
  r.closedByServer = fleet.lost - lost0;
  fleet.relaySent = 0;
  fleet.relayReceived = 0;
  for (Peer* p : all) fleet.drop(*p);
  return r;
}

void printRelay(const RelayFigures& r, int pairs, double rate) {
  if (!r.ready) {
    line("relay", QStringLiteral("did not start: %1").arg(r.trouble));
    return;
  }
  line("pairs' join → join-request", describe(r.joinLatency));
  line("offered", QStringLiteral("%1 pairs × 2 directions × %2 msg/s = %3 msg/s")
                      .arg(pairs)
                      .arg(rate)
                      .arg(fixed(pairs * 2 * rate, 0)));
  line("sent / relayed", QStringLiteral("%1 / %2 msg/s over %3 s")
                             .arg(fixed(r.sentPerSecond, 0), fixed(r.receivedPerSecond, 0), fixed(r.seconds, 1)));
  line("relay latency", describe(r.latency));
  QStringList each;
  for (double cores : r.coresByProcess) each << fixed(cores * 100, 0);
  const QString split = each.size() > 1 ? QStringLiteral(" (%1 %)").arg(each.join(QStringLiteral(" + "))) : QString();
  line("server CPU", fixed(r.serverCores * 100, 0) + " % of a core" + split);
  if (!r.coresByProcess.empty() && *std::max_element(r.coresByProcess.begin(), r.coresByProcess.end()) >= 0.9) {
    // A busy server reads more messages a turn of its event loop: it keeps
    // up, and the messages wait longer.
    line("", "the server is at its limit: the latency above is its queue");
  }
  line("this process's CPU", fixed(r.benchCores * 100, 0) + " %");
  line("errors heard", counts(r.errors));
  line("not received by the end", QString::number(r.unanswered));
  if (r.closedByServer > 0) line("connections the server closed", QString::number(r.closedByServer));
}

void Load::relay() {
  if (o_.pairs <= 0) return;
  std::printf("\n3. relay between %d pairs, both ways, %d s (beside the %d idle hosts)\n", o_.pairs, o_.seconds,
              hostsUp_);
  single_ = runRelay(actors_, url_, url_, QStringLiteral("one"), o_.pairs, o_.rate, o_.warmUp, o_.seconds, {pid_});
  printRelay(single_, o_.pairs, o_.rate);
  const bool met = single_.ready && single_.receivedPerSecond >= 20000 && single_.serverCores <= 1.05;
  line("target: 20,000 msg/s within one core", verdict(met));
  QJsonObject figures = toJson(single_);
  figures["pairs"] = o_.pairs;
  figures["ratePerConnection"] = o_.rate;
  figures["idleHosts"] = hostsUp_;
  figures["targetMet"] = met;
  figures["serverLog"] = serverLog();
  results_["relay"] = figures;
  pause(500);
}

void Load::twoInstances() {
  if (o_.pairs <= 0 || !o_.redis) return;
  std::printf("\n5. two instances over Redis: hosts on the first, clients on the second, %d pairs\n", o_.pairs);
  QJsonObject figures;
  // The yardstick: one instance as in phase 3, without the idle hosts.
  std::printf("  one instance, no idle hosts:\n");
  RelayFigures one;
  if (std::optional<Server> plain = startServer(o_.extraArgs)) {
    one = runRelay(actors_, plain->process->url(), plain->process->url(), QStringLiteral("base"), o_.pairs, o_.rate,
                   o_.warmUp, o_.seconds, {plain->pid()});
    printRelay(one, o_.pairs, o_.rate);
    tally(plain->stop());
  }
  figures["oneInstance"] = toJson(one);

  std::printf("  two instances and Redis:\n");
  test::RedisServerProcess redis;
  std::optional<Server> first, second;
  if (!redis.isReady()) {
    line("skipped", QStringLiteral("redis-server did not start: %1")
                        .arg(QString::fromUtf8(redis.output().trimmed().right(300))));
    figures["skipped"] = "redis-server did not start";
  } else if (!(first = startServer(o_.extraArgs + QStringList{"--redis", redis.url()})) ||
             !(second = startServer(o_.extraArgs + QStringList{"--redis", redis.url()}))) {
    line("skipped", "lunor-signal did not start with --redis (see above)");
    figures["skipped"] = "lunor-signal did not start with --redis";
  } else {
    const RelayFigures two =
        runRelay(actors_, first->process->url(), second->process->url(), QStringLiteral("two"), o_.pairs, o_.rate,
                 o_.warmUp, o_.seconds, {first->pid(), second->pid(), childPid("redis-server")});
    printRelay(two, o_.pairs, o_.rate);
    const double throughputRatio = two.receivedPerSecond > 0 ? one.receivedPerSecond / two.receivedPerSecond : 0;
    const double medianRatio = one.latency.p50 > 0 ? two.latency.p50 / one.latency.p50 : 0;
    const double latencyRatio = one.latency.p99 > 0 ? two.latency.p99 / one.latency.p99 : 0;
    const double cpuRatio = one.serverCores > 0 ? two.serverCores / one.serverCores : 0;
    const bool met = one.ready && two.ready && throughputRatio <= 2;
    if (one.ready && two.ready) {
      line("two instances vs one",
           QStringLiteral("throughput ÷%1 · latency p50 ×%2, p99 ×%3 · server CPU ×%4 (with Redis's)")
               .arg(fixed(throughputRatio, 2), fixed(medianRatio, 2), fixed(latencyRatio, 2), fixed(cpuRatio, 2)));
    }
    line("target: throughput within 2× of one", verdict(met));
    QByteArray log = first->stop();
    log += second->stop();
    const auto events = tally(log);
    line("servers' log", unusual(events));
    figures["twoInstances"] = toJson(two);
    figures["throughputRatio"] = throughputRatio;
    figures["p50LatencyRatio"] = medianRatio;
    figures["p99LatencyRatio"] = latencyRatio;
    figures["serverCpuRatio"] = cpuRatio;
    figures["targetMet"] = met;
    figures["serverLog"] = toJson(events);
  }
  results_["twoInstances"] = figures;
}

}  // namespace lunor::bench::load
