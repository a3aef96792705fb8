// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The host's picture: the capture of the shared display into a video
// source, its track, the display list, the quality profile, the drag boost
// and the geometry reported to the client. Main thread.
//
// The source's output follows one rule, whatever changed last: the shared
// display's size until the client picks a profile, then that size fitted
// into the profile's (aspect kept, never enlarged); the profile's frame rate,
// or 60 while a button is held (the drag boost).

#include <functional>
#include <memory>
#include <vector>

#include <QJsonObject>
#include <QObject>
#include <QSize>
#include <QVariantList>

#include "host/screen_capturer.h"
#include "rtc/peer_connection.h"
#include "session/clock.h"
#include "protocol/quality_profile.h"

namespace lunor {

class Epoch;
class Negotiation;
class HostEnvironment;

// size scaled down to fit inside bounds, keeping its aspect ratio; never
// enlarged; each side at least 2 pixels and even.
QSize fittedSize(QSize size, QSize bounds);

class HostMedia final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kBoostFps = 60;
  // The lowest rate the sender may be held to: the link decides, down to
  // this, whatever the profile's minimum (a floor above what the link
  // carries only fills its queue).
  static constexpr int kLinkFloorBps = 150'000;
  static constexpr char kTrackId[] = "local-screen";
  static constexpr char kStreamId[] = "local-stream";

  using Log = std::function<void(const QString& line)>;

  // Everything borrowed must outlive the media. factory may be null (no
  // WebRTC): nothing is captured then.
  HostMedia(HostEnvironment& environment, Clock& clock, rtc::PeerConnectionFactory* factory,
            Negotiation& negotiation, Epoch& epoch, Log log, QObject* parent = nullptr);
  ~HostMedia() override;

  QualityProfile quality() const { return quality_; }
  int displayIndex() const { return displayIndex_; }
  uint32_t displayId() const { return displayId_; }
  std::shared_ptr<rtc::VideoTrack> track() const { return track_; }
  // A capturer exists (its stream may have stopped).
  bool hasCapturer() const { return capturer_ != nullptr; }

  // A new source, capturer and (once frames flow) track for the shared display.
  void startCapture();
  // Reads the display list and sends it to the client.
  void refreshDisplays();
  void applyQuality(QualityProfile profile);
  // Shares the display at `index` of the list; other indices are ignored.
  void switchDisplay(int index);
  // The shared display took the size `size` (a separate session's screen
  // sized to the client's view): the capture starts again at that size,
  // and the client hears the new geometry and list.
  void followDisplaySize(QSize size);
  // The client asked for a fresh picture: a new stream fitted into the
  // profile's size, and the geometry again.
  void restartCapture(const QString& request);
  void beginDragBoost();
  void endDragBoost();
  // The client named the shared display by its identifier.
  void setDisplayId(uint32_t id);
  // Sends the bitrate limits of the profile to the track's sender.
  void applySenderBitrate();
  // The connection's media path is up: sends the last picture as a key
  // frame now and again now and then (the first ones may have gone before
  // the peer could take them, and a still screen sends nothing new), until
  // pictureShown() or a few seconds have passed.
  void sendKeyFramesUntilShown();
  void pictureShown();
  // Stops the capture and drops source, capturer and track (teardown).
  void stop();

 Q_SIGNALS:
  void trackReady(std::shared_ptr<rtc::VideoTrack> track);
  void payloadReady(const QJsonObject& payload);
  void statusChanged(const QString& status);
  // The person at this computer did not let the screen be shared, or
  // stopped sharing it from the desktop: no picture will come for this
  // session.
  void captureRefused(const QString& why);
  // The person at this computer is choosing what to share (a desktop's
  // dialog), for up to timeoutMs.
  void personChoosing(int timeoutMs);
  void displaysChanged(const QVariantList& available);
  void qualityChanged(QualityProfile profile);
  void displayIndexChanged(int index);
  // Pointer positions map onto this display from now on.
  void displayIdChanged(uint32_t id);
  void pointerToCentre();

 private:
  QSize displaySize(uint32_t id) const;
  void applySourceFormat();
  void setDisplayIndex(int index);
  void setDisplay(uint32_t id);
  void sendGeometry();
  void restartStream(int width, int height, CaptureDone done);
  void captureStarted(const std::shared_ptr<rtc::VideoSource>& source, QSize size, int fps);

  HostEnvironment& environment_;
  rtc::PeerConnectionFactory* factory_;
  Negotiation& negotiation_;
  Epoch& epoch_;
  Log log_;

  QualityProfile quality_ = kDefaultQuality;
  bool profileChosen_ = false;  // the client has picked a profile since the start
  int boost_ = 0;               // buttons held, for the drag boost
  int displayIndex_ = 0;
  uint32_t displayId_;
  QSize nativeSize_{0, 0};      // the shared display's pixel size
  std::vector<DisplayDescription> displayInfos_;
  std::shared_ptr<rtc::VideoSource> source_;
  std::unique_ptr<ScreenCapturer> capturer_;
  std::shared_ptr<rtc::VideoTrack> track_;
  ClockTimer keyFrames_;
  size_t keyFramesSent_ = 0;
};

}  // namespace lunor
