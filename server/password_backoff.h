// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Limits wrong unattended-password attempts. Each key (an address, a room
// and address) gets a few free failures, then is locked for a time that
// doubles with every further failure, up to a ceiling. The table is bounded;
// idle keys are forgotten by expire(), which the server calls on a timer.

#include <functional>

#include <QString>

#include "lru_table.h"

namespace lunor::signal {

class PasswordBackoff {
 public:
  using Clock = std::function<qint64()>;  // milliseconds, monotonic

  struct Policy {
    int freeFailures = 3;
    qint64 firstLockMs = 1000;
    qint64 maxLockMs = 5 * 60 * 1000;
    qint64 forgetAfterMs = 60 * 60 * 1000;  // an idle key starts over
    int maxEntries = 100'000;
  };

  PasswordBackoff(Policy policy, Clock clock);

  // Milliseconds until the key may try again; 0 when it may now.
  qint64 retryAfterMs(const QString& key) const;
  // Records a failure; returns the new wait (0 while failures are free).
  qint64 recordFailure(const QString& key);
  // Raises the key's failures to `count` (counted elsewhere too); returns the wait.
  qint64 setFailures(const QString& key, int count);
  void recordSuccess(const QString& key);
  // Forgets the keys idle for forgetAfterMs and no longer locked.
  void expire();
  int trackedKeys() const { return entries_.size(); }
  const Policy& policy() const { return policy_; }

 private:
  struct Entry {
    int failures = 0;
    qint64 lockedUntil = 0;
    qint64 lastSeen = 0;
  };

  Policy policy_;
  Clock clock_;
  LruTable<Entry> entries_;
};

}  // namespace lunor::signal
