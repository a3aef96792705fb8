// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-signal-load: the clients. Fleets of connections, the relay between
// pairs, and what they measure.

#include <QJsonDocument>
#include <QNetworkProxy>

#include "process_stats.h"
#include "signal_load.h"

namespace lunor::bench::load {
namespace {

// A WebRTC candidate, about the size of the signals a real pair exchanges.
constexpr char kCandidate[] =
    "candidate:842163049 1 udp 1677729535 203.0.113.7 49152 typ srflx raddr 192.168.1.20 rport 49152 generation 0";

}  // namespace

Peer& Fleet::add(Role role, const QUrl& url, const QString& roomId) {
  auto peer = std::make_unique<Peer>();
  peer->role = role;
  peer->url = url;
  peer->roomId = roomId;
  peers.push_back(std::move(peer));
  return *peers.back();
}

void Fleet::connectAll(const std::vector<Peer*>& list, int window) {
  window_ = window;
  for (Peer* p : list) queue_.push_back(p);
  pump();
}

void Fleet::drop(Peer& p) {
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

void Fleet::dropAll() {
  stopRelay();
  for (auto& p : peers) drop(*p);
}

void Fleet::storm(const std::vector<Peer*>& list) {
  for (Peer* p : list) drop(*p);
  stormStartUs = nowUs();
  for (Peer* p : list) open(*p);
}

void Fleet::join(Peer& client, const QString& roomId) {
  client.roomId = roomId;
  joinSentUs.insert(client.clientId + QLatin1Char('|') + roomId, nowUs());
  send(client, QJsonObject{{"type", "join"}, {"roomId", roomId}, {"displayName", "load"}});
}

void Fleet::startRelay(double rate) {
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

void Fleet::stopRelay() {
  relayTimer_.reset();
  relaying_.clear();
}

void Fleet::open(Peer& p) {
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

void Fleet::pump() {
  while (!queue_.empty() && (window_ <= 0 || inFlight_ < window_)) {
    Peer* p = queue_.front();
    queue_.pop_front();
    p->opening = true;
    ++inFlight_;
    open(*p);
  }
}

void Fleet::settled(Peer& p) {
  if (!p.opening) return;
  p.opening = false;
  --inFlight_;
  pump();
}

void Fleet::send(Peer& p, const QJsonObject& message) {
  if (p.socket) p.socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void Fleet::closed(Peer& p) {
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

void Fleet::handle(Peer& p, const QString& text) {
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

void Fleet::relayTick() {
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

}  // namespace lunor::bench::load
