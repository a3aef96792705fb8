// SPDX-License-Identifier: GPL-3.0-or-later
#include <vector>

#include "libyuv/scale_argb.h"
#include "modules/desktop_capture/desktop_and_cursor_composer.h"
#include "modules/desktop_capture/desktop_capture_options.h"
#include "modules/desktop_capture/desktop_capturer.h"
#include "modules/desktop_capture/desktop_frame.h"
#include "rtc/steady_clock.h"
#include "rtc/webrtc/desktop_grabber.h"
#include "rtc/webrtc/webrtc_factory.h"

namespace lunor::rtc {
namespace {

class X11DesktopGrabber final : public DesktopGrabber, private webrtc::DesktopCapturer::Callback {
 public:
  explicit X11DesktopGrabber(std::unique_ptr<webrtc::DesktopCapturer> capturer)
      : capturer_(std::move(capturer)) {
    capturer_->Start(this);
  }

  bool select(uint32_t monitorId) {
    return capturer_->SelectSource(static_cast<webrtc::DesktopCapturer::SourceId>(monitorId));
  }

  Result grab(int width, int height, VideoFrameView& view) override {
    // The last frame goes first: the cursor composer drew the pointer into
    // the capturer's own buffer and puts the pixels back when its frame is
    // destroyed, and the capturer starts the next frame by copying what
    // changed from that buffer. Kept alive meanwhile, the old pointer would
    // be copied too and stay on a still screen.
    frame_.reset();
    capturer_->CaptureFrame();
    if (result_ == webrtc::DesktopCapturer::Result::ERROR_PERMANENT) return Result::Failed;
    if (result_ != webrtc::DesktopCapturer::Result::SUCCESS || !frame_) return Result::TryAgain;
    const webrtc::DesktopFrame& frame = *frame_;
    const int w = frame.size().width();
    const int h = frame.size().height();
    view = {frame.data(), w, h, frame.stride(), steadyNowUs()};
    const int outW = width > 0 ? width : w;
    const int outH = height > 0 ? height : h;
    if (outW != w || outH != h) {
      // Only when asked for another size: one scaling pass into our buffer.
      scaled_.resize(static_cast<size_t>(outW) * outH * 4);
      libyuv::ARGBScale(frame.data(), frame.stride(), w, h, scaled_.data(), outW * 4, outW, outH,
                        libyuv::kFilterBilinear);
      view = {scaled_.data(), outW, outH, outW * 4, view.timestampUs};
    }
    return frame.updated_region().is_empty() ? Result::Unchanged : Result::Changed;
  }

 private:
  void OnCaptureResult(webrtc::DesktopCapturer::Result result,
                       std::unique_ptr<webrtc::DesktopFrame> frame) override {
    result_ = result;
    frame_ = std::move(frame);
  }

  std::unique_ptr<webrtc::DesktopCapturer> capturer_;
  webrtc::DesktopCapturer::Result result_ = webrtc::DesktopCapturer::Result::ERROR_TEMPORARY;
  std::unique_ptr<webrtc::DesktopFrame> frame_;
  std::vector<uint8_t> scaled_;
};

}  // namespace

std::unique_ptr<DesktopGrabber> createX11DesktopGrabber(uint32_t monitorId, std::string* error) {
  initialiseWebRtcLibrary();
  webrtc::DesktopCaptureOptions options = webrtc::DesktopCaptureOptions::CreateDefault();
  options.set_use_update_notifications(true);  // XDamage: only changed areas are read
  std::unique_ptr<webrtc::DesktopCapturer> screen =
      webrtc::DesktopCapturer::CreateScreenCapturer(options);
  if (!screen) {
    if (error) *error = "pas de serveur X";
    return nullptr;
  }
  auto grabber = std::make_unique<X11DesktopGrabber>(
      std::make_unique<webrtc::DesktopAndCursorComposer>(std::move(screen), options));
  if (!grabber->select(monitorId)) return nullptr;
  return grabber;
}

}  // namespace lunor::rtc
