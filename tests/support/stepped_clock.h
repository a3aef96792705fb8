// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A clock a test moves forward: advance() fires every timer due within the
// stretch, earliest first, with the clock at its due time.

#include <algorithm>
#include <chrono>
#include <set>

#include "session/clock.h"

namespace lunor::test {

class SteppedClock final : public Clock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now() + offset_; }
  void timerStarted(ClockTimer& timer) override { timers_.insert(&timer); }
  void timerStopped(ClockTimer& timer) override { timers_.erase(&timer); }

  void advance(std::chrono::milliseconds by) {
    const TimePoint until = now() + by;
    for (;;) {
      const auto next = std::min_element(timers_.begin(), timers_.end(),
                                         [](ClockTimer* a, ClockTimer* b) { return a->due() < b->due(); });
      if (next == timers_.end() || (*next)->due() > until) break;
      ClockTimer* timer = *next;
      offset_ += std::max(std::chrono::steady_clock::duration::zero(), timer->due() - now());
      timer->fire();
    }
    offset_ += std::max(std::chrono::steady_clock::duration::zero(), until - now());
  }
  void advance(int ms) { advance(std::chrono::milliseconds(ms)); }

 private:
  std::chrono::steady_clock::duration offset_{};
  std::set<ClockTimer*> timers_;
};

}  // namespace lunor::test
