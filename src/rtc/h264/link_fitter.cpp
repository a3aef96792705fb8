#include "rtc/h264/link_fitter.h"

#include <algorithm>
#include <cmath>

namespace lunor::rtc {

namespace {

constexpr size_t kScaleCount = sizeof(LinkFitter::kScales) / sizeof(LinkFitter::kScales[0]);

int even(double v) { return std::max(2, int(v / 2) * 2); }

}  // namespace

LinkFitter::LinkFitter(int width, int height, double fps)
    : width_(width), height_(height), profileFps_(std::max(1.0, fps)), fps_(profileFps_) {}

void LinkFitter::setTarget(int bitrateBps, double fps) {
  targetBps_ = std::max(0, bitrateBps);
  if (fps > 0) profileFps_ = fps;
}

double LinkFitter::allowedFps(size_t i) const {
  if (bitsPerPixel_ <= 0 || targetBps_ <= 0) return profileFps_;
  const double pixels = double(width_) * height_ * kScales[i] * kScales[i];
  return std::min(profileFps_, targetBps_ / (bitsPerPixel_ * pixels));
}

LinkFitter::Decision LinkFitter::next(int64_t timestampUs, bool keyFrame) {
  // The largest size at which the link allows kMinFps, or the smallest.
  size_t wanted = kScaleCount - 1;
  for (size_t i = 0; i < kScaleCount; ++i) {
    if (allowedFps(i) >= kMinFps) {
      wanted = i;
      break;
    }
  }
  if (wanted > scaleIndex_) {
    scaleIndex_ = wanted;  // smaller at once: the link is short now
    scaledAtUs_ = timestampUs;
  } else if (wanted < scaleIndex_ && timestampUs - scaledAtUs_ >= kHoldUs &&
             allowedFps(scaleIndex_ - 1) >= kMinFps * kHeadroom) {
    --scaleIndex_;  // larger one step at a time, with room to spare
    scaledAtUs_ = timestampUs;
  }
  fps_ = std::max(1.0, allowedFps(scaleIndex_));

  Decision d;
  d.width = scaleIndex_ == 0 ? width_ : even(width_ * kScales[scaleIndex_]);
  d.height = scaleIndex_ == 0 ? height_ : even(height_ * kScales[scaleIndex_]);
  // A credit of pictures that grows at the allowed rate, one and a half at
  // most (no burst after a still spell): pictures come on the capture's
  // clock, and the allowed rate is kept on average.
  if (lastUs_ >= 0) credit_ = std::min(1.5, credit_ + fps_ * double(std::max<int64_t>(0, timestampUs - lastUs_)) / 1e6);
  lastUs_ = timestampUs;
  d.encode = keyFrame || fps_ >= profileFps_ || credit_ >= 1 - 1e-9;
  if (d.encode) credit_ = std::max(0.0, credit_ - 1);
  return d;
}

void LinkFitter::encoded(size_t bytes, int qp, int width, int height, bool keyFrame) {
  if (keyFrame || bytes == 0 || width <= 0 || height <= 0) return;
  // At another quantiser than a sharp picture's, what it would have cost.
  const double atSharp = double(bytes) * 8 * std::pow(2.0, double(std::clamp(qp, 0, 51) - kSharpQp) / 6);
  const double bpp = atSharp / (double(width) * height);
  bitsPerPixel_ = bitsPerPixel_ <= 0 ? bpp : bitsPerPixel_ * 0.8 + bpp * 0.2;
}

}  // namespace lunor::rtc
