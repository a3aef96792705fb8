// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Captures one display into a WebRTC video source as 32-bit BGRA frames with
// the cursor drawn in. One capturer per capture start; the session tells it
// which display, size and rate, changes the rate, asks for the display list
// and stops it at teardown.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QRect>
#include <QString>

namespace lunor {

namespace rtc {
class VideoSource;
}

// One display as the platform reports it: a stable identifier, its pixel
// size, and its bounds in the global desktop space.
struct DisplayDescription {
  uint32_t id = 0;
  int width = 0;   // pixels
  int height = 0;  // pixels
  QRect bounds;    // desktop coordinates

  bool operator==(const DisplayDescription&) const = default;
};

// The capturer's own failures, and the platform's passed on.
struct CaptureError {
  static constexpr int kStreamNotStarted = 2;
  static constexpr int kInvalidDisplayIndex = 3;
  // The person at this computer did not let its screen be shared (a dialog
  // of the desktop's refused or left unanswered): trying again asks again.
  static constexpr int kNotAllowed = 5;
  // The person at this computer stopped the sharing (the desktop's own
  // indicator closed the remote-desktop session): the session ends.
  static constexpr int kStoppedHere = 6;

  QString domain = QStringLiteral("ScreenCapturer");
  int code = 0;
  QString text;  // localized description

  // Domain, code and text, for logs.
  QString fullDescription() const {
    return QStringLiteral("%1 code=%2 \"%3\"").arg(domain).arg(code).arg(text);
  }
  static CaptureError streamNotStarted() {
    return {QStringLiteral("ScreenCapturer"), kStreamNotStarted, QStringLiteral("Stream non démarré")};
  }
  static CaptureError invalidDisplayIndex() {
    return {QStringLiteral("ScreenCapturer"), kInvalidDisplayIndex,
            QStringLiteral("Index écran invalide")};
  }
};

using CaptureDone = std::function<void(std::optional<CaptureError> error)>;
using DisplaysDone = std::function<void(std::vector<DisplayDescription> displays,
                                        std::optional<CaptureError> error)>;
using CaptureStopped = std::function<void(const CaptureError& error)>;

class ScreenCapturer {
 public:
  virtual ~ScreenCapturer() = default;
  // Starts capturing the display at displayIndex (in shareableDisplays()
  // order) at width x height, no faster than fps. Main thread; `done` is
  // called on the main thread once frames flow, or with the failure.
  virtual void startCapture(int displayIndex, int width, int height, int fps, CaptureDone done) = 0;
  // Stops the stream if there is one; returns once no frame is in flight.
  virtual void stopCapture() = 0;
  // True while a stream exists (between a start and a stop).
  virtual bool hasStream() const = 0;
  // Changes the rate of the running stream; any thread. Without a stream
  // `done` gets CaptureError::streamNotStarted().
  virtual void setFrameRate(int fps, CaptureDone done) = 0;
  // The platform's displays, in a stable order. Main thread, asynchronous.
  virtual void shareableDisplays(DisplaysDone done) = 0;
  // Called on the main thread when a running stream ends by itself (the
  // platform gave up); hasStream() is false from then on, and a new start
  // may be tried. Main thread.
  virtual void setStoppedHandler(CaptureStopped handler) = 0;
  // Hears, on the main thread, that a start waits for the person at this
  // computer to choose what to share (a desktop's dialog), for up to
  // `timeoutMs`. Capturers that never ask do not call it.
  virtual void setChoosingHandler(std::function<void(int timeoutMs)> handler) { Q_UNUSED(handler); }
};

}  // namespace lunor
