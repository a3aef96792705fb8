#include "rooms.h"

#include <algorithm>

#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>

#include "event_log.h"
#include "monotonic_clock.h"

namespace lunor::signal {
namespace {

const QString kType = QStringLiteral("type");
constexpr int kPolicyViolated = 1008;  // WebSocket close code

bool isValidRoomId(const QString& id, int maxChars) {
  static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]+$"));
  return !id.isEmpty() && id.size() <= maxChars && pattern.match(id).hasMatch();
}

}  // namespace

bool constantTimeEquals(const QByteArray& a, const QByteArray& b) {
  const qsizetype length = std::max(a.size(), b.size());
  unsigned char difference = a.size() == b.size() ? 0 : 1;
  for (qsizetype i = 0; i < length; ++i) {
    const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
    const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    difference |= static_cast<unsigned char>(x ^ y);
  }
  return difference == 0;
}

bool isPasswordDigest(const QString& text) {
  if (text.size() != 64) return false;
  return std::all_of(text.begin(), text.end(), [](QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
  });
}

namespace {

constexpr qint64 kMinuteMs = 60'000;
constexpr qint64 kDayMs = 24 * 3600'000;
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

// Failure keys shared by the instances.
QByteArray addressKey(const QString& address) { return "a|" + address.toUtf8(); }
QByteArray roomAddressKey(const QString& roomAddress) { return "r|" + roomAddress.toUtf8(); }
QByteArray roomDayKey(const QString& roomId) { return "d|" + roomId.toUtf8(); }

PasswordBackoff::Policy backoffPolicy(int freeFailures, const ServerLimits& limits) {
  PasswordBackoff::Policy policy;
  policy.freeFailures = freeFailures;
  policy.maxLockMs = limits.maxPasswordWaitMs;
  policy.maxEntries = limits.maxBackoffEntries;
  return policy;
}

}  // namespace

Rooms::Rooms(ServerLimits limits, RoomsOutput& output, PasswordBackoff::Clock clock, OwnerStore& owners)
    : limits_(limits),
      output_(output),
      clock_(clock),
      owners_(owners),
      perAddress_(backoffPolicy(limits.freeFailuresPerAddress, limits), clock),
      perRoomAddress_(backoffPolicy(limits.freeFailuresPerRoomAddress, limits), clock),
      roomFailures_(limits.maxBackoffEntries),
      askedRooms_(limits.maxBackoffEntries) {}

void Rooms::expire() {
  const qint64 now = clock_();
  perAddress_.expire();
  perRoomAddress_.expire();
  roomFailures_.expire([&](const RoomFailures& f) { return now - f.dayStart >= kDayMs; });
  askedRooms_.expire([&](const AddressRooms& a) { return now - a.windowStart >= kMinuteMs; });
}

bool Rooms::mayAskFor(Peer& peer, const QString& roomId) {
  const qint64 now = clock_();
  AddressRooms& asked = askedRooms_.touch(peer.address);
  if (now - asked.windowStart >= kMinuteMs) {
    asked.windowStart = now;
    asked.rooms.clear();
  }
  if (asked.rooms.contains(roomId)) return true;
  if (asked.rooms.size() >= limits_.maxRoomIdsPerAddressPerMinute) {
    logEvent(QStringLiteral("too-many-rooms"), {{"client", peer.id}, {"address", peer.address}});
    sendError(peer.id, QStringLiteral("too-many-rooms"));
    return false;
  }
  asked.rooms.insert(roomId);
  return true;
}

void Rooms::connected(const QString& peerId, const QString& address) {
  Peer peer;
  peer.id = peerId;
  peer.address = address;
  peer.tokens = limits_.burstMessages;
  peer.refill.start();
  peers_.insert(peer.id, peer);
  logEvent(QStringLiteral("connected"), {{"client", peer.id}, {"address", address}});
  send(peer.id, QJsonObject{{kType, QStringLiteral("hello")}, {QStringLiteral("clientId"), peer.id}});
}

void Rooms::disconnected(const QString& peerId, int closeCode) {
  auto it = peers_.find(peerId);
  if (it == peers_.end()) return;
  if (!it->hostedRoom.isEmpty()) closeRoom(it->hostedRoom);
  it = peers_.find(peerId);
  if (!it->joinedRoom.isEmpty()) leaveJoinedRoom(*it, /*tellHost=*/true);
  detachFromHome(*it, closeCode);
  logEvent(QStringLiteral("disconnected"), {{"client", peerId}, {"code", QString::number(closeCode)}});
  peers_.remove(peerId);
}

bool Rooms::takeToken(Peer& peer) {
  const double elapsed = static_cast<double>(peer.refill.restart()) / 1000.0;
  peer.tokens = std::min(limits_.burstMessages, peer.tokens + elapsed * limits_.messagesPerSecond);
  if (peer.tokens >= 1.0) {
    peer.tokens -= 1.0;
    return true;
  }
  return false;
}

void Rooms::frame(const QString& peerId, const QByteArray& utf8) {
  auto it = peers_.find(peerId);
  if (it == peers_.end()) return;
  Peer& peer = *it;

  if (!takeToken(peer)) {
    ++peer.dropped;
    const qint64 now = monotonicMs();
    if (peer.lastRateWarningMs < 0 || now - peer.lastRateWarningMs >= 1000) {
      peer.lastRateWarningMs = now;
      logEvent(QStringLiteral("rate-limited"), {{"client", peerId}, {"address", peer.address}});
      sendError(peerId, QStringLiteral("rate-limited"));
    }
    if (peer.dropped >= limits_.droppedBeforeClose) {
      logEvent(QStringLiteral("flood-closed"), {{"client", peerId}, {"address", peer.address}});
      closePeer(peerId, kPolicyViolated, QStringLiteral("flood"));
    }
    return;
  }
  if (peer.routing) {
    // Order is kept: these follow the join once its room is found.
    if (peer.held.size() < kMaxHeldFrames) peer.held << utf8;
    return;
  }
  dispatch(peer, utf8);
}

void Rooms::dispatch(Peer& peer, const QByteArray& utf8) {
  const QString peerId = peer.id;
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(utf8, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) {
    sendError(peerId, QStringLiteral("bad-json"));
    return;
  }
  const QJsonObject message = document.object();
  const QJsonValue type = message.value(kType);
  if (!type.isString()) {
    sendError(peerId, QStringLiteral("missing-type"));
    return;
  }
  const QString t = type.toString();
  if (cluster_ && peer.origin.isEmpty() && routeElsewhere(peer, t, message, utf8)) return;
  if (t == QLatin1String("create") && !peer.origin.isEmpty()) {
    sendError(peerId, QStringLiteral("unknown-type"));  // only a socket's own instance hosts
  } else if (t == QLatin1String("create")) {
    handleCreate(peer, message);
  } else if (t == QLatin1String("join")) {
    handleJoin(peer, message);
  } else if (t == QLatin1String("approve")) {
    handleApprove(peer, message);
  } else if (t == QLatin1String("reject")) {
    handleReject(peer, message, /*kick=*/false);
  } else if (t == QLatin1String("kick")) {
    handleReject(peer, message, /*kick=*/true);
  } else if (t == QLatin1String("signal")) {
    handleSignal(peer, message);
  } else if (t == QLatin1String("forget-devices")) {
    handleForgetDevices(peer);
  } else {
    sendError(peerId, QStringLiteral("unknown-type"));
  }
}

void Rooms::handleCreate(Peer& peer, const QJsonObject& message) {
  const QString roomId = message.value(QLatin1String("roomId")).toString();
  if (!isValidRoomId(roomId, limits_.maxRoomIdChars)) {
    sendError(peer.id, QStringLiteral("bad-room-id"));
    return;
  }
  const QJsonValue key = message.value(QLatin1String("ownerKey"));
  if (!key.isUndefined() && !isOwnerKey(key.toString())) {
    sendError(peer.id, QStringLiteral("bad-owner-key"));
    return;
  }
  if (!mayAskFor(peer, roomId)) return;
  // A room held by a connection without a key is first come, first served:
  // nobody's key binds the ID under it, nor takes it away.
  if (auto held = rooms_.find(roomId); held != rooms_.end() && held->hostId != peer.id && !held->owned) {
    refuseCreate(peer, roomId);
    return;
  }
  QString unattendedHash;
  const QJsonObject unattended = message.value(QLatin1String("unattended")).toObject();
  const QString hash = unattended.value(QLatin1String("hash")).toString();
  if (unattended.value(QLatin1String("enabled")).toBool() && isPasswordDigest(hash)) unattendedHash = hash;

  // The owner store may answer later: the create goes on only if the
  // connection is still there and has not asked for something else since.
  const quint64 ticket = nextCreate_++;
  peer.pendingCreate = ticket;
  peer.pendingRoom = roomId;
  const QString peerId = peer.id;
  owners_.claim(roomId, key.isUndefined() ? QString() : ownerDigest(key.toString()),
                [this, peerId, roomId, unattendedHash, ticket](Claim claim) {
                  auto it = peers_.find(peerId);
                  if (it == peers_.end() || it->pendingCreate != ticket) return;
                  if (!cluster_ || claim == Claim::Refused) {
                    it->pendingCreate = 0;
                    createRoom(peerId, roomId, unattendedHash, claim);
                    return;
                  }
                  placeAndCreate(peerId, roomId, unattendedHash, claim, ticket);
                });
}

void Rooms::placeAndCreate(const QString& peerId, const QString& roomId, const QString& unattendedHash, Claim claim,
                           quint64 ticket) {
  // The owner takes the room from whichever instance holds it; anyone else
  // only gets a room no running instance holds.
  cluster_->place(roomId, claim == Claim::Owner, claim != Claim::Unclaimed,
                  [this, peerId, roomId, unattendedHash, claim, ticket](bool placed, const QString& previous) {
                    auto it = peers_.find(peerId);
                    if (it == peers_.end() || it->pendingCreate != ticket) {
                      // Placed for nobody: unless a later create for it is on its way.
                      const bool awaited = std::any_of(peers_.cbegin(), peers_.cend(), [&](const Peer& p) {
                        return p.pendingCreate != 0 && p.pendingRoom == roomId;
                      });
                      if (placed && !rooms_.contains(roomId) && !awaited) cluster_->unplace(roomId);
                      return;
                    }
                    it->pendingCreate = 0;
                    if (!placed) {
                      logEvent(QStringLiteral("room-takeover-refused"),
                               {{"room", roomId}, {"client", peerId}, {"address", it->address}, {"held-by", previous}});
                      sendError(peerId, QStringLiteral("room-taken"));
                      return;
                    }
                    if (!previous.isEmpty() && previous != cluster_->instance()) {
                      cluster_->post(previous, instanceMessage("takeover", {}, roomId.toUtf8()));
                    }
                    createRoom(peerId, roomId, unattendedHash, claim);
                  });
}

void Rooms::createRoom(const QString& peerId, const QString& roomId, const QString& unattendedHash, Claim claim) {
  if (!peers_.contains(peerId)) return;
  Peer& peer = *peers_.find(peerId);
  auto existing = rooms_.find(roomId);
  const bool heldByAnother = existing != rooms_.end() && existing->hostId != peer.id;
  // Only the owner replaces a connection, and only one that proved the same key.
  if (claim == Claim::Refused || (heldByAnother && (claim != Claim::Owner || !existing->owned))) {
    refuseCreate(peer, roomId);
    return;
  }
  if (heldByAnother) {
    // The owner is back (a new connection after a stale one): the old one goes.
    const QString stale = existing->hostId;
    logEvent(QStringLiteral("room-reclaimed"), {{"room", roomId}, {"client", peer.id}, {"stale", stale}});
    closeRoom(roomId, /*keepRegistration=*/true);
    closePeer(stale, kPolicyViolated, QStringLiteral("replaced by the room's owner"));
  }
  // One room per connection, and a host is nobody's client.
  Peer& host = *peers_.find(peerId);
  if (!host.hostedRoom.isEmpty() && host.hostedRoom != roomId) closeRoom(host.hostedRoom);
  if (!host.joinedRoom.isEmpty()) leaveJoinedRoom(host, /*tellHost=*/true);

  Room room;
  room.id = roomId;
  room.hostId = peerId;
  room.unattendedHash = unattendedHash;
  room.owned = claim == Claim::Owner || claim == Claim::NewOwner;
  rooms_.insert(roomId, room);
  peers_.find(peerId)->hostedRoom = roomId;
  // A new password revokes the devices admitted under another.
  if (!unattendedHash.isEmpty()) owners_.forgetDevices(roomId, unattendedDigest(unattendedHash));
  logEvent(QStringLiteral("room-created"),
           {{"room", roomId},
            {"host", peerId},
            {"owned", room.owned ? "true" : "false"},
            {"unattended", room.unattendedHash.isEmpty() ? "false" : "true"}});
  send(peerId, QJsonObject{{kType, QStringLiteral("created")}, {QStringLiteral("roomId"), roomId}});
}

void Rooms::refuseCreate(Peer& peer, const QString& roomId) {
  logEvent(QStringLiteral("room-takeover-refused"), {{"room", roomId}, {"client", peer.id}, {"address", peer.address}});
  sendError(peer.id, QStringLiteral("room-taken"));
}

void Rooms::handleJoin(Peer& peer, const QJsonObject& message) {
  peer.deviceCheck = 0;  // an earlier join's lookup answers nobody now
  const QString roomId = message.value(QLatin1String("roomId")).toString();
  if (isValidRoomId(roomId, limits_.maxRoomIdChars) && !mayAskFor(peer, roomId)) return;
  auto roomIt = rooms_.find(roomId);
  if (!isValidRoomId(roomId, limits_.maxRoomIdChars) || roomIt == rooms_.end()) {
    send(peer.id, QJsonObject{{kType, QStringLiteral("room-not-found")},
                              {QStringLiteral("roomId"), roomId.left(limits_.maxRoomIdChars)}});
    return;
  }
  Room& room = *roomIt;
  if (room.hostId == peer.id) {
    sendError(peer.id, QStringLiteral("own-room"));
    return;
  }
  const qint64 now = clock_();
  // A password for an unattended room is not a knock at the host's door:
  // the password back-off bounds those.
  const bool answering = !room.unattendedHash.isEmpty() && message.value(QLatin1String("passwordHash")).isString();
  if (!answering && (now < peer.nextJoinAtMs || (peer.refusedRoom == roomId && now < peer.refusedUntilMs))) {
    logEvent(QStringLiteral("join-cooldown"), {{"room", roomId}, {"client", peer.id}, {"address", peer.address}});
    sendError(peer.id, QStringLiteral("join-cooldown"));
    return;
  }
  peer.nextJoinAtMs = now + limits_.joinCooldownMs;
  if (room.admittedId == peer.id) {
    sendError(peer.id, QStringLiteral("already-joined"));
    return;
  }
  if (!room.admittedId.isEmpty()) {
    logEvent(QStringLiteral("join-refused"), {{"room", roomId}, {"client", peer.id}, {"why", "busy"}});
    send(peer.id, QJsonObject{{kType, QStringLiteral("room-busy")}});
    return;
  }
  if (!room.pending.contains(peer.id) && room.pending.size() >= limits_.maxPendingJoinsPerRoom) {
    logEvent(QStringLiteral("join-refused"), {{"room", roomId}, {"client", peer.id}, {"why", "queue-full"}});
    send(peer.id, QJsonObject{{kType, QStringLiteral("room-busy")}});
    return;
  }
  const bool prompts = room.unattendedHash.isEmpty() || !message.value(QLatin1String("passwordHash")).isString();
  if (prompts && !room.pending.contains(peer.id)) {
    // Each request is a prompt (and a picture) on the host's screen and link.
    if (now - room.requestWindowStart >= kMinuteMs) {
      room.requestWindowStart = now;
      room.requests = 0;
    }
    if (room.requests >= limits_.maxJoinRequestsPerRoomPerMinute) {
      logEvent(QStringLiteral("join-refused"), {{"room", roomId}, {"client", peer.id}, {"why", "too-many-requests"}});
      send(peer.id, QJsonObject{{kType, QStringLiteral("room-busy")}});
      return;
    }
    ++room.requests;
  }
  if (!peer.hostedRoom.isEmpty()) closeRoom(peer.hostedRoom);
  if (!peer.joinedRoom.isEmpty() && peer.joinedRoom != roomId) leaveJoinedRoom(peer, true);
  // Closing a room may move the others around in the table: look again.
  Room& target = *rooms_.find(roomId);

  PendingJoin join;
  join.displayName = message.value(QLatin1String("displayName")).toString().left(
      limits_.maxDisplayNameChars);
  // A picture past the bound is dropped, not forwarded; the join goes on.
  const QJsonValue avatar = message.value(QLatin1String("avatar"));
  if (avatar.isString() && avatar.toString().size() <= limits_.maxAvatarBytes) join.avatar = avatar;
  // Anything but a well-formed key is as if none was shown.
  if (const QString deviceKey = message.value(QLatin1String("deviceKey")).toString(); isOwnerKey(deviceKey)) {
    join.deviceKey = deviceKey;
  }
  const QJsonValue passwordHash = message.value(QLatin1String("passwordHash"));

  peer.joinedRoom = roomId;
  send(peer.id, QJsonObject{{kType, QStringLiteral("joined")}, {QStringLiteral("roomId"), roomId}});

  if (!target.unattendedHash.isEmpty() && passwordHash.isString()) {
    checkPassword(peer, target, join, passwordHash.toString());
    return;
  }

  join.awaitingPassword = !target.unattendedHash.isEmpty();
  target.pending.insert(peer.id, join);
  send(peer.id, QJsonObject{{kType, join.awaitingPassword ? QStringLiteral("require-unattended")
                                                          : QStringLiteral("waiting-approval")}});
  QJsonObject request{{kType, QStringLiteral("join-request")},
                      {QStringLiteral("clientId"), peer.id},
                      {QStringLiteral("displayName"), join.displayName},
                      {QStringLiteral("unattended"), !target.unattendedHash.isEmpty()},
                      {QStringLiteral("awaitingPassword"), join.awaitingPassword}};
  if (join.avatar.isString()) request.insert(QStringLiteral("avatar"), join.avatar);
  logEvent(QStringLiteral("join-request"), {{"room", roomId}, {"client", peer.id}});
  send(target.hostId, request);
}

void Rooms::admit(Room& room, const QString& clientId, bool unattended) {
  const PendingJoin join = room.pending.take(clientId);
  room.admittedId = clientId;
  room.admittedUnattended = unattended;
  logEvent(QStringLiteral("admitted"),
           {{"room", room.id}, {"client", clientId}, {"unattended", unattended ? "true" : "false"}});

  // The client's key to this room from now on, in place of the one it showed.
  const QString deviceKey = newDeviceKey();
  owners_.addDevice(room.id, ownerDigest(deviceKey), unattendedDigest(room.unattendedHash),
                    join.deviceKey.isEmpty() ? QString() : ownerDigest(join.deviceKey), limits_.maxDevicesPerRoom);

  const QJsonArray ice = iceServers_ ? iceServers_(clientId) : QJsonArray();
  QJsonObject approved{{kType, QStringLiteral("approved")}, {QStringLiteral("deviceKey"), deviceKey}};
  if (!ice.isEmpty()) approved.insert(QStringLiteral("iceServers"), ice);
  send(clientId, approved);
  if (unattended) {
    send(room.hostId, QJsonObject{{kType, QStringLiteral("unattended-joined")},
                                  {QStringLiteral("displayName"), join.displayName}});
  }
  QJsonObject toHost{{kType, QStringLiteral("peer-joined")},
                     {QStringLiteral("clientId"), clientId},
                     {QStringLiteral("unattended"), unattended},
                     {QStringLiteral("displayName"), join.displayName}};
  if (join.avatar.isString()) toHost.insert(QStringLiteral("avatar"), join.avatar);
  if (!ice.isEmpty()) toHost.insert(QStringLiteral("iceServers"), ice);
  send(room.hostId, toHost);
  QJsonObject toClient{{kType, QStringLiteral("peer-joined")},
                       {QStringLiteral("clientId"), room.hostId},
                       {QStringLiteral("unattended"), unattended}};
  if (!ice.isEmpty()) toClient.insert(QStringLiteral("iceServers"), ice);
  send(clientId, toClient);

  // The room now has its client; whoever else waits is turned away.
  const auto others = room.pending.keys();
  room.pending.clear();
  for (const auto& other : others) {
    auto it = peers_.find(other);
    if (it == peers_.end()) continue;
    it->joinedRoom.clear();
    send(other, QJsonObject{{kType, QStringLiteral("room-busy")}});
  }
}

void Rooms::checkPassword(Peer& peer, Room& room, const PendingJoin& join, const QString& passwordHash,
                          DeviceCheck device) {
  const QString roomId = room.id;
  const qint64 now = clock_();
  // The room's budget for the day: once spent, no password opens it, the
  // right one included, and the host hears of it once. Only the room's
  // devices get past it (and then meet the back-off as before).
  RoomFailures& today = roomFailures_.touch(roomId);
  if (now - today.dayStart >= kDayMs) today = {now, 0};
  if (today.failures >= limits_.maxFailuresPerRoomPerDay && device != DeviceCheck::Known) {
    if (device == DeviceCheck::Unchecked && !join.deviceKey.isEmpty()) {
      lookUpDevice(peer, room, join, passwordHash);
      return;
    }
    logEvent(QStringLiteral("room-locked"), {{"room", roomId}, {"client", peer.id}, {"address", peer.address}});
    send(peer.id, QJsonObject{{kType, QStringLiteral("unattended-denied")},
                              {QStringLiteral("locked"), true},
                              {QStringLiteral("retryAfterMs"), static_cast<double>(today.dayStart + kDayMs - now)}});
    if (!room.lockedToldHost) {
      room.lockedToldHost = true;
      send(room.hostId, QJsonObject{{kType, QStringLiteral("unattended-locked")},
                                    {QStringLiteral("failures"), today.failures}});
    }
    return;
  }
  // Locks are per address and per (room, address): someone else's guessing
  // never locks the owner out.
  const QString roomAddress = roomId + QLatin1Char('|') + peer.address;
  const qint64 wait = std::max(perAddress_.retryAfterMs(peer.address), perRoomAddress_.retryAfterMs(roomAddress));
  if (wait > 0) {
    logEvent(QStringLiteral("password-backoff"),
             {{"room", roomId}, {"client", peer.id}, {"address", peer.address}});
    send(peer.id, QJsonObject{{kType, QStringLiteral("unattended-denied")},
                              {QStringLiteral("retryAfterMs"), static_cast<double>(wait)}});
    return;
  }
  if (constantTimeEquals(passwordHash.toLatin1(), room.unattendedHash.toLatin1())) {
    perRoomAddress_.recordSuccess(roomAddress);
    if (cluster_) cluster_->forgetFailures(roomAddressKey(roomAddress));
    room.pending.insert(peer.id, join);
    admit(room, peer.id, /*unattended=*/true);
    return;
  }
  today.failures += 1;
  const qint64 lock = std::max(perAddress_.recordFailure(peer.address), perRoomAddress_.recordFailure(roomAddress));
  if (cluster_) {
    // Every instance learns the new counts (this one too, with the others' failures added).
    const qint64 forget = perAddress_.policy().forgetAfterMs;
    cluster_->countFailure(addressKey(peer.address), forget, /*sliding=*/true);
    cluster_->countFailure(roomAddressKey(roomAddress), forget, /*sliding=*/true);
    cluster_->countFailure(roomDayKey(roomId), kDayMs, /*sliding=*/false);
  }
  logEvent(QStringLiteral("password-denied"),
           {{"room", roomId}, {"client", peer.id}, {"address", peer.address}});
  QJsonObject denied{{kType, QStringLiteral("unattended-denied")}};
  if (lock > 0) denied.insert(QStringLiteral("retryAfterMs"), static_cast<double>(lock));
  send(peer.id, denied);
}

void Rooms::lookUpDevice(Peer& peer, const Room& room, const PendingJoin& join, const QString& passwordHash) {
  const quint64 ticket = nextDeviceCheck_++;
  peer.deviceCheck = ticket;
  const QString peerId = peer.id;
  const QString roomId = room.id;
  const QString hash = room.unattendedHash;
  owners_.isDevice(
      roomId, ownerDigest(join.deviceKey), unattendedDigest(hash),
      [this, peerId, roomId, hash, ticket, join, passwordHash](bool known) {
        auto it = peers_.find(peerId);
        // Gone, or it asked for something else since.
        if (it == peers_.end() || it->deviceCheck != ticket) return;
        it->deviceCheck = 0;
        if (it->joinedRoom != roomId) return;  // turned away meanwhile, and told
        auto roomIt = rooms_.find(roomId);
        if (roomIt == rooms_.end()) {
          it->joinedRoom.clear();
          send(peerId, QJsonObject{{kType, QStringLiteral("left")}});
          return;
        }
        if (!roomIt->admittedId.isEmpty()) {
          it->joinedRoom.clear();
          send(peerId, QJsonObject{{kType, QStringLiteral("room-busy")}});
          return;
        }
        if (roomIt->unattendedHash.isEmpty()) {  // made again without unattended access
          send(peerId, QJsonObject{{kType, QStringLiteral("unattended-denied")}});
          return;
        }
        // A device of the room as it was: made again with another password, it is not one.
        const bool device = known && roomIt->unattendedHash == hash;
        checkPassword(*it, *roomIt, join, passwordHash, device ? DeviceCheck::Known : DeviceCheck::Unknown);
      });
}

void Rooms::handleForgetDevices(Peer& peer) {
  auto roomIt = rooms_.find(peer.hostedRoom);
  if (roomIt == rooms_.end()) {
    sendError(peer.id, QStringLiteral("no-room"));
    return;
  }
  const QString peerId = peer.id;
  const QString roomId = roomIt->id;
  owners_.forgetDevices(roomId, {}, [this, peerId, roomId](bool done) {
    logEvent(done ? QStringLiteral("devices-forgotten") : QStringLiteral("devices-not-forgotten"),
             {{"room", roomId}, {"host", peerId}});
    if (done) {
      send(peerId, QJsonObject{{kType, QStringLiteral("devices-forgotten")}});
    } else {
      sendError(peerId, QStringLiteral("forget-failed"));
    }
  });
}

void Rooms::handleApprove(Peer& peer, const QJsonObject& message) {
  auto roomIt = rooms_.find(peer.hostedRoom);
  const QString target = message.value(QLatin1String("target")).toString();
  if (roomIt == rooms_.end() || !roomIt->pending.contains(target)) {
    sendError(peer.id, QStringLiteral("unknown-target"));
    return;
  }
  admit(*roomIt, target, /*unattended=*/false);
}

void Rooms::handleReject(Peer& peer, const QJsonObject& message, bool kick) {
  auto roomIt = rooms_.find(peer.hostedRoom);
  if (roomIt == rooms_.end()) {
    sendError(peer.id, QStringLiteral("no-room"));
    return;
  }
  Room& room = *roomIt;
  const QString target = message.value(QLatin1String("target")).toString();
  auto targetIt = peers_.find(target);
  // The host's panel may answer twice (kick, then reject): the second is a no-op.
  if (target.isEmpty() || targetIt == peers_.end() || targetIt->joinedRoom != room.id) return;

  logEvent(kick ? QStringLiteral("kicked") : QStringLiteral("rejected"),
           {{"room", room.id}, {"client", target}});
  if (room.admittedId == target) {
    room.admittedId.clear();
    targetIt->joinedRoom.clear();
    send(target, QJsonObject{{kType, QStringLiteral("left")}});
    send(room.hostId, QJsonObject{{kType, QStringLiteral("peer-left")},
                                  {QStringLiteral("clientId"), target}});
    return;
  }
  room.pending.remove(target);
  targetIt->joinedRoom.clear();
  // Turned away: not back at this room's door at once.
  targetIt->refusedRoom = room.id;
  targetIt->refusedUntilMs = clock_() + limits_.rejectedCooldownMs;
  send(target, QJsonObject{{kType, QStringLiteral("rejected")}});
}

void Rooms::handleSignal(Peer& peer, const QJsonObject& message) {
  const QJsonValue data = message.value(QLatin1String("data"));
  if (!data.isObject()) {
    sendError(peer.id, QStringLiteral("bad-signal"));
    return;
  }
  QString to;
  if (auto hosted = rooms_.find(peer.hostedRoom); hosted != rooms_.end()) {
    to = hosted->admittedId;
  } else if (auto joined = rooms_.find(peer.joinedRoom);
             joined != rooms_.end() && joined->admittedId == peer.id) {
    to = joined->hostId;
  }
  if (to.isEmpty()) {
    logEvent(QStringLiteral("signal-refused"), {{"client", peer.id}, {"address", peer.address}});
    sendError(peer.id, QStringLiteral("not-in-room"));
    return;
  }
  send(to, QJsonObject{{kType, QStringLiteral("signal")}, {QStringLiteral("data"), data}});
}

void Rooms::leaveJoinedRoom(Peer& peer, bool tellHost) {
  auto roomIt = rooms_.find(peer.joinedRoom);
  peer.joinedRoom.clear();
  peer.deviceCheck = 0;
  if (roomIt == rooms_.end()) return;
  Room& room = *roomIt;
  const bool wasAdmitted = room.admittedId == peer.id;
  const bool wasPending = room.pending.remove(peer.id) > 0;
  if (wasAdmitted) room.admittedId.clear();
  if (tellHost && (wasAdmitted || wasPending)) {
    send(room.hostId, QJsonObject{{kType, QStringLiteral("peer-left")},
                                  {QStringLiteral("clientId"), peer.id}});
  }
}

void Rooms::closeRoom(QString roomId, bool keepRegistration) {  // by value: callers pass a field it clears
  auto roomIt = rooms_.find(roomId);
  if (roomIt == rooms_.end()) return;
  const Room room = *roomIt;
  rooms_.erase(roomIt);
  if (cluster_ && !keepRegistration) cluster_->unplace(roomId);
  if (auto host = peers_.find(room.hostId); host != peers_.end()) host->hostedRoom.clear();
  QStringList members = room.pending.keys();
  if (!room.admittedId.isEmpty()) members << room.admittedId;
  for (const auto& member : members) {
    auto it = peers_.find(member);
    if (it == peers_.end()) continue;
    it->joinedRoom.clear();
    send(member, QJsonObject{{kType, QStringLiteral("left")}});
  }
  logEvent(QStringLiteral("room-closed"), {{"room", roomId}});
}

QString Rooms::newClientId() const {
  for (;;) {
    const quint64 value = QRandomGenerator::system()->generate64();
    const QString id = QString::number(value, 16).rightJustified(16, QLatin1Char('0'));
    if (!peers_.contains(id)) return id;
  }
}

void Rooms::send(const QString& peerId, const QJsonObject& message) {
  sendRaw(peerId, QJsonDocument(message).toJson(QJsonDocument::Compact));
}

void Rooms::sendRaw(const QString& peerId, const QByteArray& json) {
  auto it = peers_.find(peerId);
  if (it == peers_.end()) return;
  if (it->origin.isEmpty()) {
    output_.send(peerId, json);
  } else {
    cluster_->post(it->origin, instanceMessage("deliver", peerId, {}, json));
  }
}

void Rooms::closePeer(const QString& peerId, int code, const QString& reason) {
  auto it = peers_.find(peerId);
  if (it == peers_.end()) return;
  if (it->origin.isEmpty()) {
    output_.close(peerId, code, reason);
  } else {
    cluster_->post(it->origin, instanceMessage("close", peerId, QByteArray::number(code), reason.toUtf8()));
  }
}

void Rooms::sendError(const QString& peerId, const QString& code) {
  send(peerId, QJsonObject{{kType, QStringLiteral("error")}, {QStringLiteral("code"), code}});
}

// ---- several instances ----

bool Rooms::routeElsewhere(Peer& peer, const QString& type, const QJsonObject& message, const QByteArray& utf8) {
  if (type == QLatin1String("join")) {
    const QString roomId = message.value(QLatin1String("roomId")).toString();
    if (!isValidRoomId(roomId, limits_.maxRoomIdChars) || rooms_.contains(roomId)) {
      detachFromHome(peer);
      return false;
    }
    // Looking a room up costs a round trip to Redis: enumeration is bounded first.
    if (!mayAskFor(peer, roomId)) return true;
    const quint64 ticket = nextRoute_++;
    peer.routing = ticket;
    const QString peerId = peer.id;
    cluster_->locate(roomId, [this, peerId, ticket, utf8](const QString& instance) {
      routed(peerId, ticket, instance, utf8);
    });
    return true;
  }
  if (peer.home.isEmpty()) return false;
  if (type == QLatin1String("create")) {
    detachFromHome(peer);
    return false;
  }
  forward(peer, utf8);
  return true;
}

void Rooms::routed(const QString& peerId, quint64 ticket, const QString& instance, const QByteArray& utf8) {
  auto it = peers_.find(peerId);
  if (it == peers_.end() || it->routing != ticket) return;
  it->routing = 0;
  const QJsonObject join = QJsonDocument::fromJson(utf8).object();
  if (instance.isEmpty() || instance == cluster_->instance()) {
    detachFromHome(*it);
    handleJoin(*it, join);
  } else {
    // As for a join here: one room per connection, and a host is nobody's client.
    if (!it->hostedRoom.isEmpty()) closeRoom(it->hostedRoom);
    it = peers_.find(peerId);
    if (!it->joinedRoom.isEmpty()) leaveJoinedRoom(*it, /*tellHost=*/true);
    if (it->home != instance) {
      detachFromHome(*it);
      it->home = instance;
      cluster_->post(instance, instanceMessage("open", peerId, cluster_->instance().toUtf8(), it->address.toUtf8()));
    }
    forward(*it, utf8, join.value(QLatin1String("roomId")).toString());
  }
  // What came in meanwhile, in order; a join among it may start another lookup.
  it = peers_.find(peerId);
  if (it == peers_.end()) return;
  QList<QByteArray> held = std::exchange(it->held, {});
  while (!held.isEmpty()) {
    it = peers_.find(peerId);
    if (it == peers_.end()) return;
    if (it->routing) {
      it->held = held + it->held;
      return;
    }
    dispatch(*it, held.takeFirst());
  }
}

void Rooms::forward(Peer& peer, const QByteArray& utf8, const QString& joiningRoom) {
  const QString peerId = peer.id;
  const QString home = peer.home;
  cluster_->post(home, instanceMessage("frame", peerId, {}, utf8), [this, peerId, home, joiningRoom](bool delivered) {
    if (delivered) return;
    auto it = peers_.find(peerId);
    if (it == peers_.end() || it->home != home) return;
    // The room's instance is gone: so is the room, for now. (Should it be
    // only away, it forgets the connection when it hears.)
    logEvent(QStringLiteral("instance-unreachable"), {{"client", peerId}, {"instance", home}});
    detachFromHome(*it, 1001);
    if (!joiningRoom.isEmpty()) {
      send(peerId, QJsonObject{{kType, QStringLiteral("room-not-found")}, {QStringLiteral("roomId"), joiningRoom}});
    } else {
      send(peerId, QJsonObject{{kType, QStringLiteral("left")}});
    }
  });
}

void Rooms::detachFromHome(Peer& peer, int code) {
  if (peer.home.isEmpty()) return;
  cluster_->post(peer.home, instanceMessage("gone", peer.id, QByteArray::number(code)));
  peer.home.clear();
}

void Rooms::fromInstance(const QByteArray& message) {
  const qsizetype a = message.indexOf(kSeparator);
  const qsizetype b = a < 0 ? -1 : message.indexOf(kSeparator, a + 1);
  const qsizetype c = b < 0 ? -1 : message.indexOf(kSeparator, b + 1);
  if (c < 0) return;
  const QByteArray kind = message.left(a);
  const QString peerId = QString::fromLatin1(message.mid(a + 1, b - a - 1));
  const QByteArray argument = message.mid(b + 1, c - b - 1);
  const QByteArray payload = message.mid(c + 1);
  auto it = peers_.find(peerId);
  const bool remote = it != peers_.end() && !it->origin.isEmpty();
  const bool local = it != peers_.end() && it->origin.isEmpty();
  if (kind == "frame") {
    if (remote) frame(peerId, payload);
  } else if (kind == "deliver") {
    if (local) output_.send(peerId, payload);
  } else if (kind == "open") {
    if (it != peers_.end() || peerId.isEmpty()) return;
    Peer peer;
    peer.id = peerId;
    peer.address = QString::fromUtf8(payload);
    peer.origin = QString::fromUtf8(argument);
    peer.tokens = limits_.burstMessages;
    peer.refill.start();
    peers_.insert(peerId, peer);
    logEvent(QStringLiteral("connected"), {{"client", peerId}, {"address", peer.address}, {"via", peer.origin}});
  } else if (kind == "gone") {
    if (remote) disconnected(peerId, argument.toInt());
  } else if (kind == "close") {
    if (local) output_.close(peerId, argument.toInt(), QString::fromUtf8(payload));
  } else if (kind == "takeover") {
    roomMoved(QString::fromUtf8(argument));
  }
}

void Rooms::failureCounted(const QByteArray& key, int count) {
  const QString rest = QString::fromUtf8(key.mid(2));
  if (key.startsWith("a|")) {
    perAddress_.setFailures(rest, count);
  } else if (key.startsWith("r|")) {
    perRoomAddress_.setFailures(rest, count);
  } else if (key.startsWith("d|")) {
    const qint64 now = clock_();
    RoomFailures& today = roomFailures_.touch(rest);
    if (now - today.dayStart >= kDayMs) today = {now, 0};
    today.failures = std::max(today.failures, count);
  }
}

QSet<QString> Rooms::instancesInUse() const {
  QSet<QString> instances;
  for (const Peer& peer : peers_) {
    if (!peer.home.isEmpty()) instances.insert(peer.home);
    if (!peer.origin.isEmpty()) instances.insert(peer.origin);
  }
  return instances;
}

void Rooms::instanceGone(const QString& instance) {
  logEvent(QStringLiteral("instance-gone"), {{"instance", instance}});
  QStringList remote;
  for (Peer& peer : peers_) {
    if (peer.origin == instance) remote << peer.id;
    if (peer.home == instance) {
      peer.home.clear();
      send(peer.id, QJsonObject{{kType, QStringLiteral("left")}});
    }
  }
  for (const auto& id : remote) disconnected(id, 1001);
}

void Rooms::roomMoved(const QString& roomId) {
  auto it = rooms_.find(roomId);
  if (it == rooms_.end()) return;
  const QString host = it->hostId;
  logEvent(QStringLiteral("room-moved"), {{"room", roomId}, {"stale", host}});
  closeRoom(roomId);
  closePeer(host, kPolicyViolated, QStringLiteral("replaced by the room's owner"));
}

}  // namespace lunor::signal
