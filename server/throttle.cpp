// SPDX-License-Identifier: GPL-3.0-or-later
#include "throttle.h"

#include <algorithm>

#include "monotonic_clock.h"

namespace lunor::signal {
namespace {

constexpr qint64 kMinuteMs = 60'000;
constexpr qint64 kDayMs = 24 * 3600'000;

// Failure keys shared by the instances.
QByteArray addressKey(const QString& address) { return "a|" + address.toUtf8(); }
QByteArray roomAddressKey(const QString& roomAddress) { return "r|" + roomAddress.toUtf8(); }
QByteArray roomDayKey(const QString& roomId) { return "d|" + roomId.toUtf8(); }
QByteArray deviceDayKey(const QString& roomDevice) { return "v|" + roomDevice.toUtf8(); }

QString roomAddressOf(const QString& roomId, const QString& address) { return roomId + QLatin1Char('|') + address; }

PasswordBackoff::Policy backoffPolicy(int freeFailures, const ServerLimits& limits) {
  PasswordBackoff::Policy policy;
  policy.freeFailures = freeFailures;
  policy.maxLockMs = limits.maxPasswordWaitMs;
  policy.maxEntries = limits.maxBackoffEntries;
  return policy;
}

}  // namespace

Throttle::Throttle(ServerLimits limits, Clock clock)
    : limits_(limits),
      clock_(clock),
      perAddress_(backoffPolicy(limits.freeFailuresPerAddress, limits), clock),
      perRoomAddress_(backoffPolicy(limits.freeFailuresPerRoomAddress, limits), clock),
      roomFailures_(limits.maxBackoffEntries),
      deviceFailures_(limits.maxBackoffEntries),
      askedRooms_(limits.maxBackoffEntries) {}

void Throttle::connected(const QString& peerId) {
  Connection connection;
  connection.tokens = limits_.burstMessages;
  connection.refill.start();
  connections_.insert(peerId, connection);
}

void Throttle::disconnected(const QString& peerId) { connections_.remove(peerId); }

Throttle::Verdict Throttle::takeFrame(const QString& peerId) {
  Connection& c = connections_[peerId];
  const double elapsed = static_cast<double>(c.refill.restart()) / 1000.0;
  c.tokens = std::min(limits_.burstMessages, c.tokens + elapsed * limits_.messagesPerSecond);
  if (c.tokens >= 1.0) {
    c.tokens -= 1.0;
    return {};
  }
  Verdict verdict{.pass = false};
  ++c.dropped;
  const qint64 now = monotonicMs();
  if (c.lastWarningMs < 0 || now - c.lastWarningMs >= 1000) {
    c.lastWarningMs = now;
    verdict.warn = true;
  }
  verdict.close = c.dropped >= limits_.droppedBeforeClose;
  return verdict;
}

bool Throttle::mayKnock(const QString& peerId, const QString& roomId, qint64 now) const {
  const auto c = connections_.constFind(peerId);
  if (c == connections_.cend()) return true;
  return now >= c->nextJoinAtMs && (c->refusedRoom != roomId || now >= c->refusedUntilMs);
}

void Throttle::knocked(const QString& peerId, qint64 now) {
  if (auto c = connections_.find(peerId); c != connections_.end()) c->nextJoinAtMs = now + limits_.joinCooldownMs;
}

void Throttle::turnedAway(const QString& peerId, const QString& roomId) {
  auto c = connections_.find(peerId);
  if (c == connections_.end()) return;
  c->refusedRoom = roomId;
  c->refusedUntilMs = clock_() + limits_.rejectedCooldownMs;
}

bool Throttle::mayAskFor(const QString& address, const QString& roomId) {
  const qint64 now = clock_();
  AddressRooms& asked = askedRooms_.touch(address);
  if (now - asked.windowStart >= kMinuteMs) {
    asked.windowStart = now;
    asked.rooms.clear();
  }
  if (asked.rooms.contains(roomId)) return true;
  if (asked.rooms.size() >= limits_.maxRoomIdsPerAddressPerMinute) return false;
  asked.rooms.insert(roomId);
  return true;
}

bool Throttle::mayPrompt(Window& window, qint64 now) const {
  if (now - window.start >= kMinuteMs) window = {now, 0};
  if (window.count >= limits_.maxJoinRequestsPerRoomPerMinute) return false;
  ++window.count;
  return true;
}

Throttle::Day Throttle::passwordDay(const QString& roomId) {
  const qint64 now = clock_();
  RoomFailures& today = roomFailures_.touch(roomId);
  if (now - today.dayStart >= kDayMs) today = {now, 0};
  return {today.failures >= limits_.maxFailuresPerRoomPerDay, today.dayStart + kDayMs - now, today.failures};
}

Throttle::Day Throttle::deviceDay(const QString& roomId, const QString& deviceDigest) {
  const qint64 now = clock_();
  RoomFailures& today = deviceFailures_.touch(roomAddressOf(roomId, deviceDigest));
  if (now - today.dayStart >= kDayMs) today = {now, 0};
  return {today.failures >= limits_.maxFailuresPerDevicePerDay, today.dayStart + kDayMs - now, today.failures};
}

qint64 Throttle::passwordWait(const QString& address, const QString& roomId) const {
  // Locks are per address and per (room, address): someone else's guessing
  // never locks the owner out.
  return std::max(perAddress_.retryAfterMs(address), perRoomAddress_.retryAfterMs(roomAddressOf(roomId, address)));
}

qint64 Throttle::passwordFailed(const QString& address, const QString& roomId, const QString& deviceDigest) {
  roomFailures_.touch(roomId).failures += 1;
  const QString roomDevice = roomAddressOf(roomId, deviceDigest);
  if (!deviceDigest.isEmpty()) {
    deviceDay(roomId, deviceDigest);  // a day that is over starts again
    deviceFailures_.touch(roomDevice).failures += 1;
  }
  const QString roomAddress = roomAddressOf(roomId, address);
  const qint64 lock = std::max(perAddress_.recordFailure(address), perRoomAddress_.recordFailure(roomAddress));
  if (cluster_) {
    // Every instance learns the new counts (this one too, with the others' failures added).
    const qint64 forget = perAddress_.policy().forgetAfterMs;
    cluster_->countFailure(addressKey(address), forget, /*sliding=*/true);
    cluster_->countFailure(roomAddressKey(roomAddress), forget, /*sliding=*/true);
    cluster_->countFailure(roomDayKey(roomId), kDayMs, /*sliding=*/false);
    if (!deviceDigest.isEmpty()) cluster_->countFailure(deviceDayKey(roomDevice), kDayMs, /*sliding=*/false);
  }
  return lock;
}

void Throttle::passwordRight(const QString& address, const QString& roomId) {
  const QString roomAddress = roomAddressOf(roomId, address);
  perRoomAddress_.recordSuccess(roomAddress);
  if (cluster_) cluster_->forgetFailures(roomAddressKey(roomAddress));
}

void Throttle::failureCounted(const QByteArray& key, int count) {
  const QString rest = QString::fromUtf8(key.mid(2));
  if (key.startsWith("a|")) {
    perAddress_.setFailures(rest, count);
  } else if (key.startsWith("r|")) {
    perRoomAddress_.setFailures(rest, count);
  } else if (key.startsWith("d|") || key.startsWith("v|")) {
    const qint64 now = clock_();
    RoomFailures& today = (key.startsWith("d|") ? roomFailures_ : deviceFailures_).touch(rest);
    if (now - today.dayStart >= kDayMs) today = {now, 0};
    today.failures = std::max(today.failures, count);
  }
}

void Throttle::expire() {
  const qint64 now = clock_();
  perAddress_.expire();
  perRoomAddress_.expire();
  roomFailures_.expire([&](const RoomFailures& f) { return now - f.dayStart >= kDayMs; });
  deviceFailures_.expire([&](const RoomFailures& f) { return now - f.dayStart >= kDayMs; });
  askedRooms_.expire([&](const AddressRooms& a) { return now - a.windowStart >= kMinuteMs; });
}

}  // namespace lunor::signal
