// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every bound the server keeps, with its default; lunor-signal has a flag
// for each (--help lists them).

#include <QtGlobal>

#include "protocol/signaling_wire.h"

namespace lunor::signal {

struct ServerLimits {
  // ---- messages ----
  qint64 maxMessageBytes = 256 * 1024;
  int maxDisplayNameChars = 100;
  int maxRoomIdChars = signaling::kMaxRoomIdChars;
  // An avatar (Base64 text) longer than this is dropped from the join.
  int maxAvatarBytes = 64 * 1024;
  // Token bucket per connection: sustained rate and burst.
  double messagesPerSecond = 100;
  double burstMessages = 300;
  int droppedBeforeClose = 1000;

  // ---- connections ----
  // Counted from the TCP accept, before any handshake.
  int maxConnectionsPerAddress = 64;
  int maxConnections = 50'000;
  int listenBacklog = 4096;
  // TLS and WebSocket handshake, then the first message.
  int handshakeTimeoutMs = 10'000;
  int firstMessageTimeoutMs = 15'000;
  // Bytes queued for a connection that does not read; past it, it is closed.
  qint64 maxUnsentBytes = 1024 * 1024;
  // Liveness: a ping every interval; silent (no frame, no pong) this long: dropped.
  int pingIntervalMs = 20'000;
  int silenceTimeoutMs = 60'000;

  // ---- joins ----
  int maxPendingJoinsPerRoom = 8;
  // Join requests (each a prompt, maybe with a picture) a host gets per minute.
  int maxJoinRequestsPerRoomPerMinute = 30;
  // A connection may ask to join once per this; after a refusal it waits longer.
  int joinCooldownMs = 1'000;
  int rejectedCooldownMs = 5'000;
  // Distinct room IDs one address may ask for per minute (enumeration).
  int maxRoomIdsPerAddressPerMinute = 30;

  // ---- passwords ----
  // Free wrong passwords per address, and per (room, address), before back-off.
  int freeFailuresPerAddress = 10;
  int freeFailuresPerRoomAddress = 3;
  // The longest wait the back-off imposes (the waits double up to it).
  int maxPasswordWaitMs = 5 * 60 * 1000;
  // Wrong passwords a room takes per day from everyone together; past it
  // the room refuses every password until the day is over, except from the
  // devices it admitted before (those that show their device key).
  int maxFailuresPerRoomPerDay = 200;
  // Wrong passwords a join showing one device key takes in a day (whatever
  // its addresses); past it that key no longer gets past the room's lock.
  int maxFailuresPerDevicePerDay = 10;
  // Device keys kept per room; past it the oldest are forgotten.
  int maxDevicesPerRoom = 32;
  // Entries the back-off tables keep at most (the oldest go first).
  int maxBackoffEntries = 100'000;
};

}  // namespace lunor::signal
