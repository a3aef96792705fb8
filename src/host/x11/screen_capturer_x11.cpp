// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/x11/screen_capturer_x11.h"

#include <chrono>

#include "host/capture_loop.h"
#include "host/display_list.h"
#include "host/host_log.h"
#include "host/x11/damage_watch.h"
#include "rtc/peer_connection.h"
#include "rtc/webrtc/desktop_grabber.h"
#include "system/console_log.h"

namespace lunor {
namespace {

CaptureError unavailable(const QString& why) {
  return {QStringLiteral("X11"), 1, QStringLiteral("Capture d'écran indisponible : ") + why};
}

CaptureError interrupted() {
  return {QStringLiteral("X11"), 4, QStringLiteral("Capture interrompue")};
}

}  // namespace

ScreenCapturerX11::ScreenCapturerX11(std::shared_ptr<rtc::VideoSource> source, DisplayList& displays)
    : source_(std::move(source)), displays_(displays) {}

ScreenCapturerX11::~ScreenCapturerX11() { stopCapture(); }

void ScreenCapturerX11::onMain(std::function<void()> call) {
  QMetaObject::invokeMethod(&context_, std::move(call), Qt::QueuedConnection);
}

void ScreenCapturerX11::startCapture(int displayIndex, int width, int height, int fps,
                                     CaptureDone done) {
  const auto displays = displays_.displays();
  if (displayIndex < 0 || displayIndex >= static_cast<int>(displays.size())) {
    onMain([done = std::move(done)] {
      if (done) done(CaptureError::invalidDisplayIndex());
    });
    return;
  }
  const uint32_t id = displays[static_cast<size_t>(displayIndex)].id;
  const QRect bounds = displays[static_cast<size_t>(displayIndex)].bounds;
  fps = std::clamp(fps, 1, CaptureThread::kMaxFps);
  thread_.start(fps, [this, id, bounds, width, height, fps, displayIndex, done = std::move(done)]() mutable {
    CaptureDone announce = [this, done = std::move(done), width, height, fps,
                            displayIndex](std::optional<CaptureError> error) {
      if (!error) {
        consoleLine(lcHost(), QStringLiteral("[ScreenCapturer] ✅ Capture démarrée %1x%2 @%3fps sur écran #%4")
                                  .arg(width)
                                  .arg(height)
                                  .arg(fps)
                                  .arg(displayIndex));
      }
      onMain([done, error] {
        if (done) done(error);
      });
    };
    run(id, bounds, width, height, std::move(announce));
  });
}

void ScreenCapturerX11::run(uint32_t displayId, QRect bounds, int width, int height, CaptureDone done) {
  std::string why;
  // The library's capturer belongs to this thread: made, used and dropped here.
  std::unique_ptr<rtc::DesktopGrabber> grabber = rtc::createX11DesktopGrabber(displayId, &why);
  if (!grabber) {
    thread_.finish();
    done(why.empty() ? CaptureError::invalidDisplayIndex() : unavailable(QString::fromStdString(why)));
    return;
  }
  done(std::nullopt);

  // With XDamage the screen is read when it changes (at once after a quiet
  // spell, no sooner than the frame rate allows) and once a second when it
  // does not; without it, on the frame rate's clock.
  // LUNOR_CAPTURE_ON_CHANGE=0 keeps the clock, to compare the two.
  const std::unique_ptr<DamageWatch> damage =
      qEnvironmentVariable("LUNOR_CAPTURE_ON_CHANGE") == QLatin1String("0") ? nullptr : DamageWatch::open(bounds);

  struct Port final : CaptureLoopPort {
    ScreenCapturerX11& self;
    rtc::DesktopGrabber& grabber;
    DamageWatch* damage;
    int width, height;
    rtc::VideoFrameView frame;

    Port(ScreenCapturerX11& self, rtc::DesktopGrabber& grabber, DamageWatch* damage, int width, int height)
        : self(self), grabber(grabber), damage(damage), width(width), height(height) {}
    bool running() override { return self.thread_.running(); }
    int frameRate() override { return self.thread_.fps(); }
    TimePoint now() override { return std::chrono::steady_clock::now(); }
    bool waitForChange(std::chrono::milliseconds timeout) override { return damage->waitForChange(timeout); }
    void waitForTick() override { self.thread_.waitForNextFrame(); }
    Read read() override {
      ++self.captureCount_;
      switch (grabber.grab(width, height, frame)) {
        case rtc::DesktopGrabber::Result::Changed: return Read::Changed;
        case rtc::DesktopGrabber::Result::Unchanged: return Read::Unchanged;
        case rtc::DesktopGrabber::Result::TryAgain: return Read::Nothing;
        case rtc::DesktopGrabber::Result::Failed: break;
      }
      return Read::Failed;
    }
    void send() override {
      self.source_->pushFrame(frame);
      ++self.frameCount_;
    }
    bool wantsRepeats() override { return self.source_->wantsRepeats(); }
  } port(*this, *grabber, damage.get(), width, height);

  if (!runCaptureLoop(port, damage != nullptr)) {
    consoleLine(lcHost(), QStringLiteral("[ScreenCapturer] ❌ Capture interrompue"));
    thread_.finish();
    onMain([this] {
      if (stopped_) stopped_(interrupted());
    });
  }
}

void ScreenCapturerX11::stopCapture() { thread_.stop(); }

bool ScreenCapturerX11::hasStream() const { return thread_.running(); }

void ScreenCapturerX11::setFrameRate(int fps, CaptureDone done) { thread_.setFrameRate(fps, done); }

void ScreenCapturerX11::shareableDisplays(DisplaysDone done) {
  auto displays = displays_.displays();
  onMain([done = std::move(done), displays] {
    if (done) done(displays, std::nullopt);
  });
}

void ScreenCapturerX11::setStoppedHandler(CaptureStopped handler) { stopped_ = std::move(handler); }

}  // namespace lunor
