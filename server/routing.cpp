// SPDX-License-Identifier: GPL-3.0-or-later
#include "routing.h"

#include "event_log.h"

namespace lunor::signal {
namespace out = server_messages;
namespace {

constexpr int kMaxHeldFrames = 32;

// Between instances: kind, connection, argument and payload, separated by
// the unit separator (the payload, last, may hold anything).
constexpr char kSeparator = '\x1f';

QByteArray instanceMessage(const char* kind, const QString& peer, const QByteArray& argument = {},
                           const QByteArray& payload = {}) {
  QByteArray out;
  out.reserve(payload.size() + 48);
  out.append(kind).append(kSeparator).append(peer.toLatin1()).append(kSeparator).append(argument)
      .append(kSeparator).append(payload);
  return out;
}

QByteArray leftMessage() { return out::encode(out::bare(signaling::MessageType::Left)); }

}  // namespace

Routing::Routing(RoomsOutput& network, LocalRooms& here) : network_(network), here_(here) {}

void Routing::send(const QString& peerId, const QByteArray& json) {
  if (auto origin = origins_.constFind(peerId); origin != origins_.cend()) {
    cluster_->post(*origin, instanceMessage("deliver", peerId, {}, json));
  } else {
    network_.send(peerId, json);
  }
}

void Routing::close(const QString& peerId, int code, const QString& reason) {
  if (auto origin = origins_.constFind(peerId); origin != origins_.cend()) {
    cluster_->post(*origin, instanceMessage("close", peerId, QByteArray::number(code), reason.toUtf8()));
  } else {
    network_.close(peerId, code, reason);
  }
}

bool Routing::hold(const QString& peerId, const QByteArray& utf8) {
  auto lookup = lookups_.find(peerId);
  if (lookup == lookups_.end()) return false;
  if (lookup->held.size() < kMaxHeldFrames) lookup->held << utf8;
  return true;
}

bool Routing::takes(const QString& peerId, const QString& address, const server_messages::Request& request,
                    const QByteArray& utf8) {
  if (!cluster_ || isRemote(peerId)) return false;
  if (const auto* join = std::get_if<out::Join>(&request)) {
    const QString roomId = join->roomId;
    if (here_.answersHere(roomId)) {
      detach(peerId);
      return false;
    }
    // Looking a room up costs a round trip to Redis: enumeration is bounded first.
    if (!here_.mayAskFor(peerId, roomId)) return true;
    const quint64 ticket = nextLookup_++;
    lookups_.insert(peerId, {ticket, address, {}});
    cluster_->locate(roomId, [this, peerId, ticket, join = *join, utf8](const QString& instance) {
      routed(peerId, ticket, instance, join, utf8);
    });
    return true;
  }
  if (!homes_.contains(peerId)) return false;
  if (std::holds_alternative<out::Create>(request)) {
    detach(peerId);
    return false;
  }
  forward(peerId, utf8);
  return true;
}

void Routing::routed(const QString& peerId, quint64 ticket, const QString& instance, const server_messages::Join& join,
                     const QByteArray& utf8) {
  auto lookup = lookups_.find(peerId);
  if (lookup == lookups_.end() || lookup->ticket != ticket) return;
  QList<QByteArray> held = std::move(lookup->held);
  const QString address = lookup->address;
  lookups_.erase(lookup);
  if (instance.isEmpty() || instance == cluster_->instance()) {
    detach(peerId);
    here_.joinHere(peerId, join);
  } else {
    // As for a join here: one room per connection, and a host is nobody's client.
    here_.vacate(peerId);
    if (homes_.value(peerId) != instance) {
      detach(peerId);
      homes_.insert(peerId, instance);
      cluster_->post(instance, instanceMessage("open", peerId, cluster_->instance().toUtf8(), address.toUtf8()));
    }
    forward(peerId, utf8, join.roomId);
  }
  // What came in meanwhile, in order; a join among it may start another lookup.
  while (!held.isEmpty()) {
    if (!here_.hasConnection(peerId)) return;
    if (auto again = lookups_.find(peerId); again != lookups_.end()) {
      again->held = held + again->held;
      return;
    }
    here_.dispatch(peerId, held.takeFirst());
  }
}

void Routing::forward(const QString& peerId, const QByteArray& utf8, const QString& joiningRoom) {
  const QString home = homes_.value(peerId);
  cluster_->post(home, instanceMessage("frame", peerId, {}, utf8), [this, peerId, home, joiningRoom](bool delivered) {
    if (delivered || homes_.value(peerId) != home) return;
    // The room's instance is gone: so is the room, for now. (Should it be
    // only away, it forgets the connection when it hears.)
    logEvent(QStringLiteral("instance-unreachable"), {{"client", peerId}, {"instance", home}});
    detach(peerId, 1001);
    if (!joiningRoom.isEmpty()) {
      network_.send(peerId, out::encode(out::roomNotFound(joiningRoom)));
    } else {
      network_.send(peerId, leftMessage());
    }
  });
}

void Routing::detach(const QString& peerId, int code) {
  auto home = homes_.find(peerId);
  if (home == homes_.end()) return;
  cluster_->post(*home, instanceMessage("gone", peerId, QByteArray::number(code)));
  homes_.erase(home);
}

void Routing::disconnected(const QString& peerId, int closeCode) {
  detach(peerId, closeCode);
  lookups_.remove(peerId);
  origins_.remove(peerId);
}

void Routing::place(const QString& roomId, Claim claim, std::function<void(bool, const QString&)> done) {
  cluster_->place(roomId, claim == Claim::Owner, claim != Claim::Unclaimed, std::move(done));
}

void Routing::takeOver(const QString& roomId, const QString& previous) {
  if (!previous.isEmpty() && previous != cluster_->instance()) {
    cluster_->post(previous, instanceMessage("takeover", {}, roomId.toUtf8()));
  }
}

void Routing::release(const QString& roomId) {
  if (cluster_) cluster_->unplace(roomId);
}

void Routing::fromInstance(const QByteArray& message) {
  const qsizetype a = message.indexOf(kSeparator);
  const qsizetype b = a < 0 ? -1 : message.indexOf(kSeparator, a + 1);
  const qsizetype c = b < 0 ? -1 : message.indexOf(kSeparator, b + 1);
  if (c < 0) return;
  const QByteArray kind = message.left(a);
  const QString peerId = QString::fromLatin1(message.mid(a + 1, b - a - 1));
  const QByteArray argument = message.mid(b + 1, c - b - 1);
  const QByteArray payload = message.mid(c + 1);
  const bool remote = isRemote(peerId);
  const bool local = !remote && here_.hasConnection(peerId);
  if (kind == "frame") {
    if (remote) here_.frame(peerId, payload);
  } else if (kind == "deliver") {
    if (local) network_.send(peerId, payload);
  } else if (kind == "open") {
    if (remote || local || peerId.isEmpty()) return;
    const QString address = QString::fromUtf8(payload);
    const QString origin = QString::fromUtf8(argument);
    origins_.insert(peerId, origin);
    here_.arrived(peerId, address);
    logEvent(QStringLiteral("connected"), {{"client", peerId}, {"address", address}, {"via", origin}});
  } else if (kind == "gone") {
    if (remote) here_.disconnected(peerId, argument.toInt());
  } else if (kind == "close") {
    if (local) network_.close(peerId, argument.toInt(), QString::fromUtf8(payload));
  } else if (kind == "takeover") {
    here_.roomMoved(QString::fromUtf8(argument));
  }
}

QSet<QString> Routing::instancesInUse() const {
  QSet<QString> instances;
  for (const QString& home : homes_) instances.insert(home);
  for (const QString& origin : origins_) instances.insert(origin);
  return instances;
}

void Routing::instanceGone(const QString& instance) {
  logEvent(QStringLiteral("instance-gone"), {{"instance", instance}});
  QStringList remote;
  for (auto it = origins_.cbegin(); it != origins_.cend(); ++it) {
    if (*it == instance) remote << it.key();
  }
  for (auto it = homes_.begin(); it != homes_.end();) {
    if (*it != instance) {
      ++it;
      continue;
    }
    const QString peerId = it.key();
    it = homes_.erase(it);
    network_.send(peerId, leftMessage());
  }
  for (const auto& id : remote) here_.disconnected(id, 1001);
}

}  // namespace lunor::signal
