// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <memory>

#include <QObject>
#include <QRect>

#include "host/capture_thread.h"
#include "host/screen_capturer.h"

namespace lunor {

class DisplayList;

namespace rtc {
class VideoSource;
}

// One RandR monitor through the WebRTC library's X11 screen capturer, with
// the cursor composed in. Frames are read on the capturer's own thread and
// handed to the video source there. XDamage says when the monitor changes:
// it is read then (the frame rate a cap, not a clock), and an unchanged
// screen costs one read and one frame a second.
class ScreenCapturerX11 final : public ScreenCapturer {
 public:
  // displays is borrowed and must outlive the capturer.
  ScreenCapturerX11(std::shared_ptr<rtc::VideoSource> source, DisplayList& displays);
  ~ScreenCapturerX11() override;

  void startCapture(int displayIndex, int width, int height, int fps, CaptureDone done) override;
  void stopCapture() override;
  bool hasStream() const override;
  void setFrameRate(int fps, CaptureDone done) override;
  void shareableDisplays(DisplaysDone done) override;
  void setStoppedHandler(CaptureStopped handler) override;

  // Frames handed to the source since creation.
  uint64_t frameCount() const { return frameCount_.load(); }
  // Screen reads since creation (frames of an unchanged screen are read, not sent).
  uint64_t captureCount() const { return captureCount_.load(); }

 private:
  void run(uint32_t displayId, QRect bounds, int width, int height, CaptureDone done);
  // Runs `call` on the main thread unless the capturer is gone by then.
  void onMain(std::function<void()> call);

  std::shared_ptr<rtc::VideoSource> source_;
  DisplayList& displays_;
  CaptureStopped stopped_;  // main thread
  QObject context_;         // completions are dropped once the capturer is gone
  std::atomic<uint64_t> frameCount_{0};
  std::atomic<uint64_t> captureCount_{0};
  CaptureThread thread_;  // last: stops before the members its loop reads go
};

}  // namespace lunor
