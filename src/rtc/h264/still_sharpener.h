// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the encoder makes of a screen that stopped changing: text that moves
// goes coarse, to keep its pace on the link; once it stays, the same picture
// is coded again finer, so that it reads crisp until the next change. The
// encoder's buffer model counts a frame interval per picture, not the time
// the link stood idle, and would hold the pass back: the first repeat opens
// it (coded as usual), the next is the pass, at a quantiser the link can
// carry in a few hundred milliseconds; finer passes follow, down to the
// finest. A pass goes once what went before it (a key frame, the last band)
// has had its time on the link. On a fast link a pass is the whole picture;
// on a narrow one it goes a band of rows at a time, each about kBandMs of
// the link, the repeats in between coded as the viewer already has the
// picture (next to nothing). The pacer sends a picture at 2.5 times the
// link's rate, so more than half of it waits in the narrowest hop's queue (a
// phone's holds 200 ms): a whole 1080p pass at 1 Mbit/s lost its end there
// and the estimate fell to a seventh. Any changed picture starts over.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "rtc/h264/h264_engine.h"

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

  // A band's share of the link (the repeats come at the frame rate while a
  // pass goes); bands are whole rows of macroblocks (16 pixels high).
  static constexpr int64_t kBandMs = 80;
  static constexpr int kFirstBandRows = 2;  // on a narrow link, before any size is known
  static constexpr int kAllRows = H264Picture::kAllRows;

  enum class Step {
    Plain,    // as the stream goes
    Prepare,  // as the stream goes, the buffer model opened for a pass
    Sharpen,  // the pass: at qp, the buffer model open
  };
  struct Plan {
    Step step = Step::Plain;
    int qp = 0;
    // The macroblock rows the pass refines, [from, to) from the top.
    int from = 0;
    int to = kAllRows;
  };

  // A picture `height` pixels high comes; repeat: the same as the one
  // before.
  Plan next(bool repeat, bool keyFrame, int64_t nowUs, int bitrateBps, int height) {
    rows_ = std::max(1, H264Picture::macroblockRows(height));
    if (!repeat || keyFrame) {
      opened_ = false;
      done_ = false;
      qp_ = kNone;
      from_ = 0;
      passBytes_ = wholeBytes_ = 0;
      return {};
    }
    if (done_) return {};  // sharp already: one picture, not a stream
    if (nowUs < busyUntilUs_) {
      // What went before is still on its way: nothing more until it is; the
      // buffer model stays open (each repeat refills it), so the next band
      // goes at the first repeat after. Once passes have begun, a repeat is
      // the picture as the viewer has it (an empty band), which costs
      // nothing, rather than the screen coded anew at the stream's quality.
      if (qp_ != kNone) return {Step::Prepare, 0, from_, from_};
      return {opened_ ? Step::Prepare : Step::Plain};
    }
    if (!opened_) {
      opened_ = true;
      return {Step::Prepare};
    }
    if (qp_ == kNone) qp_ = firstPassQp(bitrateBps);
    // The first band of a finer pass: as many rows as the last pass over
    // the whole picture, at twice its bytes (6 steps of quantiser finer),
    // says fit; before any, the whole picture on a fast link, two rows on a
    // narrow one. The next bands take as many rows as the last one's size
    // says fit, at most twice as many as it (a band of rows already sharp
    // costs next to nothing, the text below it may not).
    const double bandBytes = double(bitrateBps) * kBandMs / 8000.0;
    if (from_ == 0 && wholeBytes_ > 0) {
      units_ = std::clamp(int(bandBytes * rows_ / (2 * wholeBytes_)), 1, rows_);
    } else if (from_ == 0) {
      units_ = bitrateBps >= kFullRateBps ? rows_ : kFirstBandRows;
    } else {
      units_ = std::clamp(int(bandBytes / std::max(bytesPerRow_, 1.0)), 1, 2 * units_);
    }
    const int to = from_ + units_;
    return {Step::Sharpen, qp_, from_, to >= rows_ ? kAllRows : to};
  }

  // A pass is under way: repeats at the frame rate carry its bands (the
  // capture sends a still screen seldom otherwise).
  bool wantsRepeats() const { return opened_ && !done_; }

  // What the plan asks of the picture to code.
  static void apply(const Plan& plan, H264Picture& picture) {
    picture.bufferOpen = plan.step != Step::Plain;
    picture.refineQp = plan.step == Step::Sharpen ? plan.qp : 0;
    picture.refineFrom = plan.from;
    picture.refineTo = plan.to;
  }

  // The picture coded after plan came out `bytes` long.
  void coded(const Plan& plan, bool keyFrame, size_t bytes, int64_t nowUs, int bitrateBps) {
    if (!keyFrame && plan.step != Step::Sharpen) return;
    busyUntilUs_ = std::max(busyUntilUs_, nowUs) + int64_t(bytes) * 8'000'000 / std::max(bitrateBps, 1);
    if (plan.step != Step::Sharpen) return;
    bytesPerRow_ = double(bytes) / std::max(1, std::min(plan.to, rows_) - plan.from);
    passBytes_ += double(bytes);
    from_ = plan.to;
    if (from_ < rows_) return;
    from_ = 0;
    wholeBytes_ = passBytes_;
    passBytes_ = 0;
    // On a narrow link a pass takes seconds: sharp is enough there.
    done_ = plan.qp <= (bitrateBps >= kFullRateBps ? kFinestQp : kSharpQp);
    qp_ = std::max(kFinestQp, plan.qp - kPassStep);
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
  int qp_ = kNone;  // of the passes going
  int from_ = 0;    // the next band's first row
  int units_ = 0;   // the last band's height as planned
  int rows_ = 1;    // of the picture
  double bytesPerRow_ = 0;   // of the last band
  double passBytes_ = 0;     // of the bands so far at this quantiser
  double wholeBytes_ = 0;    // of the last pass over the whole picture
  int64_t busyUntilUs_ = 0;  // what was sent has had its time on the link
};

}  // namespace lunor::rtc
