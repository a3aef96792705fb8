// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/clock.h"

namespace lunor {

Clock& Clock::steady() {
  static Clock clock;
  return clock;
}

ClockTimer::ClockTimer(Clock& clock, std::function<void()> fired) : clock_(clock), fired_(std::move(fired)) {
  timer_.setSingleShot(true);  // each round is started again by fire()
  QObject::connect(&timer_, &QTimer::timeout, [this] { fire(); });
}

ClockTimer::~ClockTimer() { stop(); }

void ClockTimer::start() {
  due_ = clock_.now() + std::chrono::milliseconds(intervalMs_);
  active_ = true;
  timer_.start(intervalMs_);
  clock_.timerStarted(*this);
}

void ClockTimer::start(int ms) {
  intervalMs_ = ms;
  start();
}

void ClockTimer::stop() {
  if (!active_) return;
  active_ = false;
  timer_.stop();
  clock_.timerStopped(*this);
}

void ClockTimer::fire() {
  // Stopped (or started again for the next round) before the work runs,
  // which may start it once more.
  if (singleShot_) {
    stop();
  } else {
    start();
  }
  if (fired_) fired_();
}

}  // namespace lunor
