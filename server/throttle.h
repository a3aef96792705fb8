// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How often a connection, an address or a room may do what costs the server
// or a host something: messages (a token bucket per connection), joins (a
// cooldown, longer at a room that turned the connection away), distinct
// room IDs asked for by one address (enumeration), prompts shown to a host,
// and wrong unattended passwords (a back-off per address and per room and
// address, a daily budget per room and per device key shown; counted with
// the other instances
// when there are any). The throttle decides and logs nothing; its callers
// log and tell.

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>

#include "cluster.h"
#include "lru_table.h"
#include "password_backoff.h"
#include "server_limits.h"

namespace lunor::signal {

class Throttle final {
 public:
  using Clock = PasswordBackoff::Clock;

  // clock: milliseconds, monotonic, for every bound but the message rate
  // (which keeps real time).
  Throttle(ServerLimits limits, Clock clock);
  Throttle(const Throttle&) = delete;
  Throttle& operator=(const Throttle&) = delete;

  // Failure counts are shared through `cluster` (borrowed; null: this instance is alone).
  void setCluster(Cluster* cluster) { cluster_ = cluster; }

  // ---- messages ----
  // A connection starts with a full bucket; its state goes when it does.
  void connected(const QString& peerId);
  void disconnected(const QString& peerId);
  // What becomes of the connection's next frame: handled (pass), or dropped;
  // a drop may call for a warning (at most one a second) and, once too many
  // were dropped, for the connection's end.
  struct Verdict {
    bool pass = true;
    bool warn = false;
    bool close = false;
  };
  Verdict takeFrame(const QString& peerId);

  // ---- joins ----
  // False while the connection's join cooldown runs, or its wait at a room
  // that turned it away. now: the clock's reading for this join.
  bool mayKnock(const QString& peerId, const QString& roomId, qint64 now) const;
  // The connection joins now: its next join waits the cooldown.
  void knocked(const QString& peerId, qint64 now);
  // The room turned the connection away: it waits longer before it knocks there again.
  void turnedAway(const QString& peerId, const QString& roomId);
  // False once the address asked for its bound of distinct room IDs this minute.
  bool mayAskFor(const QString& address, const QString& roomId);
  // Join requests shown to one host in the current minute (kept with its room).
  struct Window {
    qint64 start = 0;
    int count = 0;
  };
  // Counts one more request in `window`; false (not counted) past the bound.
  bool mayPrompt(Window& window, qint64 now) const;

  // ---- unattended passwords ----
  // The room's wrong passwords today (a day starts at its first failure).
  struct Day {
    bool spent = false;      // the budget is spent: the room refuses passwords
    qint64 retryAfterMs = 0;  // until the day is over
    int failures = 0;
  };
  Day passwordDay(const QString& roomId);
  // The same for the wrong passwords of joins that showed one device key
  // (its digest) for the room.
  Day deviceDay(const QString& roomId, const QString& deviceDigest);
  // How long the address must wait before it tries a password for the room.
  qint64 passwordWait(const QString& address, const QString& roomId) const;
  // A wrong password: counted for the address, the pair, the room's day and
  // the day of the device key shown (its digest; empty: none); returns the
  // wait it now imposes (0 while failures are free).
  qint64 passwordFailed(const QString& address, const QString& roomId, const QString& deviceDigest = {});
  // The right password: the pair starts over (the address keeps its count).
  void passwordRight(const QString& address, const QString& roomId);
  // A failure count from the cluster (key as given to it).
  void failureCounted(const QByteArray& key, int count);

  // Forgets what the time-bounded tables no longer need; call it each second.
  void expire();
  int backoffEntries() const { return perAddress_.trackedKeys() + perRoomAddress_.trackedKeys(); }

 private:
  struct Connection {
    double tokens = 0;
    QElapsedTimer refill;
    int dropped = 0;
    qint64 lastWarningMs = -1;
    qint64 nextJoinAtMs = 0;  // the join cooldown
    QString refusedRoom;      // the room that last turned it away
    qint64 refusedUntilMs = 0;
  };
  // Rooms one address asked for in the current minute.
  struct AddressRooms {
    qint64 windowStart = 0;
    QSet<QString> rooms;
  };
  // A room's wrong passwords today.
  struct RoomFailures {
    qint64 dayStart = 0;
    int failures = 0;
  };

  const ServerLimits limits_;
  Clock clock_;
  Cluster* cluster_ = nullptr;
  QHash<QString, Connection> connections_;
  PasswordBackoff perAddress_;
  PasswordBackoff perRoomAddress_;
  LruTable<RoomFailures> roomFailures_;
  LruTable<RoomFailures> deviceFailures_;  // by room and device digest
  LruTable<AddressRooms> askedRooms_;
};

}  // namespace lunor::signal
