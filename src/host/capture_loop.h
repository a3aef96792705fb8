// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The loop of a capture thread, apart from what it reads and where the
// frames go: with a way to learn of screen changes, the screen is read when
// it changes (paced by CapturePacer) and a still screen as StillRepeats
// says; without one, on the frame rate's clock. A read that found the
// screen unchanged is sent on only as the still screen's repeat.

#include <chrono>

namespace lunor {

class CaptureLoopPort {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  enum class Read { Changed, Unchanged, Nothing, Failed };

  virtual ~CaptureLoopPort() = default;
  virtual bool running() = 0;
  virtual int frameRate() = 0;
  virtual TimePoint now() = 0;
  // Waits up to `timeout` for the screen to change; true when it did (or
  // had, unseen, before the call).
  virtual bool waitForChange(std::chrono::milliseconds timeout) = 0;
  // Waits for the frame rate's next tick.
  virtual void waitForTick() = 0;
  virtual Read read() = 0;
  // Hands on the frame the last read made.
  virtual void send() = 0;
  // Whether the encoder would make use of the still screen's repeats at the
  // frame rate (it is sharpening the picture a part at a time).
  virtual bool wantsRepeats() { return false; }
};

// Runs until the port stops running (true) or a read fails (false).
bool runCaptureLoop(CaptureLoopPort& port, bool watchesChanges);

}  // namespace lunor
