// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// When a capture loop that learns of screen changes grabs next: at once when
// the screen changes after a quiet period, never sooner than one frame
// interval after the last grab (the profile's rate is a cap, not a clock),
// and once a refresh interval on a still screen. Time is passed in, so that
// the loop and its tests choose the clock.

#include <algorithm>
#include <chrono>

namespace lunor {

class CapturePacer {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;
  using Duration = Clock::duration;

  static constexpr Duration kStillRefresh = std::chrono::seconds(1);

  explicit CapturePacer(int fps, Duration stillRefresh = kStillRefresh) : refresh_(stillRefresh) { setFrameRate(fps); }

  void setFrameRate(int fps) {
    interval_ = std::chrono::duration_cast<Duration>(std::chrono::microseconds(1'000'000 / std::max(1, fps)));
  }
  Duration interval() const { return interval_; }

  // The screen changed (or may have: a change seen before the first grab).
  void changed() { dirty_ = true; }
  bool dirty() const { return dirty_; }

  // When the next grab is due: the first at once; after a change, one frame
  // interval after the last grab (now, if that is past); on a still screen,
  // a refresh interval after it.
  TimePoint nextGrab() const {
    if (!grabbedOnce_) return TimePoint::min();
    return lastGrab_ + (dirty_ ? interval_ : refresh_);
  }
  bool due(TimePoint now) const { return now >= nextGrab(); }

  // A grab was made at `now`: what it saw is no longer new. A grab a little
  // late for a change (the loop's wake-up) counts from when it was due, so
  // that a screen that changes all the time keeps the full rate.
  void grabbed(TimePoint now) {
    const TimePoint due = nextGrab();
    const Duration slack = std::min<Duration>(interval_ / 4, std::chrono::milliseconds(5));
    lastGrab_ = grabbedOnce_ && dirty_ && now >= due && now - due <= slack ? due : now;
    grabbedOnce_ = true;
    dirty_ = false;
  }

 private:
  Duration interval_{};
  Duration refresh_;
  TimePoint lastGrab_{};
  bool grabbedOnce_ = false;
  bool dirty_ = false;
};

}  // namespace lunor
