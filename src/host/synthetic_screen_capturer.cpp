// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/synthetic_screen_capturer.h"

#include <chrono>
#include <cstring>

#include <QTimer>

namespace lunor {
namespace {

constexpr int kStampBits = 32;

// Blocks are 1/64 of the width, so the stamp spans the left half at any scale.
int blockSize(int width) { return std::max(2, width / 64); }

void fill(std::vector<uint8_t>& pixels, int stride, int x0, int y0, int w, int h, uint32_t bgra) {
  for (int y = y0; y < y0 + h; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(pixels.data() + static_cast<size_t>(y) * stride);
    for (int x = x0; x < x0 + w; ++x) row[x] = bgra;
  }
}

int64_t nowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

SyntheticScreenCapturer::SyntheticScreenCapturer(std::shared_ptr<rtc::VideoSource> source,
                                                 std::vector<DisplayDescription> displays,
                                                 FrameHook hook)
    : source_(std::move(source)), displays_(std::move(displays)), hook_(std::move(hook)) {}

SyntheticScreenCapturer::~SyntheticScreenCapturer() { stopCapture(); }

void SyntheticScreenCapturer::startCapture(int displayIndex, int width, int height, int fps,
                                           CaptureDone done) {
  std::optional<CaptureError> error;
  if (displayIndex < 0 || displayIndex >= static_cast<int>(displays_.size())) {
    error = CaptureError::invalidDisplayIndex();
  } else {
    const DisplayDescription& display = displays_[static_cast<size_t>(displayIndex)];
    const int w = std::clamp(width > 0 ? width : display.width, 16, 8192);
    const int h = std::clamp(height > 0 ? height : display.height, 16, 8192);
    ++starts_;
    lastStartSize_ = QSize(width, height);
    failing_ = false;
    thread_.start(fps, [this, w, h] { run(w, h); });
  }
  QTimer::singleShot(0, &context_, [done = std::move(done), error] {
    if (done) done(error);
  });
}

void SyntheticScreenCapturer::stopCapture() { thread_.stop(); }

bool SyntheticScreenCapturer::hasStream() const { return thread_.running(); }

void SyntheticScreenCapturer::setFrameRate(int fps, CaptureDone done) { thread_.setFrameRate(fps, done); }

void SyntheticScreenCapturer::shareableDisplays(DisplaysDone done) {
  QTimer::singleShot(0, &context_, [this, done = std::move(done)] {
    if (done) done(displays_, std::nullopt);
  });
}

void SyntheticScreenCapturer::setStoppedHandler(CaptureStopped handler) {
  stopped_ = std::move(handler);
}

void SyntheticScreenCapturer::run(int width, int height) {
  const int stride = width * 4;
  std::vector<uint8_t> pixels(static_cast<size_t>(stride) * height);
  const int block = blockSize(width);
  while (thread_.running()) {
    if (failing_.exchange(false)) {
      thread_.finish();
      CaptureError failure;
      {
        std::lock_guard lock(failureMutex_);
        failure = failure_;
      }
      QMetaObject::invokeMethod(
          &context_, [this, failure] { if (stopped_) stopped_(failure); }, Qt::QueuedConnection);
      return;
    }
    const uint32_t number = frames_.load();
    // A slowly changing background and a square that moves across it.
    fill(pixels, stride, 0, 0, width, height, 0xFF203040u + ((number % 64) << 2));
    const int side = std::max(8, height / 8);
    const int x = static_cast<int>((number * 7) % static_cast<uint32_t>(std::max(1, width - side)));
    fill(pixels, stride, x, height / 2 - side / 2, side, side, 0xFFE0C020u);
    for (int bit = 0; bit < kStampBits && (bit + 1) * block <= width; ++bit) {
      const bool one = (number >> (kStampBits - 1 - bit)) & 1u;
      fill(pixels, stride, bit * block, 0, block, std::min(block, height),
           one ? 0xFFFFFFFFu : 0xFF000000u);
    }
    const int64_t timestamp = nowUs();
    if (hook_) hook_(number, timestamp);
    source_->pushFrame(rtc::VideoFrameView{pixels.data(), width, height, stride, timestamp});
    ++frames_;
    thread_.waitForNextFrame();
  }
}

std::optional<uint32_t> readFrameStamp(const rtc::I420FrameView& frame) {
  if (!frame.y || frame.width < 64 || frame.height < 4) return std::nullopt;
  const int block = blockSize(frame.width);
  const int y = std::min(block, frame.height) / 2;
  uint32_t value = 0;
  for (int bit = 0; bit < kStampBits; ++bit) {
    const int x = bit * block + block / 2;
    if (x >= frame.width) return std::nullopt;
    const int luma = frame.y[static_cast<size_t>(y) * frame.strideY + x];
    if (luma > 96 && luma < 160) return std::nullopt;  // neither black nor white
    value = (value << 1) | (luma >= 160 ? 1u : 0u);
  }
  return value;
}

}  // namespace lunor
