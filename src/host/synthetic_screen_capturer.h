// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A capturer without a screen: moving BGRA pictures of the requested size at
// the requested rate, each carrying its frame number as a row of black and
// white blocks along the top edge. For tests and benchmarks.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <QObject>
#include <QSize>

#include "host/capture_thread.h"
#include "host/screen_capturer.h"
#include "rtc/peer_connection.h"

namespace lunor {

class SyntheticScreenCapturer final : public ScreenCapturer {
 public:
  // Called on the capture thread right before a frame goes to the source.
  using FrameHook = std::function<void(uint32_t frameNumber, int64_t timestampUs)>;

  SyntheticScreenCapturer(std::shared_ptr<rtc::VideoSource> source,
                          std::vector<DisplayDescription> displays, FrameHook hook = {});
  ~SyntheticScreenCapturer() override;

  void startCapture(int displayIndex, int width, int height, int fps, CaptureDone done) override;
  void stopCapture() override;
  bool hasStream() const override;
  void setFrameRate(int fps, CaptureDone done) override;
  void shareableDisplays(DisplaysDone done) override;
  void setStoppedHandler(CaptureStopped handler) override;
  void setChoosingHandler(std::function<void(int timeoutMs)> handler) override { choosing_ = std::move(handler); }
  // As a desktop whose dialog now asks its person what to share. Main thread.
  void askPerson(int timeoutMs) {
    if (choosing_) choosing_(timeoutMs);
  }

  // Ends the running stream as a platform failure would (or, with
  // CaptureError::kStoppedHere, as the desktop does when someone stops
  // sharing), on the capture thread; the stopped handler hears of it on
  // the main thread.
  void failPermanently(CaptureError error = {QStringLiteral("Synthetic"), 4, QStringLiteral("Capture interrompue")}) {
    {
      std::lock_guard lock(failureMutex_);
      failure_ = std::move(error);
    }
    failing_ = true;
  }

  int frameRate() const { return thread_.fps(); }
  uint32_t framesDelivered() const { return frames_.load(); }
  int startCount() const { return starts_.load(); }
  // The size the last start asked for (main thread).
  QSize lastStartSize() const { return lastStartSize_; }

 private:
  void run(int width, int height);

  std::shared_ptr<rtc::VideoSource> source_;
  std::vector<DisplayDescription> displays_;
  FrameHook hook_;
  QObject context_;  // completions are dropped once the capturer is gone
  std::atomic<uint32_t> frames_{0};
  std::atomic<int> starts_{0};
  std::atomic<bool> failing_{false};
  std::mutex failureMutex_;  // guards failure_
  CaptureError failure_;
  QSize lastStartSize_;
  CaptureStopped stopped_;
  std::function<void(int timeoutMs)> choosing_;
  CaptureThread thread_;  // last: stops before the members its loop reads go
};

// The frame number stamped into a picture, read back from a (possibly
// scaled and compressed) frame; nothing when the stamp is unreadable.
std::optional<uint32_t> readFrameStamp(const rtc::I420FrameView& frame);

}  // namespace lunor
