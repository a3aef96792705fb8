// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One monitor of a Wayland desktop: the compositor's remote-desktop session
// records it, and our PipeWire consumer hands its frames to the video
// source on PipeWire's thread. The compositor sends frames only when the
// screen changes, no faster than the frame rate we ask for; one that comes
// well ahead of its time is kept and sent when its turn comes. A still
// screen gets the last frame again once a second, so the encoder can
// refresh.

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include <QObject>
#include <QTimer>

#include "host/screen_capturer.h"
#include "host/wayland/pipewire_stream.h"

namespace lunor {

class WaylandDisplayList;
class RemoteDesktopSession;

class ScreenCapturerPipeWire final : public ScreenCapturer {
 public:
  static constexpr int kRepeatIntervalMs = 1000;

  // session and displays are borrowed and must outlive the capturer.
  ScreenCapturerPipeWire(std::shared_ptr<rtc::VideoSource> source, RemoteDesktopSession& session,
                         WaylandDisplayList& displays);
  ~ScreenCapturerPipeWire() override;

  void startCapture(int displayIndex, int width, int height, int fps, CaptureDone done) override;
  void stopCapture() override;
  bool hasStream() const override { return streaming_.load(); }
  void setFrameRate(int fps, CaptureDone done) override;
  void shareableDisplays(DisplaysDone done) override;
  void setStoppedHandler(CaptureStopped handler) override { stopped_ = std::move(handler); }
  void setChoosingHandler(std::function<void(int timeoutMs)> handler) override;

  // Frames handed to the source since creation, repeats included.
  uint64_t frameCount() const { return frameCount_.load(); }

 private:
  // PipeWire's thread.
  void onFrame(const rtc::VideoFrameView& frame);
  // Main thread: sends the frame kept for its turn, or on a still screen
  // (nothing sent for a second, or a frame interval while the encoder
  // sharpens the picture) the last one again.
  void pushHeld(bool stillScreen);
  // byDesktop: the compositor closed the remote-desktop session itself.
  void streamEnded(const QString& why, bool byDesktop = false);

  std::shared_ptr<rtc::VideoSource> source_;
  RemoteDesktopSession& session_;
  WaylandDisplayList& displays_;
  CaptureStopped stopped_;
  QObject context_;  // completions are dropped once the capturer is gone
  QTimer repeat_;
  QTimer followUp_;
  std::atomic<bool> streaming_{false};
  std::atomic<int> fps_{30};
  std::atomic<uint64_t> frameCount_{0};

  std::mutex mutex_;  // guards the frame kept for its turn and the pace; never held into the library
  std::vector<uint8_t> held_;
  rtc::VideoFrameView heldView_;
  bool followUpAsked_ = false;
  std::chrono::steady_clock::time_point lastPushed_{};

  PipeWireStream stream_;  // last: stops before what its frames reach
};

}  // namespace lunor
