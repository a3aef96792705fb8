// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Puts right the arrival times the library reads from transport feedback on
// a link that reorders packets.
//
// A receiver reports each packet's arrival as a delta from the packet
// before it in sequence order. When a packet arrives after the feedback
// that covered it has gone, the receiver's next feedback starts again from
// that packet and reports the ones after it a second time. The library
// (this version) looks each reported packet up in its send history; a
// packet reported before is no longer there, and it skips the packet's
// delta with it, so every later packet of that feedback is off by the
// deltas skipped. Measured on a link that reorders (40 ± 15 ms, each packet
// its own delay): one packet in ten arrived up to 130 ms later than it did
// on the wire, the delay-based estimate read that as a queue, and it fell
// to a fifth of what the link carried.
//
// The skipped packets are those reported received before. This keeps their
// arrival times, and rebuilds each later packet's from the last packet
// before it that did arrive: the one the library kept, or one it skipped.
// A feedback whose first packets were skipped keeps its times as they are
// (what they are off by is not known).

#include <cstdint>
#include <map>
#include <optional>

namespace lunor::rtc {

class FeedbackRepair {
 public:
  // Arrivals kept for packets this far back in sequence (a reordering link
  // reports a packet again within a few hundred).
  static constexpr int64_t kRememberedPackets = 4096;

  // Call before each feedback's packets.
  void beginFeedback() { last_.reset(); }

  // The next packet of the feedback, in its order (sequence order), as the
  // library read it: returns the arrival to believe. Packets reported lost
  // are not passed.
  int64_t arrival(int64_t sequence, int64_t reportedUs) {
    int64_t trueUs = reportedUs;
    if (last_) {
      int64_t before = last_->trueUs;
      // The last packet between the two that arrived before: skipped.
      auto it = arrived_.lower_bound(sequence);
      if (it != arrived_.begin() && (--it)->first > last_->sequence) before = it->second;
      trueUs = before + (reportedUs - last_->reportedUs);
    }
    last_ = Last{sequence, reportedUs, trueUs};
    arrived_[sequence] = trueUs;
    while (!arrived_.empty() && arrived_.begin()->first < sequence - kRememberedPackets) {
      arrived_.erase(arrived_.begin());
    }
    return trueUs;
  }

 private:
  struct Last {
    int64_t sequence;
    int64_t reportedUs;
    int64_t trueUs;
  };
  std::optional<Last> last_;
  std::map<int64_t, int64_t> arrived_;  // sequence → arrival, as believed
};

}  // namespace lunor::rtc
