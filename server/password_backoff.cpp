// SPDX-License-Identifier: GPL-3.0-or-later
#include "password_backoff.h"

#include <algorithm>

namespace lunor::signal {

PasswordBackoff::PasswordBackoff(Policy policy, Clock clock)
    : policy_(policy), clock_(std::move(clock)), entries_(policy.maxEntries) {}

qint64 PasswordBackoff::retryAfterMs(const QString& key) const {
  const Entry* entry = entries_.find(key);
  if (!entry) return 0;
  return std::max<qint64>(0, entry->lockedUntil - clock_());
}

qint64 PasswordBackoff::recordFailure(const QString& key) {
  const Entry* entry = entries_.find(key);
  return setFailures(key, (entry ? entry->failures : 0) + 1);
}

qint64 PasswordBackoff::setFailures(const QString& key, int count) {
  const qint64 now = clock_();
  Entry& entry = entries_.touch(key);
  if (count <= entry.failures) return std::max<qint64>(0, entry.lockedUntil - now);
  entry.failures = count;
  entry.lastSeen = now;
  const int over = entry.failures - policy_.freeFailures;
  if (over <= 0) return 0;
  qint64 lock = policy_.firstLockMs;
  for (int i = 1; i < over && lock < policy_.maxLockMs; ++i) lock *= 2;
  lock = std::min(lock, policy_.maxLockMs);
  entry.lockedUntil = now + lock;
  return lock;
}

void PasswordBackoff::recordSuccess(const QString& key) { entries_.remove(key); }

void PasswordBackoff::expire() {
  const qint64 now = clock_();
  // Oldest first: a recently failed key stops the walk. A locked key is only
  // older than others when its lock is shorter than their age; keep it.
  entries_.expire([&](const Entry& e) { return now - e.lastSeen > policy_.forgetAfterMs && now >= e.lockedUntil; });
}

}  // namespace lunor::signal
