// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The thread a capturer delivers frames on, and its pace: a loop that runs
// until stopped, no faster than the frame rate, which may change meanwhile.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "host/screen_capturer.h"

namespace lunor {

class CaptureThread {
 public:
  static constexpr int kMaxFps = 240;

  ~CaptureThread() { stop(); }

  // Stops any running loop, then runs `body` on a new thread. The body calls
  // running() and waitForNextFrame() to keep time.
  void start(int fps, std::function<void()> body) {
    stop();
    fps_ = std::clamp(fps, 1, kMaxFps);
    running_ = true;
    next_ = std::chrono::steady_clock::now();
    thread_ = std::thread(std::move(body));
  }
  // Returns once the loop has ended.
  void stop() {
    running_ = false;
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  }
  bool running() const { return running_.load(); }
  // Ends the loop from inside it.
  void finish() { running_ = false; }
  int fps() const { return fps_.load(); }

  // Any thread; without a running loop the change fails with "Stream non démarré".
  void setFrameRate(int fps, const CaptureDone& done) {
    if (!running_) {
      if (done) done(CaptureError::streamNotStarted());
      return;
    }
    fps_ = std::clamp(fps, 1, kMaxFps);
    if (done) done(std::nullopt);
  }

  // On the loop's thread: sleeps until the next frame is due (or a stop),
  // never trying to catch up on missed frames in a burst.
  void waitForNextFrame() {
    next_ += std::chrono::microseconds(1'000'000 / std::max(1, fps_.load()));
    const auto now = std::chrono::steady_clock::now();
    if (next_ < now) next_ = now;
    while (running_ && std::chrono::steady_clock::now() < next_) {
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
          next_ - std::chrono::steady_clock::now(), std::chrono::milliseconds(5)));
    }
  }

 private:
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<int> fps_{30};
  std::chrono::steady_clock::time_point next_;
};

}  // namespace lunor
