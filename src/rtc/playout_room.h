// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How long a receiver may hold each picture before showing it (the
// playout-delay header extension, sent with the picture).
//
// On a clean link, or while the viewer drives (a key, the pointer): none,
// each picture is shown as it comes. On a link that loses packets, a picture
// held for a retransmission makes those after it arrive in a bunch, and a
// browser shows only the last of a bunch and counts freezes: while the
// viewer only watches, some room lets it show them all (Chromium, 5 % loss,
// 40 ± 15 ms, 20 s: 16-18 pictures shown a second and 6-11 freezes without
// room; with 100 to 200 ms, 17-24 and 0-11 freezes (up to 2.8 s); with 200
// to 400 ms, 23-25 and 0-4 freezes (0.9 s at most), for 170 ms more
// latency, which the viewer's first input takes back).
//
// The loss is the receivers' reports averaged over about kSmoothingUs: a
// link counts as lossy from kLossyOn and clean again under kLossyOff, so
// that the odd spike of a link that reorders or drops a short burst (1 %
// loss on average, reports of 7 or 12 % for a moment) gives no room, which
// would cost it 50 ms. Driving lasts until kDrivingUs after the last input.
// A browser follows a change of the minimum within a stream; of the maximum
// alone it does not, so the room is in the minimum.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>

#include "rtc/steady_clock.h"

namespace lunor::rtc {

// When this process's viewer last drove it; 0: never. Any thread.
inline std::atomic<int64_t> lastViewerInputUs{0};
inline void noteViewerInput() { lastViewerInputUs.store(steadyNowUs(), std::memory_order_relaxed); }

class PlayoutRoom {
 public:
  static constexpr double kLossyOn = 0.03;
  static constexpr double kLossyOff = 0.01;
  static constexpr int64_t kSmoothingUs = 2'000'000;
  static constexpr int64_t kDrivingUs = 2'000'000;
  struct Delay {
    int minMs = 0;
    int maxMs = 0;
    bool operator==(const Delay&) const = default;
  };
  static constexpr Delay kNone{0, 0};
  static constexpr Delay kRoom{200, 400};

  // The receivers' fraction of packets lost, as the sender last heard it;
  // each report weighs for the time since the one before.
  void lossReported(float fraction, int64_t nowUs) {
    if (lastReportUs_ && nowUs > *lastReportUs_) {
      const double weight = std::min(1.0, double(nowUs - *lastReportUs_) / double(kSmoothingUs));
      meanLoss_ += (std::clamp(double(fraction), 0.0, 1.0) - meanLoss_) * weight;
    }
    lastReportUs_ = nowUs;
    if (meanLoss_ >= kLossyOn) lossy_ = true;
    if (meanLoss_ < kLossyOff) lossy_ = false;
  }
  // For a picture sent now, the viewer's last input at inputUs (0: none).
  Delay delay(int64_t nowUs, int64_t inputUs) const {
    const bool driving = inputUs > 0 && nowUs - inputUs < kDrivingUs;
    return lossy_ && !driving ? kRoom : kNone;
  }

 private:
  std::optional<int64_t> lastReportUs_;
  double meanLoss_ = 0;
  bool lossy_ = false;
};

}  // namespace lunor::rtc
