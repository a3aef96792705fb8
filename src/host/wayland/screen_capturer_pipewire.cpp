// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/wayland/screen_capturer_pipewire.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "host/capture_thread.h"
#include "host/host_log.h"
#include "host/wayland/wayland_display_list.h"
#include "host/wayland/remote_desktop_session.h"
#include "host/wayland/virtual_monitor.h"
#include "rtc/peer_connection.h"
#include "system/console_log.h"

namespace lunor {
namespace {

// The clock the video source's timestamps are on.
int64_t nowUs(std::chrono::steady_clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
}

CaptureError failed(const QString& why, RemoteDesktopSession::Failure failure = RemoteDesktopSession::Failure::Error) {
  if (failure == RemoteDesktopSession::Failure::Refused) {
    return {QStringLiteral("Wayland"), CaptureError::kNotAllowed, QStringLiteral("Partage d’écran refusé : ") + why};
  }
  return {QStringLiteral("Wayland"), 1, QStringLiteral("Capture d'écran indisponible : ") + why};
}

}  // namespace

ScreenCapturerPipeWire::ScreenCapturerPipeWire(std::shared_ptr<rtc::VideoSource> source,
                                               RemoteDesktopSession& session, WaylandDisplayList& displays)
    : source_(std::move(source)), session_(session), displays_(displays) {
  repeat_.setInterval(kRepeatIntervalMs / 2);
  QObject::connect(&repeat_, &QTimer::timeout, &context_, [this] { pushHeld(/*stillScreen=*/true); });
  followUp_.setSingleShot(true);
  QObject::connect(&followUp_, &QTimer::timeout, &context_, [this] { pushHeld(/*stillScreen=*/false); });
  session_.setClosedHandler([this](const QString& why) { streamEnded(why, /*byDesktop=*/true); });
}

void ScreenCapturerPipeWire::setChoosingHandler(std::function<void(int timeoutMs)> handler) {
  session_.setChoosingHandler(std::move(handler));
}

ScreenCapturerPipeWire::~ScreenCapturerPipeWire() {
  session_.setClosedHandler(nullptr);
  session_.setChoosingHandler(nullptr);
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
  const DisplayDescription& display = displays[static_cast<size_t>(displayIndex)];
  const QString connector = displays_.connectorOf(display.id);
  fps_ = std::clamp(fps, 1, CaptureThread::kMaxFps);
  streaming_ = true;
  // A monitor made for the stream is made at the display's size.
  const QSize fixedSize = connector == VirtualMonitor::kConnector ? QSize(display.width, display.height) : QSize();
  session_.start(connector, [this, done = std::move(done), width, height, displayIndex, report, fixedSize](
                                std::optional<RemoteDesktopSession::Stream> stream, RemoteDesktopSession::Failure failure,
                                const QString& error) mutable {
    if (!stream) {
      streaming_ = false;
      report(std::move(done), failed(error, failure));
      return;
    }
    QString why;
    const bool started = stream_.start(
        stream->node, stream->pipeWireFd, fps_, [this](const rtc::VideoFrameView& frame) { onFrame(frame); },
        [this](const QString& reason) {
          QMetaObject::invokeMethod(&context_, [this, reason] { streamEnded(reason); }, Qt::QueuedConnection);
        },
        &why, fixedSize);
    if (!started) {
      streaming_ = false;
      session_.stop();
      report(std::move(done), failed(why));
      return;
    }
    repeat_.start();
    consoleLine(lcHost(), QStringLiteral("[ScreenCapturer] ✅ Capture démarrée %1x%2 @%3fps sur écran #%4 "
                                         "(Wayland)")
                              .arg(width)
                              .arg(height)
                              .arg(fps_.load())
                              .arg(displayIndex));
    report(std::move(done), std::nullopt);
  });
}

void ScreenCapturerPipeWire::onFrame(const rtc::VideoFrameView& frame) {
  const auto now = std::chrono::steady_clock::now();
  const auto interval = std::chrono::microseconds(1'000'000 / std::max(1, fps_.load()));
  std::optional<std::chrono::microseconds> followUpIn;
  bool push = false;
  {
    std::lock_guard lock(mutex_);
    // The compositor keeps to the rate we asked for, give or take its
    // clock: only a frame well ahead of time waits, in a copy, for its turn.
    if (now - lastPushed_ < interval * 3 / 4) {
      const size_t bytes = static_cast<size_t>(frame.stride) * static_cast<size_t>(frame.height);
      held_.resize(bytes);
      std::memcpy(held_.data(), frame.data, bytes);
      heldView_ = {held_.data(), frame.width, frame.height, frame.stride, 0};
      if (!followUpAsked_) {
        followUpAsked_ = true;
        followUpIn = std::chrono::duration_cast<std::chrono::microseconds>(interval - (now - lastPushed_));
      }
    } else {
      held_.clear();
      lastPushed_ = now;
      push = true;
    }
  }
  if (followUpIn) {
    const int ms = std::max(1, int((followUpIn->count() + 999) / 1000));
    QMetaObject::invokeMethod(&context_, [this, ms] { followUp_.start(ms); }, Qt::QueuedConnection);
  }
  if (push) {  // outside our lock: the library takes its own
    rtc::VideoFrameView stamped = frame;
    stamped.timestampUs = nowUs(now);
    source_->pushFrame(stamped);
    ++frameCount_;
  }
}

void ScreenCapturerPipeWire::pushHeld(bool stillScreen) {
  const auto now = std::chrono::steady_clock::now();
  // While the encoder sharpens a still picture a part at a time, the
  // repeats come at the frame rate; a second apart otherwise.
  const auto interval = std::chrono::milliseconds(1000 / std::max(1, fps_.load()));
  const bool refining = stillScreen && source_->wantsRepeats();
  const auto repeatAfter = refining ? std::chrono::milliseconds(interval * 3 / 4)
                                    : std::chrono::milliseconds(kRepeatIntervalMs);
  std::vector<uint8_t> pixels;
  rtc::VideoFrameView view;
  {
    std::lock_guard lock(mutex_);
    if (!stillScreen) followUpAsked_ = false;
    if (stillScreen && (lastPushed_ == std::chrono::steady_clock::time_point{} ||
                        now - lastPushed_ < repeatAfter)) {
      if (!refining) repeat_.setInterval(kRepeatIntervalMs / 2);
      return;
    }
    if (held_.empty() && !stillScreen) return;
    pixels.swap(held_);
    view = heldView_;
    lastPushed_ = now;
  }
  if (!pixels.empty()) {
    view.data = pixels.data();
    view.timestampUs = nowUs(now);
    source_->pushFrame(view);
    ++frameCount_;
  } else if (source_->repeatLastFrame(nowUs(now))) {
    ++frameCount_;
  }
  // The encoder may want the next repeat at once.
  if (stillScreen) repeat_.setInterval(int(interval.count()));
}

void ScreenCapturerPipeWire::streamEnded(const QString& why, bool byDesktop) {
  if (!streaming_) return;
  consoleLine(lcHost(), QStringLiteral("[ScreenCapturer] ❌ Capture interrompue : ") + why);
  stopCapture();
  if (!stopped_) return;
  if (byDesktop) {
    // Someone stopped sharing from the desktop: the sharing is over, not to
    // be started again by whatever the client asks next.
    stopped_({QStringLiteral("Wayland"), CaptureError::kStoppedHere,
              QStringLiteral("Le partage de l’écran a été arrêté sur l’ordinateur partagé")});
  } else {
    stopped_({QStringLiteral("Wayland"), 4, QStringLiteral("Capture interrompue")});
  }
}

void ScreenCapturerPipeWire::stopCapture() {
  repeat_.stop();
  followUp_.stop();
  stream_.stop();
  session_.stop();
  streaming_ = false;
  std::lock_guard lock(mutex_);
  held_.clear();
  followUpAsked_ = false;
  lastPushed_ = {};
}

void ScreenCapturerPipeWire::setFrameRate(int fps, CaptureDone done) {
  std::optional<CaptureError> error;
  if (streaming_) {
    fps_ = std::clamp(fps, 1, CaptureThread::kMaxFps);
    stream_.setMaxFrameRate(fps_);
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
