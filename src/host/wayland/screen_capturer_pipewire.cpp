#include "host/wayland/screen_capturer_pipewire.h"

#include <algorithm>
#include <cstring>

#include "host/capture_thread.h"
#include "host/wayland/display_list_mutter.h"
#include "host/wayland/remote_desktop_session.h"
#include "rtc/peer_connection.h"
#include "system/console_log.h"

namespace lunor {
namespace {

// The clock the video source's timestamps are on.
int64_t nowUs(std::chrono::steady_clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
}

CaptureError failed(const QString& why) {
  return {QStringLiteral("Wayland"), 1, QStringLiteral("Capture d'écran indisponible : ") + why};
}

}  // namespace

ScreenCapturerPipeWire::ScreenCapturerPipeWire(std::shared_ptr<rtc::VideoSource> source,
                                               RemoteDesktopSession& session, DisplayListMutter& displays)
    : source_(std::move(source)), session_(session), displays_(displays) {
  repeat_.setInterval(kRepeatIntervalMs / 2);
  QObject::connect(&repeat_, &QTimer::timeout, &context_, [this] { repeatLastFrame(); });
  session_.setClosedHandler([this](const QString& why) { streamEnded(why); });
}

ScreenCapturerPipeWire::~ScreenCapturerPipeWire() {
  session_.setClosedHandler(nullptr);
  stopCapture();
}

void ScreenCapturerPipeWire::startCapture(int displayIndex, int width, int height, int fps, CaptureDone done) {
  stopCapture();
  const auto displays = displays_.displays();
  auto report = [this](CaptureDone done, std::optional<CaptureError> error) {
    QMetaObject::invokeMethod(
        &context_, [done = std::move(done), error] { if (done) done(error); }, Qt::QueuedConnection);
  };
  if (displayIndex < 0 || displayIndex >= static_cast<int>(displays.size())) {
    report(std::move(done), CaptureError::invalidDisplayIndex());
    return;
  }
  const QString connector = displays_.connectorOf(displays[static_cast<size_t>(displayIndex)].id);
  fps_ = std::clamp(fps, 1, CaptureThread::kMaxFps);
  streaming_ = true;
  session_.start(connector, [this, done = std::move(done), width, height, displayIndex, report](
                                std::optional<RemoteDesktopSession::Stream> stream, const QString& error) mutable {
    if (!stream) {
      streaming_ = false;
      report(std::move(done), failed(error));
      return;
    }
    QString why;
    const bool started = stream_.start(
        stream->node, stream->pipeWireFd, [this](const rtc::VideoFrameView& frame) { onFrame(frame); },
        [this](const QString& reason) {
          QMetaObject::invokeMethod(&context_, [this, reason] { streamEnded(reason); }, Qt::QueuedConnection);
        },
        &why);
    if (!started) {
      streaming_ = false;
      session_.stop();
      report(std::move(done), failed(why));
      return;
    }
    repeat_.start();
    consoleLine(QStringLiteral("[ScreenCapturer] ✅ Capture démarrée %1x%2 @%3fps sur écran #%4 (Wayland)")
                    .arg(width)
                    .arg(height)
                    .arg(fps_.load())
                    .arg(displayIndex));
    report(std::move(done), std::nullopt);
  });
}

void ScreenCapturerPipeWire::onFrame(const rtc::VideoFrameView& frame) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(mutex_);
  // No faster than the frame rate: a frame too soon is skipped; the next
  // change, or the repeat, brings the picture up to date.
  if (now - lastPushed_ < std::chrono::microseconds(1'000'000 / std::max(1, fps_.load()))) {
    // Kept all the same, so the repeat shows the newest picture.
  } else {
    rtc::VideoFrameView stamped = frame;
    stamped.timestampUs = nowUs(now);
    source_->pushFrame(stamped);
    ++frameCount_;
    lastPushed_ = now;
  }
  const size_t bytes = static_cast<size_t>(frame.stride) * static_cast<size_t>(frame.height);
  last_.resize(bytes);
  std::memcpy(last_.data(), frame.data, bytes);
  lastView_ = {last_.data(), frame.width, frame.height, frame.stride, 0};
}

void ScreenCapturerPipeWire::repeatLastFrame() {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(mutex_);
  if (last_.empty() || now - lastPushed_ < std::chrono::milliseconds(kRepeatIntervalMs)) return;
  lastView_.timestampUs = nowUs(now);
  source_->pushFrame(lastView_);
  ++frameCount_;
  lastPushed_ = now;
}

void ScreenCapturerPipeWire::streamEnded(const QString& why) {
  if (!streaming_) return;
  consoleLine(QStringLiteral("[ScreenCapturer] ❌ Capture interrompue : ") + why);
  stopCapture();
  if (stopped_) stopped_({QStringLiteral("Wayland"), 4, QStringLiteral("Capture interrompue")});
}

void ScreenCapturerPipeWire::stopCapture() {
  repeat_.stop();
  stream_.stop();
  session_.stop();
  streaming_ = false;
  std::lock_guard lock(mutex_);
  last_.clear();
  lastPushed_ = {};
}

void ScreenCapturerPipeWire::setFrameRate(int fps, CaptureDone done) {
  std::optional<CaptureError> error;
  if (streaming_) {
    fps_ = std::clamp(fps, 1, CaptureThread::kMaxFps);
  } else {
    error = CaptureError::streamNotStarted();
  }
  QMetaObject::invokeMethod(&context_, [done = std::move(done), error] { if (done) done(error); },
                            Qt::QueuedConnection);
}

void ScreenCapturerPipeWire::shareableDisplays(DisplaysDone done) {
  auto displays = displays_.displays();
  QMetaObject::invokeMethod(
      &context_, [done = std::move(done), displays] { if (done) done(displays, std::nullopt); },
      Qt::QueuedConnection);
}

}  // namespace lunor
