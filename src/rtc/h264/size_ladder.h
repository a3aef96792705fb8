// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The size the encoder codes the screen at: the source's own, 3/4 of it or
// half of it. Screen text suffers from being made smaller (scaled back up on
// the viewer's side, a terminal's text reads at 24 dB at best at 3/4), and
// even more from fewer pictures (a scroll twice as far per picture defeats
// the motion search: at an equal rate, half the pictures came out 15 dB
// worse): the size is given up only when the link cannot carry the picture
// at all, the encoder at its coarsest quantiser and still over the rate
// (lunor-bench-encoder --sizes measured the 1080p terminal: kept at 700
// kbit/s, SSIM 0.97; at 400, QP 50 and over the rate, where 3/4 holds it
// at QP 39 and SSIM 0.90). It comes back once the link has room for the
// larger size, or once the screen has stood still a moment (a still picture
// is sharpened after it, and text needs its own size to read), and a size
// that keeps failing is tried again less often: each change costs a key
// frame.

#include <algorithm>
#include <cstdint>
#include <utility>

namespace lunor::rtc {

class SizeLadder {
 public:
  static constexpr int kSteps = 3;  // 1, 3/4, 1/2
  // Changed pictures this coarse, on average over a second, mean the size
  // is more than the link carries...
  static constexpr int kCoarseQp = 46;
  static constexpr int64_t kWindowUs = 1'000'000;
  static constexpr int kWindowPictures = 8;
  // ...when the link gives less than this many bits a second per pixel
  // (1080p: 725 kbit/s; a busy screen on a faster link keeps its size).
  static constexpr double kBitsPerPixel = 0.35;
  // Back up with this headroom over the larger size's need, held this long
  // (an estimate wanders on a lossy link)...
  static constexpr double kUpHeadroom = 1.25;
  static constexpr int64_t kUpHeldUs = 2'000'000;
  // ...after this long at the smaller size, doubled each time a larger size
  // had to be left again soon after it came back, up to kLongestHoldUs.
  static constexpr int64_t kHoldUs = 4'000'000;
  static constexpr int64_t kLongestHoldUs = 64'000'000;
  static constexpr int64_t kSoonUs = 10'000'000;
  static constexpr int64_t kSettledUs = 30'000'000;
  // The link's estimate starts low and climbs in the first seconds: no
  // smaller size before it had this long.
  static constexpr int64_t kRampUs = 3'000'000;
  // A screen still for this long goes back to its own size at once; after
  // a stop whose size had to be left again soon, the next stops wait from
  // kStillHoldUs on, doubled each time (a screen that stops and starts
  // every other second would make two key frames each time).
  static constexpr int64_t kStillUs = 150'000;
  static constexpr int64_t kStillHoldUs = 2'000'000;

  // width × height at step: even sides, at least 2 pixels.
  static std::pair<int, int> scaled(int width, int height, int step) {
    static constexpr int kNum[kSteps] = {4, 3, 2}, kDen = 4;
    const int s = std::clamp(step, 0, kSteps - 1);
    if (s == 0) return {width, height};
    const auto side = [&](int v) { return std::max(2, (v * kNum[s] + kDen) / (2 * kDen) * 2); };
    return {side(width), side(height)};
  }

  int step() const { return step_; }

  // A changed picture (not a key frame, not a still picture's pass) was
  // coded at qp.
  void coded(int qp, int64_t nowUs) {
    if (windowCount_ == 0) windowStartUs_ = nowUs;
    windowQp_ += qp;
    ++windowCount_;
    lastCodedUs_ = nowUs;
  }

  // The step for the next picture of a width × height source on a link of
  // bitrateBps, the screen still for stillUs (0: the picture changed);
  // changes it when it is time.
  int next(int width, int height, int bitrateBps, int64_t nowUs, int64_t stillUs = 0) {
    if (lastChangeUs_ < 0) lastChangeUs_ = startUs_ = nowUs;
    // A size that came back and stayed forgets the failures before it.
    if (lastChange_ != Change::Down && nowUs - lastChangeUs_ >= kSettledUs) {
      hold_ = kHoldUs;
      stillHold_ = 0;
    }
    const auto need = [&](int step) {
      const auto [w, h] = scaled(width, height, step);
      return kBitsPerPixel * double(w) * double(h);
    };
    // Judged on a changed picture: a screen that has just stopped is about
    // to go back to its own size.
    const bool windowFull =
        stillUs == 0 && windowCount_ >= kWindowPictures && lastCodedUs_ - windowStartUs_ >= kWindowUs;
    if (windowFull) {
      const bool coarse = windowQp_ >= int64_t(kCoarseQp) * windowCount_;
      windowQp_ = windowCount_ = 0;
      if (coarse && step_ + 1 < kSteps && bitrateBps < need(step_) && nowUs - startUs_ >= kRampUs) {
        if (nowUs - lastChangeUs_ < kSoonUs && lastChange_ != Change::Down) {
          if (lastChange_ == Change::UpStill) {
            stillHold_ = std::clamp(stillHold_ * 2, kStillHoldUs, kLongestHoldUs);
          } else {
            hold_ = std::min(hold_ * 2, kLongestHoldUs);
          }
        }
        change(step_ + 1, nowUs, Change::Down);
        return step_;
      }
    }
    const bool room = step_ > 0 && bitrateBps >= kUpHeadroom * need(step_ - 1);
    if (!room) roomSinceUs_ = -1;
    if (room && roomSinceUs_ < 0) roomSinceUs_ = nowUs;
    if (step_ > 0 && stillUs >= kStillUs && nowUs - lastChangeUs_ >= stillHold_) {
      change(0, nowUs, Change::UpStill);
    } else if (room && nowUs - roomSinceUs_ >= kUpHeldUs && nowUs - lastChangeUs_ >= hold_) {
      change(step_ - 1, nowUs, Change::Up);
    }
    return step_;
  }

 private:
  // How the size last changed: down, up with the link, up as the screen stopped.
  enum class Change { Down, Up, UpStill };

  void change(int step, int64_t nowUs, Change how) {
    step_ = step;
    lastChange_ = how;
    roomSinceUs_ = -1;
    lastChangeUs_ = nowUs;
    windowQp_ = windowCount_ = 0;
  }

  int step_ = 0;
  int64_t windowStartUs_ = 0;
  int64_t lastCodedUs_ = 0;
  int64_t windowQp_ = 0;
  int64_t windowCount_ = 0;
  int64_t lastChangeUs_ = -1;
  int64_t startUs_ = 0;
  int64_t roomSinceUs_ = -1;  // the link has had room for the larger size since
  int64_t hold_ = kHoldUs;
  Change lastChange_ = Change::Down;  // none yet counts as down
  int64_t stillHold_ = 0;
};

}  // namespace lunor::rtc
