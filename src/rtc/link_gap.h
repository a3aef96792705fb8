// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Tells a link that has stopped answering from one that is only slow.
//
// A sender hears from its receiver through transport feedback, which the
// receiver sends at most 250 ms after a packet reached it. What was sent
// and stayed unanswered for a round trip plus that interval (and a margin)
// went nowhere: the link is in a gap. Nothing sent (a still screen) is not
// a gap, nor is silence before the receiver has ever answered (a session
// being set up); any feedback ends one. A sender that pauses during a gap
// must still be heard to learn that it ended: should nothing come back for
// kRetryAfterUs, the gap ends anyway (Change::Retry) and sending resumes,
// to pause again if the link is still gone.

#include <algorithm>
#include <cstdint>
#include <optional>

namespace lunor::rtc {

class LinkGapDetector {
 public:
  // The receiver's longest feedback interval and a margin.
  static constexpr int64_t kFeedbackSlackUs = 300'000;
  // Round trips beyond this are not believed (a stale or absurd figure must
  // not keep a dead link from being noticed for long).
  static constexpr int64_t kMaxRoundTripUs = 1'000'000;
  static constexpr int64_t kRetryAfterUs = 3'000'000;

  enum class Change { None, Started, Ended, Retry };

  void onSent(int64_t nowUs) {
    if (!firstUnanswered_) firstUnanswered_ = nowUs;
  }

  // Something from the receiver about what it got.
  Change onFeedback(int64_t nowUs) {
    answered_ = true;
    firstUnanswered_.reset();
    if (!gapSinceUs_) return Change::None;
    lastGapUs_ = nowUs - *gapSinceUs_;
    gapSinceUs_.reset();
    return Change::Ended;
  }

  void onRoundTrip(int64_t rttUs) {
    if (rttUs > 0) roundTripUs_ = std::min(rttUs, kMaxRoundTripUs);
  }

  // Called regularly; reports the start of a gap once.
  Change onTick(int64_t nowUs) {
    if (gapSinceUs_) {
      if (nowUs - gapNoticedUs_ < kRetryAfterUs) return Change::None;
      gapSinceUs_.reset();
      firstUnanswered_.reset();
      return Change::Retry;
    }
    if (!answered_ || !firstUnanswered_) return Change::None;
    if (nowUs - *firstUnanswered_ <= roundTripUs_ + kFeedbackSlackUs) return Change::None;
    gapSinceUs_ = *firstUnanswered_;
    gapNoticedUs_ = nowUs;
    return Change::Started;
  }

  bool inGap() const { return gapSinceUs_.has_value(); }
  int64_t roundTripUs() const { return roundTripUs_; }
  // From the first unanswered packet to the feedback that ended the last gap.
  int64_t lastGapUs() const { return lastGapUs_; }

 private:
  std::optional<int64_t> firstUnanswered_;
  std::optional<int64_t> gapSinceUs_;
  int64_t gapNoticedUs_ = 0;
  bool answered_ = false;
  int64_t roundTripUs_ = 100'000;  // until the link says otherwise
  int64_t lastGapUs_ = 0;
};

}  // namespace lunor::rtc
