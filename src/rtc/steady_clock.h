// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The clock of the capturers' timestamps and of the sender's own timing.

#include <chrono>
#include <cstdint>

namespace lunor::rtc {

// Microseconds on the steady clock.
inline int64_t steadyNowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace lunor::rtc
