// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// When a capture loop that learns of screen changes grabs next: at once when
// the screen changes after a quiet period, never sooner than one frame
// interval after the last grab (the profile's rate is a cap, not a clock),
// and when StillRepeats says on a still screen. Time is passed in, so that
// the loop and its tests choose the clock.

#include <algorithm>
#include <chrono>
#include <iterator>

namespace lunor {

// When a still screen's picture goes again: soon after the last change, a
// few times (the encoder sharpens a picture that stays: text moving is sent
// coarse, text that stopped is made crisp; the first repeat prepares the
// pass, the next ones are passes, as many as it takes and the link
// allows, at the frame rate while the encoder asks for them), then once a
// second, so that a picture lost on the way is not lost for good. A repeat
// the encoder has no use for costs a few bytes.
class StillRepeats {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::steady_clock::duration;
  static constexpr Duration kRefresh = std::chrono::seconds(1);
  // From 150 ms: typing's pauses between keys are mostly shorter, and a
  // pass on the link would hold the next key's picture.
  // Then every quarter of a second until 1.7 s: on a narrow link each pass
  // waits for the last one's time on it, and the next is taken at the
  // first repeat after.
  static constexpr Duration kSharpen[] = {
      std::chrono::milliseconds(150),  std::chrono::milliseconds(190),  std::chrono::milliseconds(230),
      std::chrono::milliseconds(270),  std::chrono::milliseconds(310),  std::chrono::milliseconds(450),
      std::chrono::milliseconds(700),  std::chrono::milliseconds(950),  std::chrono::milliseconds(1200),
      std::chrono::milliseconds(1450), std::chrono::milliseconds(1700)};

  // While the encoder sharpens the picture a part at a time (a narrow link
  // carries a 1080p terminal's sharp text in seconds), a repeat at each
  // frame interval brings the next part; for this long at most.
  static constexpr Duration kRefineFor = std::chrono::seconds(8);

  // A changed picture went at `now`.
  void changed(TimePoint now) {
    changedAt_ = now;
    repeats_ = 0;
    refineAt_ = TimePoint::max();
  }
  // A repeat went at `now`; wanted: the encoder is sharpening, a repeat
  // one interval later would carry more.
  void repeated(TimePoint now, Duration interval, bool wanted) {
    while (scheduled() <= now) ++repeats_;
    refineAt_ = wanted && now - changedAt_ < kRefineFor ? now + interval : TimePoint::max();
  }
  TimePoint next() const { return std::min(scheduled(), refineAt_); }
  bool due(TimePoint now) const { return now >= next(); }

 private:
  TimePoint scheduled() const {
    constexpr int sharpening = int(std::size(kSharpen));
    if (repeats_ < sharpening) return changedAt_ + kSharpen[repeats_];
    return changedAt_ + kSharpen[sharpening - 1] + kRefresh * (repeats_ - sharpening + 1);
  }

  TimePoint changedAt_{};
  int repeats_ = 0;
  TimePoint refineAt_ = TimePoint::max();
};

class CapturePacer {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;
  using Duration = Clock::duration;

  explicit CapturePacer(int fps) { setFrameRate(fps); }

  void setFrameRate(int fps) {
    interval_ = std::chrono::duration_cast<Duration>(std::chrono::microseconds(1'000'000 / std::max(1, fps)));
  }
  Duration interval() const { return interval_; }

  // The screen changed (or may have: a change seen before the first grab).
  void changed() { dirty_ = true; }
  bool dirty() const { return dirty_; }

  // When the still screen's next grab is due.
  void setStillDue(TimePoint at) { stillDue_ = at; }

  // When the next grab is due: the first at once; after a change, one frame
  // interval after the last grab (now, if that is past); on a still screen,
  // when setStillDue said.
  TimePoint nextGrab() const {
    if (!grabbedOnce_) return TimePoint::min();
    return dirty_ ? lastGrab_ + interval_ : stillDue_;
  }
  bool due(TimePoint now) const { return now >= nextGrab(); }

  // A grab was made at `now`: what it saw is no longer new. A grab a little
  // late for a change (the loop's wake-up) counts from when it was due, so
  // that a screen that changes all the time keeps the full rate. A still
  // screen's grab does not count: a change just after it is read at once.
  void grabbed(TimePoint now) {
    const TimePoint due = nextGrab();
    const Duration slack = std::min<Duration>(interval_ / 4, std::chrono::milliseconds(5));
    if (!grabbedOnce_ || dirty_) lastGrab_ = grabbedOnce_ && now >= due && now - due <= slack ? due : now;
    grabbedOnce_ = true;
    dirty_ = false;
  }

 private:
  Duration interval_{};
  TimePoint stillDue_ = TimePoint::max();
  TimePoint lastGrab_{};
  bool grabbedOnce_ = false;
  bool dirty_ = false;
};

}  // namespace lunor
