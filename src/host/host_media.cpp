// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/host_media.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "session/epoch.h"
#include "session/negotiation.h"
#include "host/host_environment.h"
#include "protocol/signaling_messages.h"

namespace lunor {
namespace {

// Sizes a display can have and a capture can ask for.
constexpr int kMaxSide = 16384;

QString displayName(int index) { return QStringLiteral("Écran %1").arg(index + 1); }

QString resolution(QSize size) { return QStringLiteral("%1x%2").arg(size.width()).arg(size.height()); }

}  // namespace

QSize fittedSize(QSize size, QSize bounds) {
  if (size.width() <= 0 || size.height() <= 0) return {0, 0};
  double scale = 1.0;
  if (bounds.width() > 0 && bounds.height() > 0) {
    scale = std::min({1.0, double(bounds.width()) / size.width(), double(bounds.height()) / size.height()});
  }
  auto even = [](double side) { return std::max(2, static_cast<int>(std::floor(side / 2)) * 2); };
  if (scale >= 1.0) return size;
  return {even(size.width() * scale), even(size.height() * scale)};
}

HostMedia::HostMedia(HostEnvironment& environment, Clock& clock, rtc::PeerConnectionFactory* factory,
                     Negotiation& negotiation, Epoch& epoch, Log log, QObject* parent)
    : QObject(parent),
      environment_(environment),
      factory_(factory),
      negotiation_(negotiation),
      epoch_(epoch),
      log_(std::move(log)),
      displayId_(environment.displays().mainDisplayId()),
      keyFrames_(clock) {
  keyFrames_.setSingleShot(true);
  keyFrames_.onTimeout([this] {
    // Soon after the path is up, then less often: a picture lost on the way
    // costs a fraction of a second, and a client that never says it has one
    // (an older one) gets no more than these.
    static constexpr int kAfterMs[] = {300, 700, 1000, 2000};
    if (source_) source_->sendKeyFrame();
    if (keyFramesSent_ < std::size(kAfterMs)) keyFrames_.start(kAfterMs[keyFramesSent_++]);
  });
}

HostMedia::~HostMedia() { stop(); }

QSize HostMedia::displaySize(uint32_t id) const {
  for (const auto& display : environment_.displays().displays()) {
    if (display.id == id) {
      return {std::clamp(display.width, 0, kMaxSide), std::clamp(display.height, 0, kMaxSide)};
    }
  }
  return {0, 0};
}

void HostMedia::applySourceFormat() {
  if (!source_) return;
  const QualitySettings& q = settingsOf(quality_);
  const QSize size = profileChosen_ ? fittedSize(nativeSize_, {q.width, q.height}) : nativeSize_;
  source_->adaptOutputFormat(size.width(), size.height(), boost_ > 0 ? kBoostFps : q.fps);
}

void HostMedia::setDisplayIndex(int index) {
  if (displayIndex_ == index) return;
  displayIndex_ = index;
  Q_EMIT displayIndexChanged(index);
}

void HostMedia::setDisplay(uint32_t id) {
  displayId_ = id;
  Q_EMIT displayIdChanged(id);
}

void HostMedia::sendGeometry() {
  Q_EMIT payloadReady(signaling::videoGeometryPayload(nativeSize_.width(), nativeSize_.height(),
                                                      displayIndex_, displayId_));
}

// ------------------------------------------------------------------ capture --

void HostMedia::startCapture() {
  if (!factory_) return;
  QSize size = displaySize(displayId_);
  if (size.isEmpty()) {
    // The display went away: share whichever is first rather than nothing.
    const auto displays = environment_.displays().displays();
    if (!displays.empty()) size = displaySize(displays.front().id);
  }
  const int fps = settingsOf(quality_).fps;
  nativeSize_ = size;

  auto source = factory_->createVideoSource();
  if (!source) return;
  capturer_.reset();  // stops the previous stream, if any
  source_ = source;
  track_.reset();
  applySourceFormat();
  capturer_ = environment_.createScreenCapturer(source);
  if (!capturer_) return;

  const Epoch::Ticket ticket = epoch_.ticket();
  capturer_->setStoppedHandler([this, ticket](const CaptureError& error) {
    if (!epoch_.isCurrent(ticket)) return;
    log_(QStringLiteral("❌ Capture interrompue: ") + error.fullDescription());
    Q_EMIT statusChanged(QStringLiteral("Erreur: ") + error.text);
    if (error.code == CaptureError::kStoppedHere) Q_EMIT captureRefused(error.text);
  });
  capturer_->setChoosingHandler([this, ticket](int timeoutMs) {
    if (epoch_.isCurrent(ticket)) Q_EMIT personChoosing(timeoutMs);
  });
  capturer_->startCapture(displayIndex_, size.width(), size.height(), fps,
                          [this, ticket, source, size, fps](std::optional<CaptureError> error) {
                            if (!epoch_.isCurrent(ticket) || source_ != source) return;
                            if (error) {
                              Q_EMIT statusChanged(QStringLiteral("Erreur: ") + error->text);
                              log_(QStringLiteral("❌ Erreur capture: ") + error->fullDescription());
                              if (error->code == CaptureError::kNotAllowed) Q_EMIT captureRefused(error->text);
                              return;
                            }
                            captureStarted(source, size, fps);
                          });
}

void HostMedia::captureStarted(const std::shared_ptr<rtc::VideoSource>& source, QSize size, int fps) {
  if (size.isEmpty()) {
    // A display known only once shared (a desktop portal's, before its
    // first session): the list has it now.
    const auto displays = environment_.displays().displays();
    if (displayIndex_ >= 0 && displayIndex_ < static_cast<int>(displays.size())) {
      const DisplayDescription& shared = displays[static_cast<size_t>(displayIndex_)];
      setDisplay(shared.id);
      size = nativeSize_ = displaySize(shared.id);
      applySourceFormat();
    }
  }
  auto track = factory_->createVideoTrack(source, kTrackId);
  if (!track) return;
  track->setScreenContent(true);
  track_ = track;
  sendGeometry();
  Q_EMIT statusChanged(QStringLiteral("Capture %1x%2 @%3 fps").arg(size.width()).arg(size.height()).arg(fps));
  log_(QStringLiteral("✅ Capture démarrée: %1x%2 @%3fps").arg(size.width()).arg(size.height()).arg(fps));
  if (negotiation_.exists()) {
    negotiation_.addTrack(track, kStreamId);
    if (negotiation_.isSending(*track)) {
      const Epoch::Ticket ticket = epoch_.ticket();
      ticket.post([this] { refreshDisplays(); });
      applySenderBitrate();
    }
  }
  Q_EMIT trackReady(track);
}

void HostMedia::applySenderBitrate() {
  if (!track_) return;
  const QualitySettings& q = settingsOf(quality_);
  negotiation_.setSenderBitrate(*track_, kLinkFloorBps, q.maxBitrateBps);
}

void HostMedia::restartStream(int width, int height, CaptureDone done) {
  if (!capturer_) return;
  if (capturer_->hasStream()) capturer_->stopCapture();
  capturer_->startCapture(displayIndex_, width, height, settingsOf(quality_).fps, std::move(done));
}

void HostMedia::sendKeyFramesUntilShown() {
  keyFramesSent_ = 0;
  keyFrames_.start(0);
}

void HostMedia::pictureShown() { keyFrames_.stop(); }

void HostMedia::stop() {
  keyFrames_.stop();
  if (capturer_) capturer_->stopCapture();
  capturer_.reset();
  source_.reset();
  track_.reset();
  boost_ = 0;
}

// ----------------------------------------------------------------- displays --

void HostMedia::refreshDisplays() {
  if (!capturer_) return;
  const Epoch::Ticket ticket = epoch_.ticket();
  capturer_->shareableDisplays([this, ticket](std::vector<DisplayDescription> displays,
                                              std::optional<CaptureError> error) {
    if (!epoch_.isCurrent(ticket)) return;
    if (error) {
      log_(QStringLiteral("❌ Erreur chargement écrans: ") + error->text);
      return;
    }
    displayInfos_ = displays;
    QVariantList available;
    std::vector<DisplayEntry> entries;
    for (size_t i = 0; i < displays.size(); ++i) {
      const auto index = static_cast<int>(i);
      const QString res = resolution({displays[i].width, displays[i].height});
      available.append(QVariantMap{{QStringLiteral("index"), index},
                                   {QStringLiteral("name"), displayName(index)},
                                   {QStringLiteral("resolution"), res}});
      entries.push_back({index, displayName(index), res, displays[i].id});
    }
    Q_EMIT displaysChanged(available);
    if (displayIndex_ >= 0 && displayIndex_ < static_cast<int>(displays.size())) {
      setDisplay(displays[static_cast<size_t>(displayIndex_)].id);
    }
    log_(QStringLiteral("🖥️ %1 écran(s) détecté(s)").arg(displays.size()));
    Q_EMIT payloadReady(signaling::displaysPayload(entries));
  });
}

void HostMedia::setDisplayId(uint32_t id) { setDisplay(id); }

void HostMedia::followDisplaySize(QSize size) {
  if (!capturer_ || !capturer_->hasStream() || size.isEmpty() || size == nativeSize_) return;
  nativeSize_ = size;
  applySourceFormat();
  const Epoch::Ticket started = epoch_.ticket();
  restartStream(size.width(), size.height(), [this, started, size](std::optional<CaptureError> error) {
    if (!epoch_.isCurrent(started)) return;
    if (error) log_(QStringLiteral("❌ Capture à la nouvelle taille %1 : %2").arg(resolution(size), error->text));
  });
  sendGeometry();
  refreshDisplays();
}

void HostMedia::switchDisplay(int index) {
  if (index < 0 || index >= static_cast<int>(displayInfos_.size())) return;
  const DisplayDescription display = displayInfos_[static_cast<size_t>(index)];
  setDisplayIndex(index);
  const QSize size{display.width, display.height};
  log_(QStringLiteral("🖥️ Switch vers écran #%1: %2 (%3)").arg(index).arg(displayName(index), resolution(size)));

  const Epoch::Ticket ticket = epoch_.ticket();
  ticket.post([this, index, id = display.id] {
    setDisplay(id);
    log_(QStringLiteral("🎯 currentDisplayID mis à jour → %1").arg(id));
    nativeSize_ = displaySize(id);
    log_(QStringLiteral("📐 nativeDisplaySize mise à jour: %1").arg(resolution(nativeSize_)));
    applySourceFormat();
    const int fps = settingsOf(quality_).fps;
    const Epoch::Ticket started = epoch_.ticket();
    restartStream(nativeSize_.width(), nativeSize_.height(),
                  [this, started, size = nativeSize_, fps](std::optional<CaptureError> error) {
                    if (!epoch_.isCurrent(started)) return;
                    if (error) {
                      log_(QStringLiteral("❌ Erreur switch écran: ") + error->text);
                    } else {
                      log_(QStringLiteral("✅ Capture switchDisplay → %1 @%2fps").arg(resolution(size)).arg(fps));
                    }
                  });
    Q_EMIT statusChanged(displayName(index) + QStringLiteral(" - ") + resolution(nativeSize_));
    Q_EMIT pointerToCentre();
    sendGeometry();
    log_(QStringLiteral("📤 videoGeometry envoyé après switch: %1 (display %2)")
             .arg(resolution(nativeSize_))
             .arg(displayIndex_));
  });
}

void HostMedia::restartCapture(const QString& request) {
  log_(request == QLatin1String("refresh-request") ? QStringLiteral("🔄 Refresh qualité demandé par le client")
                                                   : QStringLiteral("🔄 Hard refresh demandé par le client"));
  if (!capturer_) return;
  log_(QStringLiteral("♻️ Restart capture vidéo"));
  const Epoch::Ticket ticket = epoch_.ticket();
  ticket.post([this] {
    const QualitySettings& q = settingsOf(quality_);
    // Inside the profile's size with the display's proportions: a display
    // that is not 16:9 is not stretched.
    const QSize size = fittedSize(nativeSize_, {q.width, q.height});
    restartStream(size.width(), size.height(), nullptr);
    sendGeometry();
  });
}

// ------------------------------------------------------------------ quality --

void HostMedia::applyQuality(QualityProfile profile) {
  if (quality_ != profile) {
    quality_ = profile;
    Q_EMIT qualityChanged(profile);
  }
  profileChosen_ = true;
  const QualitySettings& q = settingsOf(profile);
  log_(QStringLiteral("🎛️ Qualité = %1 → %2x%3 @%4fps (bitrate: %5Mbps)")
           .arg(rawValue(profile))
           .arg(q.width)
           .arg(q.height)
           .arg(q.fps)
           .arg(wholeMbps(q.maxBitrateBps)));
  applySourceFormat();
  if (capturer_) {
    capturer_->setFrameRate(boost_ > 0 ? kBoostFps : q.fps, [this, q](std::optional<CaptureError> error) {
      if (error) {
        log_(QStringLiteral("⚠️ Erreur update capture: ") + error->text);
      } else {
        log_(QStringLiteral("✅ Capture mise à jour: %1x%2 @%3fps").arg(q.width).arg(q.height).arg(q.fps));
      }
    });
  }
  if (track_ && negotiation_.isSending(*track_)) {
    applySenderBitrate();
    log_(QStringLiteral("🚀 Bitrate MAJ: min=%1Mbps max=%2Mbps")
             .arg(wholeMbps(q.minBitrateBps))
             .arg(wholeMbps(q.maxBitrateBps)));
  }
  Q_EMIT statusChanged(QStringLiteral("Capture %1x%2 @%3fps").arg(q.width).arg(q.height).arg(q.fps));
  sendGeometry();
}

void HostMedia::beginDragBoost() {
  if (boost_++ > 0) return;
  applySourceFormat();
  if (capturer_) capturer_->setFrameRate(kBoostFps, nullptr);
}

void HostMedia::endDragBoost() {
  if (boost_ == 0) return;
  if (--boost_ > 0) return;
  applySourceFormat();
  if (capturer_) capturer_->setFrameRate(settingsOf(quality_).fps, nullptr);
}

}  // namespace lunor
