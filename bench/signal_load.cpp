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
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>


#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QNetworkProxy>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QWebSocket>

#include "cpu_time.h"
#include "system/descriptor_limit.h"
#include "epoll_dispatcher.h"
#include "process_stats.h"
#include "redis_server_process.h"
#include "signal_server_process.h"

using namespace lunor;
using namespace lunor::bench;

namespace {

// Every connection of the load comes from 127.0.0.1: the per-address bounds
// are lifted, or they would refuse the load itself. The others keep their
// defaults.
const QStringList kServerFlags{"--max-connections-per-address", "1000000", "--max-room-ids-per-minute", "1000000"};

// Handshakes in flight at once while a fleet connects (the storm has none).
constexpr int kConnectWindow = 256;

// A WebRTC candidate, about the size of the signals a real pair exchanges.
constexpr char kCandidate[] =
    "candidate:842163049 1 udp 1677729535 203.0.113.7 49152 typ srflx raddr 192.168.1.20 rport 49152 generation 0";

qint64 nowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Runs the event loop until done() holds or timeoutMs pass; true if it holds.
// Not QTest::qWaitFor: it sleeps between checks, which would land in the
// latencies measured here.
bool waitFor(const std::function<bool()>& done, int timeoutMs) {
  if (done()) return true;
  QEventLoop loop;
  QTimer check;
  check.setInterval(2);
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  check.start();
  loop.exec();
  return done();
}

void pause(int ms) { waitFor([] { return false; }, ms); }

// ---- figures ----

struct Spread {
  double p50 = 0, p95 = 0, p99 = 0, max = 0;
  qsizetype samples = 0;
};

Spread spreadOf(std::vector<double> values) {
  Spread s;
  s.samples = qsizetype(values.size());
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  auto at = [&](double p) { return values[size_t(std::lround(p * double(values.size() - 1)))]; };
  s.p50 = at(0.5);
  s.p95 = at(0.95);
  s.p99 = at(0.99);
  s.max = values.back();
  return s;
}

QJsonObject toJson(const Spread& s) {
  return {{"p50", s.p50}, {"p95", s.p95}, {"p99", s.p99}, {"max", s.max}, {"samples", s.samples}};
}

QString fixed(double value, int decimals = 1) { return QString::number(value, 'f', decimals); }

QString describe(const Spread& s) {
  return QStringLiteral("p50 %1 · p95 %2 · p99 %3 · max %4 ms (%5 samples)")
      .arg(fixed(s.p50, 2), fixed(s.p95, 2), fixed(s.p99, 2), fixed(s.max, 2))
      .arg(s.samples);
}

QString counts(const QHash<QString, int>& byName) {
  QStringList parts;
  for (auto it = byName.begin(); it != byName.end(); ++it) {
    if (it.value() > 0) parts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
  }
  parts.sort();
  return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
}

QJsonObject toJson(const QHash<QString, int>& byName) {
  QJsonObject object;
  for (auto it = byName.begin(); it != byName.end(); ++it) {
    if (it.value() > 0) object[it.key()] = it.value();
  }
  return object;
}

QHash<QString, int> minus(QHash<QString, int> after, const QHash<QString, int>& before) {
  for (auto it = before.begin(); it != before.end(); ++it) after[it.key()] -= it.value();
  return after;
}

void line(const QString& label, const QString& value) {
  // Padded here, not by printf: the labels have arrows and printf counts bytes.
  std::printf("  %s %s\n", qPrintable(label.leftJustified(40)), qPrintable(value));
}

QString verdict(bool met) { return met ? QStringLiteral("met") : QStringLiteral("NOT met"); }

// ---- the server's log ----

// Events of the server's log by name. A "repeated=N" line sums up N more of
// its event (the server folds repeats from one address).
QMap<QString, qint64> logEvents(const QByteArray& log) {
  static const QRegularExpression event(QStringLiteral(" event=(\\S+)(?:.* repeated=(\\d+))?"));
  QMap<QString, qint64> events;
  for (auto it = event.globalMatch(QString::fromUtf8(log)); it.hasNext();) {
    const auto match = it.next();
    events[match.captured(1)] += match.hasCaptured(2) ? match.captured(2).toLongLong() : 1;
  }
  return events;
}

// The events a healthy run has plenty of; the others are worth a look.
bool isRoutine(const QString& event) {
  static const QStringList routine{"listening",    "connected", "disconnected", "room-created", "room-closed",
                                   "join-request", "admitted",  "stopped",      "cluster-joined"};
  return routine.contains(event);
}

QString unusual(const QMap<QString, qint64>& events) {
  QStringList parts;
  for (auto it = events.begin(); it != events.end(); ++it) {
    if (!isRoutine(it.key())) parts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
  }
  return parts.isEmpty() ? QStringLiteral("nothing unusual") : parts.join(QStringLiteral(", "));
}

QJsonObject toJson(const QMap<QString, qint64>& events) {
  QJsonObject object;
  for (auto it = events.begin(); it != events.end(); ++it) object[it.key()] = it.value();
  return object;
}

// Where the servers' logs are copied, if anywhere (--server-log).
QFile* logCopy = nullptr;

// A server and the part of its log not yet looked at.
struct Server {
  std::unique_ptr<test::SignalServerProcess> process;
  qsizetype logSeen = 0;

  qint64 pid() { return process->process().processId(); }
  // The log since the last call.
  QByteArray newLog() {
    const QByteArray all = process->output();
    const QByteArray fresh = all.mid(logSeen);
    logSeen = all.size();
    if (logCopy) logCopy->write(fresh);
    return fresh;
  }
  // Stops the server; the log's last lines (its folded repeats) come out then.
  QByteArray stop() {
    QProcess& p = process->process();
    if (p.state() != QProcess::NotRunning) {
      p.terminate();
      if (!p.waitForFinished(10000)) p.kill();
    }
    return newLog();
  }
};

std::optional<Server> startServer(const QStringList& extra) {
  Server server;
  server.process = std::make_unique<test::SignalServerProcess>(kServerFlags + extra);
  if (!server.process->isListening()) {
    const QByteArray output = server.newLog();
    std::printf("  lunor-signal did not start: %s\n", output.trimmed().right(300).constData());
    return std::nullopt;
  }
  return server;
}

// ---- the clients ----

enum class Role { Host, Client };

// One connection of the load, and what it heard on its current socket.
struct Peer {
  Role role = Role::Client;
  QUrl url;
  QString roomId;                       // the room it hosts, or the one it last asked to join
  QString clientId;                     // from the server's hello
  std::unique_ptr<QWebSocket> socket;   // null once dropped
  bool opening = false;                 // counted in the fleet's connect window
  bool greeted = false;
  bool failed = false;                  // closed before its hello
  bool created = false;
  bool admitted = false;                // peer-joined heard
  qint64 greetedUs = 0, createdUs = 0;
  Peer* partner = nullptr;              // the other end of a relay pair, in the same fleet
  qint64 relaySent = 0;
  double relayPhase = 0;                // spreads the pairs' sends over a tick
};

// Connections served by one thread. The methods run in that thread (call()
// gets there from another one); the atomic counters may be read anywhere.
// The idle hosts have a thread of their own, so that ten thousand sockets do
// not weigh on the event loop of the connections being measured.
class Fleet final : public QObject {
 public:
  // approves: the hosts approve every join request they get.
  explicit Fleet(bool approves) : approves_(approves) {}
  ~Fleet() override = default;

  Fleet(const Fleet&) = delete;
  Fleet& operator=(const Fleet&) = delete;

  // Runs f in the fleet's thread and waits for it.
  template <typename F>
  void call(F f) {
    if (thread() == QThread::currentThread()) {
      f();
    } else {
      QMetaObject::invokeMethod(this, std::move(f), Qt::BlockingQueuedConnection);
    }
  }

  Peer& add(Role role, const QUrl& url, const QString& roomId) {
    auto peer = std::make_unique<Peer>();
    peer->role = role;
    peer->url = url;
    peer->roomId = roomId;
    peers.push_back(std::move(peer));
    return *peers.back();
  }

  // Opens the peers, at most `window` handshakes at a time (0: all at once).
  void connectAll(const std::vector<Peer*>& list, int window) {
    window_ = window;
    for (Peer* p : list) queue_.push_back(p);
    pump();
  }

  // Drops the connection without a goodbye, as a lost network would.
  void drop(Peer& p) {
    if (p.opening) {
      p.opening = false;
      --inFlight_;
    }
    if (!p.socket) return;
    QWebSocket* socket = p.socket.release();
    socket->disconnect();
    socket->abort();
    socket->deleteLater();
  }

  void dropAll() {
    stopRelay();
    for (auto& p : peers) drop(*p);
  }

  // Drops the peers all at once, then opens them all again at once.
  void storm(const std::vector<Peer*>& list) {
    for (Peer* p : list) drop(*p);
    stormStartUs = nowUs();
    for (Peer* p : list) open(*p);
  }

  void join(Peer& client, const QString& roomId) {
    client.roomId = roomId;
    joinSentUs.insert(client.clientId + QLatin1Char('|') + roomId, nowUs());
    send(client, QJsonObject{{"type", "join"}, {"roomId", roomId}, {"displayName", "load"}});
  }

  // Each admitted peer with a partner sends it `rate` signals a second.
  void startRelay(double rate) {
    relayRate_ = rate;
    relaying_.clear();
    for (auto& p : peers) {
      if (p->partner && p->admitted && p->socket) relaying_.push_back(p.get());
    }
    for (size_t i = 0; i < relaying_.size(); ++i) {
      relaying_[i]->relaySent = 0;
      relaying_[i]->relayPhase = double(i % 64) / 64;
    }
    relayStartUs_ = nowUs();
    relayTimer_ = std::make_unique<QTimer>();
    relayTimer_->setTimerType(Qt::PreciseTimer);
    relayTimer_->setInterval(5);
    QObject::connect(relayTimer_.get(), &QTimer::timeout, this, [this] { relayTick(); });
    relayTimer_->start();
  }
  void stopRelay() {
    relayTimer_.reset();
    relaying_.clear();
  }

  std::atomic<int> greeted{0}, failed{0}, created{0}, admitted{0}, joinRequests{0}, lost{0};
  std::atomic<qint64> relaySent{0}, relayReceived{0};
  std::atomic<bool> measuring{false};  // relay latencies are kept while it holds

  // Read through call():
  std::vector<std::unique_ptr<Peer>> peers;
  QHash<QString, int> errors;           // "error" messages by code
  QHash<QString, int> others;           // other messages nobody waits for, by type
  QHash<QString, int> failures;         // why connections closed before their hello
  QHash<QString, int> lostWhy;          // why greeted connections were closed: "code reason"
  QHash<QString, qint64> joinSentUs;    // "clientId|roomId" → when the join left
  QHash<QString, qint64> joinHeardUs;   // "clientId|roomId" → when its host heard of it
  QHash<QString, qint64> joinAnsweredUs;  // "clientId|roomId" → when the client heard "joined"
  std::vector<double> relayLatenciesMs;
  qint64 stormStartUs = 0;

 private:
  void open(Peer& p) {
    p.greeted = p.failed = p.created = p.admitted = false;
    p.clientId.clear();
    p.socket = std::make_unique<QWebSocket>();
    QWebSocket* socket = p.socket.get();
    socket->setProxy(QNetworkProxy::NoProxy);
    // The peers outlive their sockets' connections: drop() cuts them first.
    QObject::connect(socket, &QWebSocket::textMessageReceived, this, [this, &p](const QString& text) {
      handle(p, text);
    });
    QObject::connect(socket, &QWebSocket::disconnected, this, [this, &p] { closed(p); });
    socket->open(p.url);
  }

  void pump() {
    while (!queue_.empty() && (window_ <= 0 || inFlight_ < window_)) {
      Peer* p = queue_.front();
      queue_.pop_front();
      p->opening = true;
      ++inFlight_;
      open(*p);
    }
  }

  void settled(Peer& p) {
    if (!p.opening) return;
    p.opening = false;
    --inFlight_;
    pump();
  }

  void send(Peer& p, const QJsonObject& message) {
    if (p.socket) p.socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
  }

  void closed(Peer& p) {
    if (p.greeted) {
      ++lost;
      ++lostWhy[QStringLiteral("%1 %2").arg(int(p.socket->closeCode())).arg(p.socket->closeReason())];
    } else {
      p.failed = true;
      ++failed;
      ++failures[p.socket->errorString()];
    }
    settled(p);
  }

  void handle(Peer& p, const QString& text) {
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString type = message.value(QLatin1String("type")).toString();
    if (type == QLatin1String("signal")) {
      ++relayReceived;
      if (measuring) {
        const QJsonObject data = message.value(QLatin1String("data")).toObject();
        const auto sent = qint64(data.value(QLatin1String("t")).toDouble());
        relayLatenciesMs.push_back(double(nowUs() - sent) / 1000);
      }
    } else if (type == QLatin1String("hello")) {
      p.clientId = message.value(QLatin1String("clientId")).toString();
      p.greeted = true;
      p.greetedUs = nowUs();
      ++greeted;
      if (p.role == Role::Host) send(p, QJsonObject{{"type", "create"}, {"roomId", p.roomId}});
      settled(p);
    } else if (type == QLatin1String("created")) {
      p.created = true;
      p.createdUs = nowUs();
      ++created;
    } else if (type == QLatin1String("join-request")) {
      const QString client = message.value(QLatin1String("clientId")).toString();
      joinHeardUs.insert(client + QLatin1Char('|') + p.roomId, nowUs());
      ++joinRequests;
      if (approves_) send(p, QJsonObject{{"type", "approve"}, {"target", client}});
    } else if (type == QLatin1String("joined")) {
      joinAnsweredUs.insert(p.clientId + QLatin1Char('|') + p.roomId, nowUs());
      ++others[type];
    } else if (type == QLatin1String("peer-joined")) {
      p.admitted = true;
      ++admitted;
    } else if (type == QLatin1String("error")) {
      ++errors[message.value(QLatin1String("code")).toString()];
    } else {
      ++others[type];
    }
  }

  void relayTick() {
    // After a stall of this process, no more than a few sends at once: the
    // server's burst allowance is not what is measured.
    constexpr qint64 kMostAtOnce = 8;
    const double seconds = double(nowUs() - relayStartUs_) / 1e6;
    for (Peer* p : relaying_) {
      if (!p->socket) continue;
      const auto due = qint64(relayRate_ * seconds + p->relayPhase);
      if (due - p->relaySent > kMostAtOnce) p->relaySent = due - kMostAtOnce;
      for (; p->relaySent < due; ++p->relaySent) {
        const QByteArray json = R"({"type":"signal","data":{"t":)" + QByteArray::number(nowUs()) +
                                R"(,"candidate":")" + kCandidate + R"(","sdpMid":"0"}})";
        p->socket->sendTextMessage(QString::fromLatin1(json));
        ++relaySent;
      }
    }
  }

  const bool approves_;
  std::deque<Peer*> queue_;
  int inFlight_ = 0;
  int window_ = 0;
  double relayRate_ = 0;
  qint64 relayStartUs_ = 0;
  std::vector<Peer*> relaying_;
  std::unique_ptr<QTimer> relayTimer_;
};

QHash<QString, int> errorsOf(Fleet& fleet) {
  QHash<QString, int> copy;
  fleet.call([&] { copy = fleet.errors; });
  return copy;
}

// From each sent join to its host's join-request (answers: false) or to the
// client's own "joined" (answers: true); *missing counts those that never came.
std::vector<double> joinLatencies(Fleet& clients, const std::vector<Fleet*>& hosts, bool answers, int* missing) {
  QHash<QString, qint64> sent, heard;
  clients.call([&] { sent = clients.joinSentUs; });
  if (answers) {
    clients.call([&] { heard = clients.joinAnsweredUs; });
  } else {
    for (Fleet* fleet : hosts) fleet->call([&] { heard.insert(fleet->joinHeardUs); });
  }
  std::vector<double> latencies;
  *missing = 0;
  for (auto it = sent.begin(); it != sent.end(); ++it) {
    const auto at = heard.constFind(it.key());
    if (at == heard.constEnd()) {
      ++*missing;
    } else {
      latencies.push_back(double(*at - it.value()) / 1000);
    }
  }
  return latencies;
}

std::vector<double> cpuOf(const std::vector<qint64>& pids) {
  std::vector<double> seconds;
  for (qint64 pid : pids) seconds.push_back(processCpuSeconds(pid));
  return seconds;
}

// ---- the relay ----

struct RelayFigures {
  bool ready = false;
  QString trouble;          // why it did not get going
  double seconds = 0;
  double sentPerSecond = 0;
  double receivedPerSecond = 0;
  double serverCores = 0;   // all server processes together
  std::vector<double> coresByProcess;  // in the order they were given
  double benchCores = 0;
  qint64 unanswered = 0;    // sent but not received by the end
  int closedByServer = 0;   // connections of the pairs the server closed
  Spread latency;
  Spread joinLatency;       // of the pairs' joins
  QHash<QString, int> errors;
};

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

// Pairs of `fleet` (which must live in this thread), hosts on hostUrl and
// clients on clientUrl; each side sends `rate` signals a second to the other
// for warmUp + seconds.
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

// ---- the rest ----

// The system's load averages: others' work shares the cores with the figures.
QString loadAverage() {
  QFile file(QStringLiteral("/proc/loadavg"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

// A child process of this one, by name; 0 when there is none.
qint64 childPid(const QByteArray& name) {
  const qint64 self = QCoreApplication::applicationPid();
  for (qint64 pid : processTree(self)) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (pid != self && comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name) return pid;
  }
  return 0;
}

struct Options {
  int hosts = 0;
  int joins = 0;
  int joinRate = 0;
  int pairs = 0;
  double rate = 0;
  int seconds = 0;
  int warmUp = 0;
  int storm = 0;
  int stormRounds = 0;
  bool redis = true;
  QStringList extraArgs;  // for lunor-signal, after kServerFlags
};

// Idle hosts in a thread of their own.
class HostGroup final {
 public:
  HostGroup() {
    // Thousands of sockets a thread: epoll, as the server, so that what is
    // measured is the server and not this process polling them all.
    thread.setEventDispatcher(new lunor::signal::EpollEventDispatcher);
    fleet.moveToThread(&thread);
    thread.start();
  }
  ~HostGroup() {
    fleet.call([this] { fleet.dropAll(); });
    thread.quit();
    thread.wait();
  }
  HostGroup(const HostGroup&) = delete;
  HostGroup& operator=(const HostGroup&) = delete;

  QThread thread;
  Fleet fleet{/*approves=*/false};
};

// The run: the first server, the idle hosts, the connections measured, and
// the figures so far.
class Load final {
 public:
  explicit Load(Options options) : o_(std::move(options)) {
    // Groups the size of the storm: the storm's thread polls only its own
    // sockets, not all of them.
    const int groupSize = o_.storm > 0 ? o_.storm : o_.hosts;
    for (int first = 0; first < o_.hosts; first += groupSize) {
      groups_.push_back(std::make_unique<HostGroup>());
      groupSizes_.push_back(std::min(groupSize, o_.hosts - first));
    }
  }

  bool start() {
    server_ = startServer(o_.extraArgs);
    if (!server_) return false;
    pid_ = server_->pid();
    url_ = server_->process->url();
    tally(server_->newLog());
    return true;
  }

  void idleHosts();
  void joins();
  void relay();
  void storm();
  void stopFirstServer();
  void twoInstances();

  QJsonObject results() {
    results_["serverArgs"] = QJsonArray::fromStringList(kServerFlags + o_.extraArgs);
    results_["serverLog"] = toJson(allEvents_);
    return results_;
  }
  QString unusualEvents() const { return unusual(allEvents_); }

 private:
  QMap<QString, qint64> tally(const QByteArray& log) {
    const auto events = logEvents(log);
    for (auto it = events.begin(); it != events.end(); ++it) allEvents_[it.key()] += it.value();
    return events;
  }
  // The server's log since the last look, printed and returned for the JSON.
  QJsonObject serverLog() {
    const auto events = tally(server_->newLog());
    line("server log", unusual(events));
    return toJson(events);
  }
  int hostTotal(std::atomic<int> Fleet::*counter) const {
    int sum = 0;
    for (const auto& g : groups_) sum += g->fleet.*counter;
    return sum;
  }
  std::vector<Fleet*> hostFleets() const {
    std::vector<Fleet*> fleets;
    for (const auto& g : groups_) fleets.push_back(&g->fleet);
    return fleets;
  }

  const Options o_;
  std::optional<Server> server_;
  qint64 pid_ = 0;
  QUrl url_;
  std::vector<std::unique_ptr<HostGroup>> groups_;
  std::vector<int> groupSizes_;
  Fleet actors_{/*approves=*/true};  // joining clients and relay pairs, in this thread
  int hostsUp_ = 0;
  RelayFigures single_;  // phase 3
  QJsonObject results_;
  QMap<QString, qint64> allEvents_;
};

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

}  // namespace

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
