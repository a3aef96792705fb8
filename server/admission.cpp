// SPDX-License-Identifier: GPL-3.0-or-later
#include "admission.h"

#include "protocol/wire_text.h"
#include "event_log.h"

namespace lunor::signal {
namespace out = server_messages;
using signaling::ErrorCode;
using signaling::MessageType;

Admission::Admission(ServerLimits limits, RoomTable& table, Throttle& throttle, OwnerStore& owners,
                     Throttle::Clock clock)
    : limits_(limits), table_(table), throttle_(throttle), owners_(owners), clock_(std::move(clock)) {}

void Admission::join(RoomTable::Peer& peer, const server_messages::Join& request) {
  deviceChecks_.remove(peer.id);  // an earlier join's lookup answers nobody now
  const QString& roomId = request.roomId;
  const bool valid = signaling::isValidRoomId(roomId, limits_.maxRoomIdChars);
  if (valid && !throttle_.mayAskFor(peer.address, roomId)) {
    logEvent(QStringLiteral("too-many-rooms"), {{"client", peer.id}, {"address", peer.address}});
    table_.sendError(peer.id, ErrorCode::TooManyRooms);
    return;
  }
  RoomTable::Room* room = valid ? table_.room(roomId) : nullptr;
  if (!room) {
    table_.send(peer.id, out::roomNotFound(roomId.left(limits_.maxRoomIdChars)));
    return;
  }
  if (room->hostId == peer.id) {
    table_.sendError(peer.id, ErrorCode::OwnRoom);
    return;
  }
  const qint64 now = clock_();
  // A password for an unattended room is not a knock at the host's door:
  // the password back-off bounds those. A client that proves the password
  // to the host itself comes in to do so; the host's budget bounds it.
  const bool answering = !room->unattendedHash.isEmpty() && request.passwordHash.has_value();
  const bool proving = room->hostProof && request.hostProof;
  if (!answering && !proving && !throttle_.mayKnock(peer.id, roomId, now)) {
    logEvent(QStringLiteral("join-cooldown"), {{"room", roomId}, {"client", peer.id}, {"address", peer.address}});
    table_.sendError(peer.id, ErrorCode::JoinCooldown);
    return;
  }
  throttle_.knocked(peer.id, now);
  if (room->admittedId == peer.id) {
    table_.sendError(peer.id, ErrorCode::AlreadyJoined);
    return;
  }
  const auto refuse = [&](const char* why) {
    logEvent(QStringLiteral("join-refused"), {{"room", roomId}, {"client", peer.id}, {"why", why}});
    table_.send(peer.id, out::bare(MessageType::RoomBusy));
  };
  if (!room->admittedId.isEmpty()) return refuse("busy");
  const bool waiting = room->pending.contains(peer.id);
  if (!waiting && room->pending.size() >= limits_.maxPendingJoinsPerRoom) return refuse("queue-full");
  // Each request is a prompt (and a picture) on the host's screen and link;
  // each proof a peer connection at the host.
  if (!answering && !waiting && !throttle_.mayPrompt(room->requests, now)) return refuse("too-many-requests");
  if (!peer.hostedRoom.isEmpty()) table_.closeRoom(peer.hostedRoom);
  if (!peer.joinedRoom.isEmpty() && peer.joinedRoom != roomId) table_.leaveJoinedRoom(peer, true);
  // Closing a room may move the others around in the table: look again.
  RoomTable::Room& target = *table_.room(roomId);

  RoomTable::PendingJoin join;
  join.displayName = request.displayName.left(limits_.maxDisplayNameChars);
  // A picture past the bound is dropped, not forwarded; the join goes on.
  if (request.avatar && request.avatar->size() <= limits_.maxAvatarBytes) join.avatar = request.avatar;
  join.deviceKey = request.deviceKey;
  join.commit = request.commit;

  peer.joinedRoom = roomId;
  table_.send(peer.id, out::joined(roomId));

  if (proving) {
    // The host decides, on the peer connection: we only introduce them.
    target.pending.insert(peer.id, join);
    admit(target, peer.id, /*unattended=*/true, /*hostProof=*/true);
    return;
  }
  if (answering) {
    checkPassword(peer, target, join, *request.passwordHash);
    return;
  }
  if (request.passwordHash && target.hostProof) {
    // A digest for a host that takes none: no password opens it through us.
    table_.send(peer.id, out::unattendedDenied());
    return;
  }
  const bool unattended = !target.unattendedHash.isEmpty() || target.hostProof;
  join.awaitingPassword = unattended;
  target.pending.insert(peer.id, join);
  table_.send(peer.id, join.awaitingPassword ? out::requireUnattended(target.hostProof)
                                             : out::bare(MessageType::WaitingApproval));
  logEvent(QStringLiteral("join-request"), {{"room", roomId}, {"client", peer.id}});
  table_.send(target.hostId,
              out::joinRequest(peer.id, join.displayName, unattended, join.awaitingPassword, join.avatar, join.commit));
}

void Admission::passCode(RoomTable::Peer& peer, const server_messages::CodePart& part) {
  const bool fromHost = part.type == MessageType::JoinCode;
  RoomTable::Room* room = table_.room(fromHost ? peer.hostedRoom : peer.joinedRoom);
  const QString clientId = fromHost ? (part.part ? part.part->clientId : QString()) : peer.id;
  RoomTable::PendingJoin* join = nullptr;
  if (room) {
    if (const auto found = room->pending.find(clientId); found != room->pending.end()) join = &*found;
  }
  const bool inOrder = join && !join->commit.isEmpty() &&
                       (fromHost ? !join->codeSent : join->codeSent && !join->revealed);
  if (!part.part || !inOrder || (fromHost && room->hostId != peer.id)) {
    logEvent(QStringLiteral("code-ignored"), {{"peer", peer.id}, {"type", signaling::nameOf(part.type)}});
    return;
  }
  signaling::CodePart passed = *part.part;
  if (fromHost) {
    join->codeSent = true;
    passed.clientId.clear();
    table_.send(clientId, out::codePart(MessageType::JoinCode, passed));
  } else {
    join->revealed = true;
    passed.clientId = peer.id;
    table_.send(room->hostId, out::codePart(MessageType::JoinReveal, passed));
  }
}

void Admission::admit(RoomTable::Room& room, const QString& clientId, bool unattended, bool hostProof) {
  const RoomTable::PendingJoin join = room.pending.take(clientId);
  room.admittedId = clientId;
  logEvent(QStringLiteral("admitted"), {{"room", room.id},
                                        {"client", clientId},
                                        {"unattended", unattended ? "true" : "false"},
                                        {"host-proof", hostProof ? "true" : "false"}});

  // The client's key to this room from now on, in place of the one it
  // showed; a host that checks passwords itself gives its own.
  QString deviceKey;
  if (!hostProof) {
    deviceKey = newDeviceKey();
    owners_.addDevice(room.id, ownerDigest(deviceKey), unattendedDigest(room.unattendedHash),
                      join.deviceKey.isEmpty() ? QString() : ownerDigest(join.deviceKey), limits_.maxDevicesPerRoom);
  }

  const std::vector<rtc::IceServer> ice = iceServers_ ? iceServers_(clientId) : std::vector<rtc::IceServer>();
  table_.send(clientId, out::approved(deviceKey, ice));
  if (unattended && !hostProof) table_.send(room.hostId, out::unattendedJoined(join.displayName));
  table_.send(room.hostId, out::peerJoined(clientId, unattended, ice, join.displayName, join.avatar, hostProof));
  table_.send(clientId, out::peerJoined(room.hostId, unattended, ice, std::nullopt, std::nullopt, hostProof));

  // The room now has its client; whoever else waits is turned away.
  const auto others = room.pending.keys();
  room.pending.clear();
  for (const auto& other : others) {
    RoomTable::Peer* peer = table_.peer(other);
    if (!peer) continue;
    peer->joinedRoom.clear();
    table_.send(other, out::bare(MessageType::RoomBusy));
  }
}

void Admission::checkPassword(RoomTable::Peer& peer, RoomTable::Room& room, const RoomTable::PendingJoin& join,
                              const QString& passwordHash, DeviceCheck device) {
  const QString roomId = room.id;
  // The room's budget for the day: once spent, no password opens it, the
  // right one included, and the host hears of it once. Only the room's
  // devices get past it (and then meet the back-off as before).
  // A device key gets past the room's lock within a budget of its own: a
  // former helper, or a copy of a browser's storage, may not spread its
  // guesses over many addresses past the room's.
  const QString deviceDigest = join.deviceKey.isEmpty() ? QString() : ownerDigest(join.deviceKey);
  Throttle::Day today = throttle_.passwordDay(roomId);
  if (today.spent && device == DeviceCheck::Known) {
    const Throttle::Day deviceToday = throttle_.deviceDay(roomId, deviceDigest);
    if (deviceToday.spent) {
      device = DeviceCheck::Unknown;
      today.retryAfterMs = std::min(today.retryAfterMs, deviceToday.retryAfterMs);
    }
  }
  if (today.spent && device != DeviceCheck::Known) {
    if (device == DeviceCheck::Unchecked && !join.deviceKey.isEmpty()) {
      lookUpDevice(peer, room, join, passwordHash);
      return;
    }
    logEvent(QStringLiteral("room-locked"), {{"room", roomId}, {"client", peer.id}, {"address", peer.address}});
    table_.send(peer.id, out::unattendedDenied(today.retryAfterMs, /*locked=*/true));
    if (!room.lockedToldHost) {
      room.lockedToldHost = true;
      table_.send(room.hostId, out::unattendedLocked(today.failures));
    }
    return;
  }
  const qint64 wait = throttle_.passwordWait(peer.address, roomId);
  if (wait > 0) {
    logEvent(QStringLiteral("password-backoff"), {{"room", roomId}, {"client", peer.id}, {"address", peer.address}});
    table_.send(peer.id, out::unattendedDenied(wait));
    return;
  }
  if (constantTimeEquals(passwordHash.toLatin1(), room.unattendedHash.toLatin1())) {
    throttle_.passwordRight(peer.address, roomId);
    room.pending.insert(peer.id, join);
    admit(room, peer.id, /*unattended=*/true);
    return;
  }
  const qint64 lock = throttle_.passwordFailed(peer.address, roomId, deviceDigest);
  logEvent(QStringLiteral("password-denied"), {{"room", roomId}, {"client", peer.id}, {"address", peer.address}});
  table_.send(peer.id, out::unattendedDenied(lock > 0 ? std::optional<int64_t>(lock) : std::nullopt));
}

void Admission::lookUpDevice(RoomTable::Peer& peer, const RoomTable::Room& room, const RoomTable::PendingJoin& join,
                             const QString& passwordHash) {
  const quint64 ticket = nextDeviceCheck_++;
  deviceChecks_.insert(peer.id, ticket);
  const QString peerId = peer.id;
  const QString roomId = room.id;
  const QString hash = room.unattendedHash;
  owners_.isDevice(
      roomId, ownerDigest(join.deviceKey), unattendedDigest(hash),
      [this, peerId, roomId, hash, ticket, join, passwordHash](bool known) {
        // Gone, or it asked for something else since.
        if (deviceChecks_.value(peerId) != ticket) return;
        deviceChecks_.remove(peerId);
        RoomTable::Peer* peer = table_.peer(peerId);
        if (!peer || peer->joinedRoom != roomId) return;  // turned away meanwhile, and told
        RoomTable::Room* room = table_.room(roomId);
        if (!room) {
          peer->joinedRoom.clear();
          table_.send(peerId, out::bare(MessageType::Left));
          return;
        }
        if (!room->admittedId.isEmpty()) {
          peer->joinedRoom.clear();
          table_.send(peerId, out::bare(MessageType::RoomBusy));
          return;
        }
        if (room->unattendedHash.isEmpty()) {  // made again without unattended access
          table_.send(peerId, out::unattendedDenied());
          return;
        }
        // A device of the room as it was: made again with another password, it is not one.
        const bool device = known && room->unattendedHash == hash;
        checkPassword(*peer, *room, join, passwordHash, device ? DeviceCheck::Known : DeviceCheck::Unknown);
      });
}

void Admission::forgetDevices(RoomTable::Peer& host) {
  const RoomTable::Room* room = table_.room(host.hostedRoom);
  if (!room) {
    table_.sendError(host.id, ErrorCode::NoRoom);
    return;
  }
  const QString hostId = host.id;
  const QString roomId = room->id;
  owners_.forgetDevices(roomId, {}, [this, hostId, roomId](bool done) {
    logEvent(done ? QStringLiteral("devices-forgotten") : QStringLiteral("devices-not-forgotten"),
             {{"room", roomId}, {"host", hostId}});
    if (done) {
      table_.send(hostId, out::bare(MessageType::DevicesForgotten));
    } else {
      table_.sendError(hostId, ErrorCode::ForgetFailed);
    }
  });
}

void Admission::approve(RoomTable::Peer& host, const QString& target) {
  RoomTable::Room* room = table_.room(host.hostedRoom);
  if (!room || !room->pending.contains(target)) {
    table_.sendError(host.id, ErrorCode::UnknownTarget);
    return;
  }
  admit(*room, target, /*unattended=*/false);
}

void Admission::reject(RoomTable::Peer& host, const QString& targetId, bool kick) {
  RoomTable::Room* room = table_.room(host.hostedRoom);
  if (!room) {
    table_.sendError(host.id, ErrorCode::NoRoom);
    return;
  }
  RoomTable::Peer* target = targetId.isEmpty() ? nullptr : table_.peer(targetId);
  // The host's panel may answer twice (kick, then reject): the second is a no-op.
  if (!target || target->joinedRoom != room->id) return;

  logEvent(kick ? QStringLiteral("kicked") : QStringLiteral("rejected"), {{"room", room->id}, {"client", targetId}});
  target->joinedRoom.clear();
  if (room->admittedId == targetId) {
    room->admittedId.clear();
    table_.send(targetId, out::bare(MessageType::Left));
    table_.send(room->hostId, out::peerLeft(targetId));
    return;
  }
  room->pending.remove(targetId);
  // Turned away: not back at this room's door at once.
  throttle_.turnedAway(targetId, room->id);
  table_.send(targetId, out::bare(MessageType::Rejected));
}

}  // namespace lunor::signal
