// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What lunor-signal-load is made of: the server under load and its log, the
// clients that load it (fleets of connections, each served by one thread),
// the figures and how they are reported, and the run (Load) whose phases
// live in signal_load_hosts.cpp (idle hosts, joins, the reconnect storm)
// and signal_load_relay.cpp (relay on one instance and on two).

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include "epoll_dispatcher.h"
#include "signal_server_process.h"

namespace lunor::bench::load {

// Every connection of the load comes from 127.0.0.1: the per-address bounds
// are lifted, or they would refuse the load itself. The others keep their
// defaults.
inline const QStringList kServerFlags{"--max-connections-per-address", "1000000", "--max-room-ids-per-minute", "1000000"};

// Handshakes in flight at once while a fleet connects (the storm has none).
constexpr int kConnectWindow = 256;

qint64 nowUs();
// Runs the event loop until done() holds or timeoutMs pass; true if it holds.
// Not QTest::qWaitFor: it sleeps between checks, which would land in the
// latencies measured here.
bool waitFor(const std::function<bool()>& done, int timeoutMs);
void pause(int ms);

// ---- figures ----

struct Spread {
  double p50 = 0, p95 = 0, p99 = 0, max = 0;
  qsizetype samples = 0;
};

Spread spreadOf(std::vector<double> values);
QJsonObject toJson(const Spread& s);
QString fixed(double value, int decimals = 1);
QString describe(const Spread& s);
QString counts(const QHash<QString, int>& byName);
QJsonObject toJson(const QHash<QString, int>& byName);
QHash<QString, int> minus(QHash<QString, int> after, const QHash<QString, int>& before);
void line(const QString& label, const QString& value);
QString verdict(bool met);

// ---- the server's log ----

// Events of the server's log by name. A "repeated=N" line sums up N more of
// its event (the server folds repeats from one address).
QMap<QString, qint64> logEvents(const QByteArray& log);
// The events a healthy run does not have plenty of, or "nothing unusual".
QString unusual(const QMap<QString, qint64>& events);
QJsonObject toJson(const QMap<QString, qint64>& events);

// Where the servers' logs are copied, if anywhere (--server-log).
extern QFile* logCopy;

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

std::optional<Server> startServer(const QStringList& extra);

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

  Peer& add(Role role, const QUrl& url, const QString& roomId);

  // Opens the peers, at most `window` handshakes at a time (0: all at once).
  void connectAll(const std::vector<Peer*>& list, int window);

  // Drops the connection without a goodbye, as a lost network would.
  void drop(Peer& p);
  void dropAll();

  // Drops the peers all at once, then opens them all again at once.
  void storm(const std::vector<Peer*>& list);
  void join(Peer& client, const QString& roomId);

  // Each admitted peer with a partner sends it `rate` signals a second.
  void startRelay(double rate);
  void stopRelay();

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
  void open(Peer& p);
  void pump();
  void settled(Peer& p);
  void send(Peer& p, const QJsonObject& message);
  void closed(Peer& p);
  void handle(Peer& p, const QString& text);
  void relayTick();

  const bool approves_;
  std::deque<Peer*> queue_;
  int inFlight_ = 0;
  int window_ = 0;
  double relayRate_ = 0;
  qint64 relayStartUs_ = 0;
  std::vector<Peer*> relaying_;
  std::unique_ptr<QTimer> relayTimer_;
};

// From each sent join to its host's join-request (answers: false) or to the
// client's own "joined" (answers: true); *missing counts those that never came.
std::vector<double> joinLatencies(Fleet& clients, const std::vector<Fleet*>& hosts, bool answers, int* missing);
std::vector<double> cpuOf(const std::vector<qint64>& pids);

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

QJsonObject toJson(const RelayFigures& r);
// Pairs of `fleet` (which must live in this thread), hosts on hostUrl and
// clients on clientUrl; each side sends `rate` signals a second to the other
// for warmUp + seconds.
RelayFigures runRelay(Fleet& fleet, const QUrl& hostUrl, const QUrl& clientUrl, const QString& tag, int pairs,
                      double rate, int warmUp, int seconds, const std::vector<qint64>& serverPids);
void printRelay(const RelayFigures& r, int pairs, double rate);

// ---- the run ----

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

}  // namespace lunor::bench::load

