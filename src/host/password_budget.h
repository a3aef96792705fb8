// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How many wrong passwords the host takes, and when. Everyone together gets
// a few free tries, then waits that double up to five minutes, and at most
// 200 wrong passwords a day; past that the host refuses every password until
// the day is over, except from the devices it let in before (proved by the
// key it gave them), each of which has a back-off and ten a day of its own.
// A restart of the host does not start it over: saved() and restore() carry
// it through, on the wall clock (a clock set back counts as no time
// passed). Main thread.

#include <chrono>
#include <map>

#include <QByteArray>

#include "session/clock.h"

namespace lunor {

class PasswordBudget {
 public:
  static constexpr int kFreeFailures = 3;
  static constexpr std::chrono::milliseconds kFirstWait{1000};
  static constexpr std::chrono::milliseconds kLongestWait{5 * 60 * 1000};
  static constexpr std::chrono::hours kDay{24};
  static constexpr int kFailuresPerDay = 200;
  static constexpr int kFailuresPerDevicePerDay = 10;
  static constexpr size_t kDevicesTracked = 64;

  struct Verdict {
    bool allowed = true;
    std::chrono::milliseconds retryAfter{0};
    bool locked = false;  // the day's budget is spent
  };

  explicit PasswordBudget(Clock& clock) : clock_(clock) {}

  // Whether a password may be tried now, from a known device (its key's
  // digest) or from anyone (empty).
  Verdict mayTry(const QByteArray& device);
  // A wrong password: the wait that now applies.
  std::chrono::milliseconds failed(const QByteArray& device);
  // The right one, after its try was counted by failed(): the try is taken
  // back and the back-off starts over.
  void succeeded(const QByteArray& device);
  // The room's own day is spent (everyone but known devices is refused).
  bool spentToday();

  // The budget as it stands, at `wallMs` on the wall clock (milliseconds
  // since the epoch), as compact JSON.
  QByteArray saved(qint64 wallMs) const;
  // Takes back what saved() gave, at `wallMs`; anything malformed in it
  // is left out, and the budget is never made more generous than it was.
  void restore(const QByteArray& saved, qint64 wallMs);

 private:
  struct Count {
    int failures = 0;  // in a row, for the back-off
    Clock::TimePoint lockedUntil{};
    Clock::TimePoint dayStart{};
    int today = 0;
  };
  Count& countFor(const QByteArray& device);
  void rollDay(Count& count);

  Clock& clock_;
  Count everyone_;
  std::map<QByteArray, Count> devices_;
};

}  // namespace lunor
