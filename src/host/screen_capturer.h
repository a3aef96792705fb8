#pragma once

// Captures one display into the session's video source. The capture itself
// arrives with the Linux host work; the session spine only stops it.

namespace lunor {

class ScreenCapturer {
 public:
  virtual ~ScreenCapturer() = default;
  // Stops delivering frames; returns once no frame is in flight. Idempotent.
  virtual void stop() = 0;
};

}  // namespace lunor
