// SPDX-License-Identifier: GPL-3.0-or-later
#include "admission.h"

#include "protocol/wire_text.h"
#include "event_log.h"

namespace lunor::signal {
namespace {

const QString kType = QStringLiteral("type");

QJsonObject typed(const QString& type) { return QJsonObject{{kType, type}}; }

}  // namespace

Admission::Admission(ServerLimits limits, RoomTable& table, Throttle& throttle, OwnerStore& owners,
                     Throttle::Clock clock)
    : limits_(limits), table_(table), throttle_(throttle), owners_(owners), clock_(std::move(clock)) {}

void Admission::join(RoomTable::Peer& peer, const QJsonObject& message) {
  deviceChecks_.remove(peer.id);  // an earlier join's lookup answers nobody now
  const QString roomId = message.value(QLatin1String("roomId")).toString();
  const bool valid = isValidRoomId(roomId, limits_.maxRoomIdChars);
  if (valid && !throttle_.mayAskFor(peer.address, roomId)) {
    logEvent(QStringLiteral("too-many-rooms"), {{"client", peer.id}, {"address", peer.address}});
    table_.sendError(peer.id, QStringLiteral("too-many-rooms"));
    return;
  }
  RoomTable::Room* room = valid ? table_.room(roomId) : nullptr;
  if (!room) {
    table_.send(peer.id, QJsonObject{{kType, QStringLiteral("room-not-found")},
                                     {QStringLiteral("roomId"), roomId.left(limits_.maxRoomIdChars)}});
    return;
  }
  if (room->hostId == peer.id) {
    table_.sendError(peer.id, QStringLiteral("own-room"));
    return;
  }
  const qint64 now = clock_();
  // A password for an unattended room is not a knock at the host's door:
  // the password back-off bounds those.
  const QJsonValue passwordHash = message.value(QLatin1String("passwordHash"));
  const bool answering = !room->unattendedHash.isEmpty() && passwordHash.isString();
  if (!answering && !throttle_.mayKnock(peer.id, roomId, now)) {
    logEvent(QStringLiteral("join-cooldown"), {{"room", roomId}, {"client", peer.id}, {"address", peer.address}});
    table_.sendError(peer.id, QStringLiteral("join-cooldown"));
    return;
  }
  throttle_.knocked(peer.id, now);
  if (room->admittedId == peer.id) {
    table_.sendError(peer.id, QStringLiteral("already-joined"));
    return;
  }
  const auto refuse = [&](const char* why) {
    logEvent(QStringLiteral("join-refused"), {{"room", roomId}, {"client", peer.id}, {"why", why}});
    table_.send(peer.id, typed(QStringLiteral("room-busy")));
  };
  if (!room->admittedId.isEmpty()) return refuse("busy");
  const bool waiting = room->pending.contains(peer.id);
  if (!waiting && room->pending.size() >= limits_.maxPendingJoinsPerRoom) return refuse("queue-full");
  // Each request is a prompt (and a picture) on the host's screen and link.
  if (!answering && !waiting && !throttle_.mayPrompt(room->requests, now)) return refuse("too-many-requests");
  if (!peer.hostedRoom.isEmpty()) table_.closeRoom(peer.hostedRoom);
  if (!peer.joinedRoom.isEmpty() && peer.joinedRoom != roomId) table_.leaveJoinedRoom(peer, true);
  // Closing a room may move the others around in the table: look again.
  RoomTable::Room& target = *table_.room(roomId);

  RoomTable::PendingJoin join;
  join.displayName = message.value(QLatin1String("displayName")).toString().left(limits_.maxDisplayNameChars);
  // A picture past the bound is dropped, not forwarded; the join goes on.
  const QJsonValue avatar = message.value(QLatin1String("avatar"));
  if (avatar.isString() && avatar.toString().size() <= limits_.maxAvatarBytes) join.avatar = avatar;
  // Anything but a well-formed key is as if none was shown.
  if (const QString deviceKey = message.value(QLatin1String("deviceKey")).toString(); isHex64(deviceKey)) {
    join.deviceKey = deviceKey;
  }

  peer.joinedRoom = roomId;
  table_.send(peer.id, QJsonObject{{kType, QStringLiteral("joined")}, {QStringLiteral("roomId"), roomId}});

  if (answering) {
    checkPassword(peer, target, join, passwordHash.toString());
    return;
  }
  join.awaitingPassword = !target.unattendedHash.isEmpty();
  target.pending.insert(peer.id, join);
  table_.send(peer.id, typed(join.awaitingPassword ? QStringLiteral("require-unattended")
                                                   : QStringLiteral("waiting-approval")));
  QJsonObject request{{kType, QStringLiteral("join-request")},
                      {QStringLiteral("clientId"), peer.id},
                      {QStringLiteral("displayName"), join.displayName},
                      {QStringLiteral("unattended"), !target.unattendedHash.isEmpty()},
                      {QStringLiteral("awaitingPassword"), join.awaitingPassword}};
  if (join.avatar.isString()) request.insert(QStringLiteral("avatar"), join.avatar);
  logEvent(QStringLiteral("join-request"), {{"room", roomId}, {"client", peer.id}});
  table_.send(target.hostId, request);
}

void Admission::admit(RoomTable::Room& room, const QString& clientId, bool unattended) {
  const RoomTable::PendingJoin join = room.pending.take(clientId);
  room.admittedId = clientId;
  logEvent(QStringLiteral("admitted"),
           {{"room", room.id}, {"client", clientId}, {"unattended", unattended ? "true" : "false"}});

  // The client's key to this room from now on, in place of the one it showed.
  const QString deviceKey = newDeviceKey();
  owners_.addDevice(room.id, ownerDigest(deviceKey), unattendedDigest(room.unattendedHash),
                    join.deviceKey.isEmpty() ? QString() : ownerDigest(join.deviceKey), limits_.maxDevicesPerRoom);

  const QJsonArray ice = iceServers_ ? iceServers_(clientId) : QJsonArray();
  QJsonObject approved{{kType, QStringLiteral("approved")}, {QStringLiteral("deviceKey"), deviceKey}};
  if (!ice.isEmpty()) approved.insert(QStringLiteral("iceServers"), ice);
  table_.send(clientId, approved);
  if (unattended) {
    table_.send(room.hostId, QJsonObject{{kType, QStringLiteral("unattended-joined")},
                                         {QStringLiteral("displayName"), join.displayName}});
  }
  QJsonObject toHost{{kType, QStringLiteral("peer-joined")},
                     {QStringLiteral("clientId"), clientId},
                     {QStringLiteral("unattended"), unattended},
                     {QStringLiteral("displayName"), join.displayName}};
  if (join.avatar.isString()) toHost.insert(QStringLiteral("avatar"), join.avatar);
  if (!ice.isEmpty()) toHost.insert(QStringLiteral("iceServers"), ice);
  table_.send(room.hostId, toHost);
  QJsonObject toClient{{kType, QStringLiteral("peer-joined")},
                       {QStringLiteral("clientId"), room.hostId},
                       {QStringLiteral("unattended"), unattended}};
  if (!ice.isEmpty()) toClient.insert(QStringLiteral("iceServers"), ice);
  table_.send(clientId, toClient);

  // The room now has its client; whoever else waits is turned away.
  const auto others = room.pending.keys();
  room.pending.clear();
  for (const auto& other : others) {
    RoomTable::Peer* peer = table_.peer(other);
    if (!peer) continue;
    peer->joinedRoom.clear();
    table_.send(other, typed(QStringLiteral("room-busy")));
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
    table_.send(peer.id, QJsonObject{{kType, QStringLiteral("unattended-denied")},
                                     {QStringLiteral("locked"), true},
                                     {QStringLiteral("retryAfterMs"), static_cast<double>(today.retryAfterMs)}});
    if (!room.lockedToldHost) {
      room.lockedToldHost = true;
      table_.send(room.hostId, QJsonObject{{kType, QStringLiteral("unattended-locked")},
                                           {QStringLiteral("failures"), today.failures}});
    }
    return;
  }
  const qint64 wait = throttle_.passwordWait(peer.address, roomId);
  if (wait > 0) {
    logEvent(QStringLiteral("password-backoff"), {{"room", roomId}, {"client", peer.id}, {"address", peer.address}});
    table_.send(peer.id, QJsonObject{{kType, QStringLiteral("unattended-denied")},
                                     {QStringLiteral("retryAfterMs"), static_cast<double>(wait)}});
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
  QJsonObject denied = typed(QStringLiteral("unattended-denied"));
  if (lock > 0) denied.insert(QStringLiteral("retryAfterMs"), static_cast<double>(lock));
  table_.send(peer.id, denied);
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
          table_.send(peerId, typed(QStringLiteral("left")));
          return;
        }
        if (!room->admittedId.isEmpty()) {
          peer->joinedRoom.clear();
          table_.send(peerId, typed(QStringLiteral("room-busy")));
          return;
        }
        if (room->unattendedHash.isEmpty()) {  // made again without unattended access
          table_.send(peerId, typed(QStringLiteral("unattended-denied")));
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
    table_.sendError(host.id, QStringLiteral("no-room"));
    return;
  }
  const QString hostId = host.id;
  const QString roomId = room->id;
  owners_.forgetDevices(roomId, {}, [this, hostId, roomId](bool done) {
    logEvent(done ? QStringLiteral("devices-forgotten") : QStringLiteral("devices-not-forgotten"),
             {{"room", roomId}, {"host", hostId}});
    if (done) {
      table_.send(hostId, typed(QStringLiteral("devices-forgotten")));
    } else {
      table_.sendError(hostId, QStringLiteral("forget-failed"));
    }
  });
}

void Admission::approve(RoomTable::Peer& host, const QJsonObject& message) {
  RoomTable::Room* room = table_.room(host.hostedRoom);
  const QString target = message.value(QLatin1String("target")).toString();
  if (!room || !room->pending.contains(target)) {
    table_.sendError(host.id, QStringLiteral("unknown-target"));
    return;
  }
  admit(*room, target, /*unattended=*/false);
}

void Admission::reject(RoomTable::Peer& host, const QJsonObject& message, bool kick) {
  RoomTable::Room* room = table_.room(host.hostedRoom);
  if (!room) {
    table_.sendError(host.id, QStringLiteral("no-room"));
    return;
  }
  const QString targetId = message.value(QLatin1String("target")).toString();
  RoomTable::Peer* target = targetId.isEmpty() ? nullptr : table_.peer(targetId);
  // The host's panel may answer twice (kick, then reject): the second is a no-op.
  if (!target || target->joinedRoom != room->id) return;

  logEvent(kick ? QStringLiteral("kicked") : QStringLiteral("rejected"), {{"room", room->id}, {"client", targetId}});
  target->joinedRoom.clear();
  if (room->admittedId == targetId) {
    room->admittedId.clear();
    table_.send(targetId, typed(QStringLiteral("left")));
    table_.send(room->hostId, QJsonObject{{kType, QStringLiteral("peer-left")}, {QStringLiteral("clientId"), targetId}});
    return;
  }
  room->pending.remove(targetId);
  // Turned away: not back at this room's door at once.
  throttle_.turnedAway(targetId, room->id);
  table_.send(targetId, typed(QStringLiteral("rejected")));
}

}  // namespace lunor::signal
