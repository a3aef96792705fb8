#include "password_backoff.h"

#include <algorithm>

namespace lunor::signal {

PasswordBackoff::PasswordBackoff(Policy policy, Clock clock)
    : policy_(policy), clock_(std::move(clock)) {}

void PasswordBackoff::forgetStale(qint64 now) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    const bool stale = now - it->lastSeen > policy_.forgetAfterMs && now >= it->lockedUntil;
    it = stale ? entries_.erase(it) : std::next(it);
  }
}

qint64 PasswordBackoff::retryAfterMs(const QString& key) {
  const qint64 now = clock_();
  forgetStale(now);
  auto it = entries_.find(key);
  if (it == entries_.end()) return 0;
  return std::max<qint64>(0, it->lockedUntil - now);
}

qint64 PasswordBackoff::recordFailure(const QString& key) {
  const qint64 now = clock_();
  forgetStale(now);
  Entry& entry = entries_[key];
  entry.failures += 1;
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

}  // namespace lunor::signal
