#include "host/capture_loop.h"

#include <algorithm>

#include "host/capture_pacer.h"

namespace lunor {

bool runCaptureLoop(CaptureLoopPort& port, bool watchesChanges) {
  using std::chrono::milliseconds;
  CapturePacer pacer(port.frameRate());
  bool sentOnce = false;
  CaptureLoopPort::TimePoint lastSent{};
  while (port.running()) {
    if (watchesChanges) {
      pacer.setFrameRate(port.frameRate());
      const auto now = port.now();
      if (!pacer.due(now)) {
        // Short waits: a stop is noticed within one.
        const auto left = std::chrono::duration_cast<milliseconds>(pacer.nextGrab() - now);
        if (port.waitForChange(std::clamp(left, milliseconds(1), milliseconds(20)))) pacer.changed();
        continue;
      }
      pacer.grabbed(now);
    }
    const CaptureLoopPort::Read read = port.read();
    if (read == CaptureLoopPort::Read::Failed) return false;
    const auto now = port.now();
    const bool refresh =
        read == CaptureLoopPort::Read::Unchanged && (!sentOnce || now - lastSent >= CapturePacer::kStillRefresh);
    if (read == CaptureLoopPort::Read::Changed || refresh) {
      port.send();
      sentOnce = true;
      lastSent = now;
    }
    if (!watchesChanges) port.waitForTick();
  }
  return true;
}

}  // namespace lunor
