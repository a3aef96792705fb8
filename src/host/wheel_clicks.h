// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Turns the client's scroll deltas into whole wheel clicks, for platforms
// that can only post wheel clicks (XTEST has no smooth scrolling).
//
// Units: the deltas are pixels as the client's platform reports them (a
// macOS client sends its scrollingDeltaX/Y, a Linux client converts its
// wheel notches to the same scale); one wheel click is taken as
// kPixelsPerClick of them. What does not make a whole click is kept for the
// next message, so a trackpad's few pixels at a time, or a fine wheel's small
// steps, add up instead of being lost. Turning back the other way starts
// afresh.

#include <algorithm>
#include <cmath>

namespace lunor {

class WheelClicks {
 public:
  static constexpr double kPixelsPerClick = 40.0;
  static constexpr int kMaxClicksPerMessage = 50;

  // Whole clicks for this delta, signed like it; non-finite deltas count as 0.
  int add(double pixels) {
    if (!std::isfinite(pixels) || pixels == 0) return 0;
    if ((pixels > 0) != (remainder_ > 0)) remainder_ = 0;
    remainder_ += pixels;
    const double whole = std::trunc(remainder_ / kPixelsPerClick);
    remainder_ -= whole * kPixelsPerClick;
    if (std::abs(whole) > kMaxClicksPerMessage) {
      remainder_ = 0;  // a runaway delta does not leave a debt behind
      return whole > 0 ? kMaxClicksPerMessage : -kMaxClicksPerMessage;
    }
    return static_cast<int>(whole);
  }

 private:
  double remainder_ = 0;  // pixels short of a whole click, signed
};

}  // namespace lunor
