// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Time as a session sees it: the present, and timers. The application runs
// on the steady clock and Qt's timers; a test hands its sessions a clock it
// can move forward, so that a wait of seconds (the grace of a lost
// connection, the pause before a room opens again) passes at once, and
// every timer that falls due meanwhile fires, in order, before advance()
// returns. Main thread.

#include <chrono>
#include <functional>

#include <QTimer>

namespace lunor {

class ClockTimer;

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~Clock() = default;
  virtual TimePoint now() const { return std::chrono::steady_clock::now(); }
  // What a timer tells its clock; the steady clock needs none of it.
  virtual void timerStarted(ClockTimer& timer) { Q_UNUSED(timer); }
  virtual void timerStopped(ClockTimer& timer) { Q_UNUSED(timer); }

  // The steady clock, shared by every session of the process.
  static Clock& steady();
};

// A timer on a Clock, like QTimer (single shot or repeating), which fires on
// real time, or when its clock has been moved past its due time.
class ClockTimer final {
 public:
  explicit ClockTimer(Clock& clock, std::function<void()> fired = {});
  ~ClockTimer();
  ClockTimer(const ClockTimer&) = delete;
  ClockTimer& operator=(const ClockTimer&) = delete;

  // What firing does.
  void onTimeout(std::function<void()> fired) { fired_ = std::move(fired); }
  void setInterval(int ms) { intervalMs_ = ms; }
  int interval() const { return intervalMs_; }
  void setSingleShot(bool singleShot) { singleShot_ = singleShot; }
  // Starts, or starts again, for the interval (or `ms`, the new interval).
  void start();
  void start(int ms);
  void stop();
  bool isActive() const { return active_; }
  // When it falls due on its clock; meaningful while active.
  Clock::TimePoint due() const { return due_; }
  // Fires now, as the clock moving past its due time does.
  void fire();

 private:
  Clock& clock_;
  std::function<void()> fired_;
  QTimer timer_;
  int intervalMs_ = 0;
  bool singleShot_ = false;
  bool active_ = false;
  Clock::TimePoint due_{};
};

}  // namespace lunor
