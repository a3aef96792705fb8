// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the delay-based bandwidth estimate is told of a link that gives each
// packet its own delay (Wi-Fi retrying frames, bonded or multi-path links).
//
// The estimate reads a rise in the packets' one-way delay as a queue
// building up. On such a link packets overtake one another, and the delay
// of a burst (a key frame, a sharpening pass) is the top of the spread
// where a lone packet's is anywhere in it: every large picture reads as
// congestion. A queue raises every packet's delay; a spread does not raise
// its floor. Once a link reorders, each packet is reported as arriving at
// its send time plus the lowest delay among the last packets sent
// (kWindowPackets, within kWindowUs: long enough that a tenth of the packets
// overtaking the rest keep the floor where they are; 16 packets within
// 250 ms made it jump, and the estimate fell), plus whatever its own delay
// tops the highest of theirs by (of those sent more than kBurstUs before
// it, so that a burst is measured against the spread before it). A queue
// that grows slowly shows as the floor rises, up to that window late (the
// congestion window bounds what is in flight meanwhile); one that grows
// fast, as a probe's burst into a narrow link does, shows at once, beyond
// the spread.
//
// A link counts as reordering after kReorderEvents packets out of their
// send order within kReorderSpanUs (a duplicated packet, or one feedback
// read askew, is one event), and as in order again kReorderMemoryUs after
// the last. A link that keeps its packets in order is left as it is.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <optional>

namespace lunor::rtc {

class DelayFloor {
 public:
  static constexpr size_t kWindowPackets = 64;
  static constexpr int64_t kWindowUs = 500'000;
  static constexpr int64_t kBurstUs = 50'000;
  // Arrivals this much out of their send order count as reordering (the
  // feedback's own resolution is 250 us, the library's reading 1 ms).
  static constexpr int64_t kReorderToleranceUs = 2'000;
  static constexpr int kReorderEvents = 4;
  static constexpr int64_t kReorderSpanUs = 1'000'000;
  static constexpr int64_t kReorderMemoryUs = 10'000'000;

  // A packet sent at sendUs that arrived at arrivalUs (each on its own
  // clock; only differences count), in the feedback's order. Returns the
  // arrival to report.
  int64_t arrival(int64_t sendUs, int64_t arrivalUs) {
    if (newest_ && ((sendUs > newest_->sendUs && arrivalUs + kReorderToleranceUs < newest_->arrivalUs) ||
                    (sendUs < newest_->sendUs && arrivalUs > newest_->arrivalUs + kReorderToleranceUs))) {
      reorders_.push_back(arrivalUs);
      while (reorders_.size() > size_t(kReorderEvents)) reorders_.pop_front();
      if (lastReorderUs_ ||
          (reorders_.size() == size_t(kReorderEvents) && reorders_.back() - reorders_.front() <= kReorderSpanUs)) {
        lastReorderUs_ = arrivalUs;
      }
    }
    if (!newest_ || sendUs >= newest_->sendUs) newest_ = Arrival{sendUs, arrivalUs};

    if (lastReorderUs_ && arrivalUs - *lastReorderUs_ >= kReorderMemoryUs) lastReorderUs_.reset();
    const int64_t delay = arrivalUs - sendUs;
    // Of the packets sent before in the window: the lowest delay, and the
    // highest of those sent before this one's burst.
    // (Looked for only while the link reorders.)
    std::optional<int64_t> floor, ceiling;
    for (size_t i = 0; lastReorderUs_ && i < recent_.size(); ++i) {
      const Delay& d = recent_[i];
      if (d.sendUs > sendUs || sendUs - d.sendUs > kWindowUs) continue;
      floor = std::min(floor.value_or(d.delayUs), d.delayUs);
      if (sendUs - d.sendUs > kBurstUs) ceiling = std::max(ceiling.value_or(d.delayUs), d.delayUs);
    }
    recent_.push_back(Delay{sendUs, delay});
    while (recent_.size() > kWindowPackets) recent_.pop_front();
    if (!floor) return arrivalUs;
    return sendUs + std::min(*floor, delay) + std::max<int64_t>(0, delay - ceiling.value_or(delay));
  }

 private:
  struct Arrival {
    int64_t sendUs;
    int64_t arrivalUs;
  };
  struct Delay {
    int64_t sendUs;
    int64_t delayUs;
  };
  std::optional<Arrival> newest_;  // of the packets that arrived, the last sent
  std::deque<Delay> recent_;
  std::deque<int64_t> reorders_;          // when the last few came
  std::optional<int64_t> lastReorderUs_;  // while the link counts as reordering
};

}  // namespace lunor::rtc
