// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the encoder makes of a screen that stopped changing: text that moves
// goes coarse, to keep its pace on the link; once it stays, the same picture
// is coded again finer, so that it reads crisp until the next change. The
// encoder's buffer model counts a frame interval per picture, not the time
// the link stood idle, and would hold the pass back: the first repeat opens
// it (coded as usual), the next is the pass, at a quantiser the link can
// carry in a few hundred milliseconds; a link too narrow for a sharp pass at
// once gets finer passes one after the other, each once the last has had
// its time on the link, down to the finest. Any changed picture starts
// over.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace lunor::rtc {

class StillSharpener {
 public:
  // A first pass at kSharpQp brings a terminal's text near 45 dB against
  // the screen, a pass at kFinestQp beyond it.
  static constexpr int kSharpQp = 18;
  static constexpr int kFinestQp = 12;
  // A link this fast carries a sharp pass at once; each halving of it
  // coarsens the first pass by 6 (half the bytes), down to kCoarsestPassQp.
  static constexpr int kFullRateBps = 2'000'000;
  static constexpr int kCoarsestPassQp = 30;
  static constexpr int kPassStep = 6;

  enum class Step {
    Plain,    // as the stream goes
    Prepare,  // as the stream goes, the buffer model opened for a pass
    Sharpen,  // the pass: at qp, the buffer model open
  };
  struct Plan {
    Step step = Step::Plain;
    int qp = 0;
  };

  // A picture comes; repeat: the same as the one before.
  Plan next(bool repeat, bool keyFrame, int64_t nowUs, int bitrateBps) {
    if (!repeat || keyFrame) {
      opened_ = false;
      done_ = false;
      lastQp_ = kNone;
      return {};
    }
    if (done_) return {};  // sharp already: one picture, not a stream
    if (nowUs < busyUntilUs_) {
      // The last pass is still on its way: nothing more until it is; the
      // buffer model stays open (each repeat refills it), so the next pass
      // goes at the first repeat after.
      return {opened_ ? Step::Prepare : Step::Plain, 0};
    }
    if (!opened_) {
      opened_ = true;
      return {Step::Prepare, 0};
    }
    const int qp = lastQp_ == kNone ? firstPassQp(bitrateBps) : std::max(kFinestQp, lastQp_ - kPassStep);
    return {Step::Sharpen, qp};
  }

  // The pass planned at qp came out `bytes` long.
  void sharpened(int qp, size_t bytes, int64_t nowUs, int bitrateBps) {
    done_ = qp <= kFinestQp;
    lastQp_ = qp;
    busyUntilUs_ = nowUs + int64_t(bytes) * 8'000'000 / std::max(bitrateBps, 1);
  }

  static int firstPassQp(int bitrateBps) {
    if (bitrateBps >= kFullRateBps) return kSharpQp;
    const double halvings = std::log2(double(kFullRateBps) / std::max(bitrateBps, 1));
    return std::clamp(kSharpQp + int(std::lround(kPassStep * halvings)), kSharpQp, kCoarsestPassQp);
  }

 private:
  static constexpr int kNone = 99;
  bool opened_ = false;
  bool done_ = false;
  int lastQp_ = kNone;
  int64_t busyUntilUs_ = 0;
};

}  // namespace lunor::rtc
