#pragma once

// Limits wrong unattended-password attempts. Each key (a room, a source
// address) gets a few free failures, then is locked for a time that doubles
// with every further failure, up to a ceiling.

#include <functional>

#include <QHash>
#include <QString>

namespace lunor::signal {

class PasswordBackoff {
 public:
  using Clock = std::function<qint64()>;  // milliseconds, monotonic

  struct Policy {
    int freeFailures = 3;
    qint64 firstLockMs = 1000;
    qint64 maxLockMs = 5 * 60 * 1000;
    qint64 forgetAfterMs = 60 * 60 * 1000;  // an idle key starts over
  };

  explicit PasswordBackoff(Policy policy, Clock clock);

  // Milliseconds until the key may try again; 0 when it may now.
  qint64 retryAfterMs(const QString& key);
  // Records a failure; returns the new wait (0 while failures are free).
  qint64 recordFailure(const QString& key);
  void recordSuccess(const QString& key);
  int trackedKeys() const { return static_cast<int>(entries_.size()); }

 private:
  struct Entry {
    int failures = 0;
    qint64 lockedUntil = 0;
    qint64 lastSeen = 0;
  };
  void forgetStale(qint64 now);

  Policy policy_;
  Clock clock_;
  QHash<QString, Entry> entries_;
};

}  // namespace lunor::signal
