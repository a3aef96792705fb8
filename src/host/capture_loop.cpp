// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/capture_loop.h"

#include <algorithm>

#include "host/capture_pacer.h"

namespace lunor {

namespace {

using std::chrono::milliseconds;

// A drawing is taken as finished once the screen has not changed for
// kSettle, or after kSettleAtMost whatever it does.
constexpr milliseconds kSettle{1};
constexpr milliseconds kSettleAtMost{3};

}  // namespace

bool runCaptureLoop(CaptureLoopPort& port, bool watchesChanges) {
  CapturePacer pacer(port.frameRate());
  StillRepeats still;
  bool sentOnce = false;
  CaptureLoopPort::TimePoint firstChange{};  // of the changes not read yet
  while (port.running()) {
    if (watchesChanges) {
      pacer.setFrameRate(port.frameRate());
      auto now = port.now();
      if (!pacer.due(now)) {
        // Short waits: a stop is noticed within one.
        const auto left = std::chrono::duration_cast<milliseconds>(pacer.nextGrab() - now);
        if (port.waitForChange(std::clamp(left, milliseconds(1), milliseconds(20)))) {
          if (!pacer.dirty()) firstChange = port.now();
          pacer.changed();
        }
        continue;
      }
      if (pacer.dirty() && now - firstChange < kSettle) {
        // A change just now after a quiet spell is most often the first
        // request of a drawing (a glyph, a menu): let the drawing finish,
        // or the picture shows half of it and the rest waits a whole frame
        // interval for the next read.
        const auto until = now + kSettleAtMost;
        while (port.running() && port.now() < until && port.waitForChange(kSettle)) {
        }
        now = port.now();
      }
      pacer.grabbed(now);
    }
    const CaptureLoopPort::Read read = port.read();
    if (read == CaptureLoopPort::Read::Failed) return false;
    const auto now = port.now();
    const bool unchanged = read == CaptureLoopPort::Read::Unchanged;
    const bool changed = read == CaptureLoopPort::Read::Changed || (unchanged && !sentOnce);
    if (changed || (unchanged && still.due(now))) {
      port.send();
      sentOnce = true;
      if (changed) still.changed(now);
      else still.repeated(now, pacer.interval(), port.wantsRepeats());
      pacer.setStillDue(still.next());
    } else if (!sentOnce) {
      pacer.setStillDue(now + StillRepeats::kRefresh);  // nothing to show yet: look again later
    }
    if (!watchesChanges) port.waitForTick();
  }
  return true;
}

}  // namespace lunor
