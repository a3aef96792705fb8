#include "host/x11/screen_capturer_x11.h"

#include <chrono>
#include <vector>

#include <QTimer>

#include "host/display_list.h"
#include "libyuv/scale_argb.h"
#include "modules/desktop_capture/desktop_and_cursor_composer.h"
#include "modules/desktop_capture/desktop_capture_options.h"
#include "modules/desktop_capture/desktop_capturer.h"
#include "modules/desktop_capture/desktop_frame.h"
#include "session/rtc/peer_connection.h"
#include "session/rtc/webrtc/webrtc_factory.h"
#include "system/console_log.h"

namespace lunor {
namespace {

constexpr auto kUnchangedFrameInterval = std::chrono::seconds(1);

CaptureError unavailable(const QString& why) {
  return {QStringLiteral("X11"), 1, QStringLiteral("Capture d'écran indisponible : ") + why};
}

int64_t nowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Receives the library's frames on the capture thread.
class FrameSink final : public webrtc::DesktopCapturer::Callback {
 public:
  webrtc::DesktopCapturer::Result result = webrtc::DesktopCapturer::Result::ERROR_TEMPORARY;
  std::unique_ptr<webrtc::DesktopFrame> frame;
  void OnCaptureResult(webrtc::DesktopCapturer::Result r,
                       std::unique_ptr<webrtc::DesktopFrame> f) override {
    result = r;
    frame = std::move(f);
  }
};

}  // namespace

ScreenCapturerX11::ScreenCapturerX11(std::shared_ptr<rtc::VideoSource> source, DisplayList& displays)
    : source_(std::move(source)), displays_(displays) {
  rtc::initialiseWebRtcLibrary();
}

ScreenCapturerX11::~ScreenCapturerX11() { stopCapture(); }

void ScreenCapturerX11::complete(CaptureDone done, std::optional<CaptureError> error) {
  QMetaObject::invokeMethod(
      &context_,
      [done = std::move(done), error] {
        if (done) done(error);
      },
      Qt::QueuedConnection);
}

void ScreenCapturerX11::startCapture(int displayIndex, int width, int height, int fps,
                                     CaptureDone done) {
  const auto displays = displays_.displays();
  if (displayIndex < 0 || displayIndex >= static_cast<int>(displays.size())) {
    complete(std::move(done), CaptureError::invalidDisplayIndex());
    return;
  }
  const DisplayDescription display = displays[static_cast<size_t>(displayIndex)];
  thread_.start(fps, [this, id = display.id, width, height, done = std::move(done), displayIndex,
                      fps = std::clamp(fps, 1, CaptureThread::kMaxFps)]() mutable {
    CaptureDone announce = [this, done = std::move(done), width, height, fps,
                            displayIndex](std::optional<CaptureError> error) {
      if (!error) {
        consoleLine(QStringLiteral("[ScreenCapturer] ✅ Capture démarrée %1x%2 @%3fps sur écran #%4")
                        .arg(width)
                        .arg(height)
                        .arg(fps)
                        .arg(displayIndex));
      }
      complete(done, error);
    };
    run(id, width, height, std::move(announce));
  });
}

void ScreenCapturerX11::run(uint32_t displayId, int width, int height, CaptureDone done) {
  webrtc::DesktopCaptureOptions options = webrtc::DesktopCaptureOptions::CreateDefault();
  options.set_use_update_notifications(true);  // XDamage: only changed areas are read
  std::unique_ptr<webrtc::DesktopCapturer> screen =
      webrtc::DesktopCapturer::CreateScreenCapturer(options);
  if (!screen) {
    thread_.finish();
    done(unavailable(QStringLiteral("pas de serveur X")));
    return;
  }
  auto capturer = std::make_unique<webrtc::DesktopAndCursorComposer>(std::move(screen), options);
  FrameSink sink;
  capturer->Start(&sink);
  if (!capturer->SelectSource(static_cast<webrtc::DesktopCapturer::SourceId>(displayId))) {
    thread_.finish();
    done(CaptureError::invalidDisplayIndex());
    return;
  }
  done(std::nullopt);

  std::vector<uint8_t> scaled;
  auto lastPushed = std::chrono::steady_clock::time_point{};
  while (thread_.running()) {
    capturer->CaptureFrame();
    ++captureCount_;
    if (sink.result == webrtc::DesktopCapturer::Result::SUCCESS && sink.frame) {
      const webrtc::DesktopFrame& frame = *sink.frame;
      const auto now = std::chrono::steady_clock::now();
      const bool changed = !frame.updated_region().is_empty();
      if (changed || now - lastPushed >= kUnchangedFrameInterval) {
        const int w = frame.size().width();
        const int h = frame.size().height();
        rtc::VideoFrameView view{frame.data(), w, h, frame.stride(), nowUs()};
        const int outW = width > 0 ? width : w;
        const int outH = height > 0 ? height : h;
        if (outW != w || outH != h) {
          // Only when asked for another size: one scaling pass into our buffer.
          scaled.resize(static_cast<size_t>(outW) * outH * 4);
          libyuv::ARGBScale(frame.data(), frame.stride(), w, h, scaled.data(), outW * 4, outW, outH,
                            libyuv::kFilterBilinear);
          view = {scaled.data(), outW, outH, outW * 4, view.timestampUs};
        }
        source_->pushFrame(view);
        ++frameCount_;
        lastPushed = now;
      }
    } else if (sink.result == webrtc::DesktopCapturer::Result::ERROR_PERMANENT) {
      consoleLine(QStringLiteral("[ScreenCapturer] ❌ Capture interrompue"));
      break;
    }
    thread_.waitForNextFrame();
  }
}

void ScreenCapturerX11::stopCapture() { thread_.stop(); }

bool ScreenCapturerX11::hasStream() const { return thread_.running(); }

void ScreenCapturerX11::setFrameRate(int fps, CaptureDone done) { thread_.setFrameRate(fps, done); }

void ScreenCapturerX11::shareableDisplays(DisplaysDone done) {
  auto displays = displays_.displays();
  QTimer::singleShot(0, &context_, [done = std::move(done), displays] {
    if (done) done(displays, std::nullopt);
  });
}

}  // namespace lunor
