// SPDX-License-Identifier: GPL-3.0-or-later
#include "rooms.h"

#include <algorithm>

#include "protocol/signaling_messages.h"
#include "protocol/wire_text.h"
#include "event_log.h"

namespace lunor::signal {
namespace out = server_messages;
using signaling::ErrorCode;
using signaling::MessageType;
namespace {

constexpr int kPolicyViolated = 1008;  // WebSocket close code

}  // namespace

Rooms::Rooms(ServerLimits limits, RoomsOutput& output, Throttle::Clock clock, OwnerStore& owners)
    : limits_(limits),
      owners_(owners),
      routing_(output, *this),
      table_(routing_),
      throttle_(limits, clock),
      admission_(limits, table_, throttle_, owners, clock) {}

void Rooms::setCluster(Cluster* cluster) {
  routing_.setCluster(cluster);
  throttle_.setCluster(cluster);
}

void Rooms::connected(const QString& peerId, const QString& address) {
  table_.add(peerId, address);
  throttle_.connected(peerId);
  logEvent(QStringLiteral("connected"), {{"client", peerId}, {"address", address}});
  table_.send(peerId, out::hello(peerId));
}

void Rooms::disconnected(const QString& peerId, int closeCode) {
  RoomTable::Peer* peer = table_.peer(peerId);
  if (!peer) return;
  if (!peer->hostedRoom.isEmpty()) table_.closeRoom(peer->hostedRoom);
  peer = table_.peer(peerId);
  if (!peer->joinedRoom.isEmpty()) table_.leaveJoinedRoom(*peer, /*tellHost=*/true);
  routing_.disconnected(peerId, closeCode);
  logEvent(QStringLiteral("disconnected"), {{"client", peerId}, {"code", QString::number(closeCode)}});
  table_.remove(peerId);
  throttle_.disconnected(peerId);
  admission_.forget(peerId);
  creating_.remove(peerId);
}

void Rooms::frame(const QString& peerId, const QByteArray& utf8) {
  const RoomTable::Peer* peer = table_.peer(peerId);
  if (!peer) return;
  if (const Throttle::Verdict verdict = throttle_.takeFrame(peerId); !verdict.pass) {
    if (verdict.warn) {
      logEvent(QStringLiteral("rate-limited"), {{"client", peerId}, {"address", peer->address}});
      table_.sendError(peerId, ErrorCode::RateLimited);
    }
    if (verdict.close) {
      logEvent(QStringLiteral("flood-closed"), {{"client", peerId}, {"address", peer->address}});
      table_.close(peerId, kPolicyViolated, QStringLiteral("flood"));
    }
    return;
  }
  if (routing_.hold(peerId, utf8)) return;
  dispatch(peerId, utf8);
}

void Rooms::dispatch(const QString& peerId, const QByteArray& utf8) {
  RoomTable::Peer* peer = table_.peer(peerId);
  if (!peer) return;
  const out::Request request = out::decode(utf8);
  if (const auto* malformed = std::get_if<out::Malformed>(&request)) {
    table_.sendError(peerId, malformed->code);
    return;
  }
  if (routing_.takes(peerId, peer->address, request, utf8)) return;
  if (const auto* create = std::get_if<out::Create>(&request)) {
    if (routing_.isRemote(peerId)) {
      table_.sendError(peerId, ErrorCode::UnknownType);  // only a socket's own instance hosts
    } else {
      handleCreate(*peer, *create);
    }
  } else if (const auto* join = std::get_if<out::Join>(&request)) {
    admission_.join(*peer, *join);
  } else if (const auto* answer = std::get_if<out::Answer>(&request)) {
    if (answer->type == MessageType::Approve) {
      admission_.approve(*peer, answer->target);
    } else {
      admission_.reject(*peer, answer->target, /*kick=*/answer->type == MessageType::Kick);
    }
  } else if (const auto* signal = std::get_if<out::Signal>(&request)) {
    handleSignal(*peer, *signal);
  } else if (std::holds_alternative<out::ForgetDevices>(request)) {
    admission_.forgetDevices(*peer);
  } else if (const auto* code = std::get_if<out::CodePart>(&request)) {
    admission_.passCode(*peer, *code);
  } else {
    table_.sendError(peerId, ErrorCode::UnknownType);
  }
}

bool Rooms::mayAskForRoom(const RoomTable::Peer& peer, const QString& roomId) {
  if (throttle_.mayAskFor(peer.address, roomId)) return true;
  logEvent(QStringLiteral("too-many-rooms"), {{"client", peer.id}, {"address", peer.address}});
  table_.sendError(peer.id, ErrorCode::TooManyRooms);
  return false;
}

void Rooms::handleCreate(RoomTable::Peer& peer, const server_messages::Create& create) {
  const QString roomId = create.roomId;
  if (!signaling::isValidRoomId(roomId, limits_.maxRoomIdChars)) {
    table_.sendError(peer.id, ErrorCode::BadRoomId);
    return;
  }
  if (create.ownerKey && !isHex64(*create.ownerKey)) {
    table_.sendError(peer.id, ErrorCode::BadOwnerKey);
    return;
  }
  if (!mayAskForRoom(peer, roomId)) return;
  // A room held by a connection without a key is first come, first served:
  // nobody's key binds the ID under it, nor takes it away.
  if (const RoomTable::Room* held = table_.room(roomId); held && held->hostId != peer.id && !held->owned) {
    refuseCreate(peer, roomId);
    return;
  }
  const QString unattendedHash = create.unattendedHash;
  const bool hostProof = create.hostProof;

  // The owner store may answer later: the create goes on only if the
  // connection is still there and has not asked for something else since.
  const quint64 ticket = nextCreate_++;
  creating_.insert(peer.id, {ticket, roomId});
  const QString peerId = peer.id;
  owners_.claim(roomId, create.ownerKey ? ownerDigest(*create.ownerKey) : QString(),
                [this, peerId, roomId, unattendedHash, hostProof, ticket](Claim claim) {
                  auto it = creating_.find(peerId);
                  if (it == creating_.end() || it->ticket != ticket) return;
                  if (!routing_.isShared() || claim == Claim::Refused) {
                    creating_.erase(it);
                    createRoom(peerId, roomId, unattendedHash, hostProof, claim);
                    return;
                  }
                  placeAndCreate(peerId, roomId, unattendedHash, hostProof, claim, ticket);
                });
}

void Rooms::placeAndCreate(const QString& peerId, const QString& roomId, const QString& unattendedHash, bool hostProof,
                           Claim claim, quint64 ticket) {
  routing_.place(roomId, claim, [this, peerId, roomId, unattendedHash, hostProof, claim, ticket](bool placed,
                                                                                      const QString& previous) {
    auto it = creating_.find(peerId);
    if (it == creating_.end() || it->ticket != ticket) {
      // Placed for nobody: unless a later create for it is on its way.
      const bool awaited = std::any_of(creating_.cbegin(), creating_.cend(),
                                       [&](const PendingCreate& c) { return c.roomId == roomId; });
      if (placed && !table_.holds(roomId) && !awaited) routing_.release(roomId);
      return;
    }
    creating_.erase(it);
    if (!placed) {
      logEvent(QStringLiteral("room-takeover-refused"),
               {{"room", roomId}, {"client", peerId}, {"address", table_.peer(peerId)->address}, {"held-by", previous}});
      table_.sendError(peerId, ErrorCode::RoomTaken);
      return;
    }
    routing_.takeOver(roomId, previous);
    createRoom(peerId, roomId, unattendedHash, hostProof, claim);
  });
}

void Rooms::createRoom(const QString& peerId, const QString& roomId, const QString& unattendedHash, bool hostProof,
                       Claim claim) {
  const RoomTable::Peer* peer = table_.peer(peerId);
  if (!peer) return;
  const RoomTable::Room* existing = table_.room(roomId);
  const bool heldByAnother = existing && existing->hostId != peerId;
  // Only the owner replaces a connection, and only one that proved the same key.
  if (claim == Claim::Refused || (heldByAnother && (claim != Claim::Owner || !existing->owned))) {
    refuseCreate(*peer, roomId);
    return;
  }
  if (heldByAnother) {
    // The owner is back (a new connection after a stale one): the old one goes.
    const QString stale = existing->hostId;
    logEvent(QStringLiteral("room-reclaimed"), {{"room", roomId}, {"client", peerId}, {"stale", stale}});
    table_.closeRoom(roomId, /*keepRegistration=*/true);
    table_.close(stale, kPolicyViolated, QStringLiteral("replaced by the room's owner"));
  }
  // One room per connection, and a host is nobody's client.
  RoomTable::Peer& host = *table_.peer(peerId);
  if (!host.hostedRoom.isEmpty() && host.hostedRoom != roomId) table_.closeRoom(host.hostedRoom);
  if (!host.joinedRoom.isEmpty()) table_.leaveJoinedRoom(host, /*tellHost=*/true);

  RoomTable::Room room;
  room.id = roomId;
  room.hostId = peerId;
  room.unattendedHash = unattendedHash;
  room.hostProof = hostProof;
  room.owned = claim == Claim::Owner || claim == Claim::NewOwner;
  table_.open(room);
  // A new password revokes the devices admitted under another.
  if (!unattendedHash.isEmpty()) owners_.forgetDevices(roomId, unattendedDigest(unattendedHash));
  logEvent(QStringLiteral("room-created"),
           {{"room", roomId},
            {"host", peerId},
            {"owned", room.owned ? "true" : "false"},
            {"unattended", room.unattendedHash.isEmpty() ? "false" : "true"},
            {"host-proof", hostProof ? "true" : "false"}});
  table_.send(peerId, out::created(roomId));
}

void Rooms::refuseCreate(const RoomTable::Peer& peer, const QString& roomId) {
  logEvent(QStringLiteral("room-takeover-refused"), {{"room", roomId}, {"client", peer.id}, {"address", peer.address}});
  table_.sendError(peer.id, ErrorCode::RoomTaken);
}

void Rooms::handleSignal(const RoomTable::Peer& peer, const server_messages::Signal& signal) {
  if (!signal.data) {
    table_.sendError(peer.id, ErrorCode::BadSignal);
    return;
  }
  QString to;
  if (const RoomTable::Room* hosted = table_.room(peer.hostedRoom)) {
    to = hosted->admittedId;
  } else if (const RoomTable::Room* joined = table_.room(peer.joinedRoom); joined && joined->admittedId == peer.id) {
    to = joined->hostId;
  }
  if (to.isEmpty()) {
    logEvent(QStringLiteral("signal-refused"), {{"client", peer.id}, {"address", peer.address}});
    table_.sendError(peer.id, ErrorCode::NotInRoom);
    return;
  }
  table_.send(to, signaling::signal(*signal.data));
}

void Rooms::roomMoved(const QString& roomId) {
  const RoomTable::Room* room = table_.room(roomId);
  if (!room) return;
  const QString host = room->hostId;
  logEvent(QStringLiteral("room-moved"), {{"room", roomId}, {"stale", host}});
  table_.closeRoom(roomId);
  table_.close(host, kPolicyViolated, QStringLiteral("replaced by the room's owner"));
}

// ---- for the routing ----

bool Rooms::hasConnection(const QString& peerId) const { return table_.hasPeer(peerId); }

bool Rooms::answersHere(const QString& roomId) const {
  return !signaling::isValidRoomId(roomId, limits_.maxRoomIdChars) || table_.holds(roomId);
}

bool Rooms::mayAskFor(const QString& peerId, const QString& roomId) {
  const RoomTable::Peer* peer = table_.peer(peerId);
  return peer && mayAskForRoom(*peer, roomId);
}

void Rooms::arrived(const QString& peerId, const QString& address) {
  table_.add(peerId, address);
  throttle_.connected(peerId);
}

void Rooms::joinHere(const QString& peerId, const server_messages::Join& join) {
  if (RoomTable::Peer* peer = table_.peer(peerId)) admission_.join(*peer, join);
}

void Rooms::vacate(const QString& peerId) {
  RoomTable::Peer* peer = table_.peer(peerId);
  if (peer && !peer->hostedRoom.isEmpty()) table_.closeRoom(peer->hostedRoom);
  peer = table_.peer(peerId);
  if (peer && !peer->joinedRoom.isEmpty()) table_.leaveJoinedRoom(*peer, /*tellHost=*/true);
}

}  // namespace lunor::signal
