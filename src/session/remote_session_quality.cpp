// Quality profiles, the host's capture and its adjustments, and the display list.

#include <cmath>

#include <QTimer>

#include "host/control_injector.h"
#include "session/remote_session.h"
#include "session/session_environment.h"
#include "session/signaling_client.h"

namespace lunor {
namespace {

const QString kTypeKey = QStringLiteral("type");
constexpr char kLocalTrackId[] = "local-screen";
constexpr char kLocalStreamId[] = "local-stream";

QJsonObject signalMessage(const QJsonObject& payload) {
  return QJsonObject{{kTypeKey, QStringLiteral("signal")}, {QStringLiteral("data"), payload}};
}

QString displayName(int index) { return QStringLiteral("Écran %1").arg(index + 1); }

QString resolution(int width, int height) { return QStringLiteral("%1x%2").arg(width).arg(height); }

}  // namespace

// ---------------------------------------------------------- shared state --

std::shared_ptr<ScreenCapturer> RemoteSession::capturer() const {
  std::lock_guard lock(mediaMutex_);
  return screenCapturer_;
}

std::shared_ptr<rtc::VideoSource> RemoteSession::videoSource() const {
  std::lock_guard lock(mediaMutex_);
  return screenVideoSource_;
}

QSize RemoteSession::nativeDisplaySize() const {
  std::lock_guard lock(mediaMutex_);
  return nativeDisplaySize_;
}

void RemoteSession::setNativeDisplaySize(QSize size) {
  std::lock_guard lock(mediaMutex_);
  nativeDisplaySize_ = size;
}

QSize RemoteSession::displayPixelSize(uint32_t id) {
  for (const auto& display : environment_.displays()) {
    if (display.id == id) return {display.width, display.height};
  }
  return {0, 0};
}

uint32_t RemoteSession::fallbackDisplayId(int index) {
  const auto displays = environment_.displays();
  if (displays.empty()) return 0;
  const auto at = std::clamp<qsizetype>(index, 0, static_cast<qsizetype>(displays.size()) - 1);
  return displays[static_cast<size_t>(at)].id;
}

// ------------------------------------------------------------ client asks --

void RemoteSession::requestQuality(const QString& rawProfile) {
  if (role() != Role::Client) return;
  const auto profile = qualityFromRaw(rawProfile);
  if (!profile) return;
  log(QStringLiteral("📨 Demande qualité envoyée: ") + rawProfile);
  sendSignaling(signalMessage({{kTypeKey, QStringLiteral("quality")}, {QStringLiteral("value"), rawProfile}}));
}

void RemoteSession::requestDisplaySwitch(int index) {
  if (role() != Role::Client) return;
  log(QStringLiteral("📨 Demande switch écran: #%1").arg(index));
  setCurrentDisplayIndex(index);
  setDisplayedVideoRect(QRectF());
  sendSignaling(signalMessage(
      {{kTypeKey, QStringLiteral("switchDisplay")}, {QStringLiteral("displayIndex"), index}}));
}

void RemoteSession::requestHardRefresh() {
  log(QStringLiteral("🔄 HARD REFRESH demandé"));
  if (peerConnection_) {
    log(QStringLiteral("♻️ ICE restart"));
    peerConnection_->restartIce();
  }
  sendSignaling(signalMessage({{kTypeKey, QStringLiteral("hard-refresh-request")}}));
  log(QStringLiteral("📤 hard-refresh-request envoyé au host"));
}

// ------------------------------------------------------------ host capture --

void RemoteSession::startHostCapture() {
  if (role() != Role::Host || !factory_) return;
  QSize size = displayPixelSize(currentDisplayId_.load());
  if (size.isEmpty()) {
    // The display went away: share whichever is first rather than nothing.
    const auto displays = environment_.displays();
    if (!displays.empty()) size = {displays.front().width, displays.front().height};
  }
  const int w = std::clamp(size.width(), 0, 16384);
  const int h = std::clamp(size.height(), 0, 16384);
  const int fps = settingsOf(currentQuality_).fps;
  setNativeDisplaySize({w, h});

  auto source = factory_->createVideoSource();
  if (!source) return;
  source->adaptOutputFormat(w, h, fps);
  std::shared_ptr<ScreenCapturer> capture = environment_.createScreenCapturer(source);
  if (!capture) return;
  {
    std::lock_guard lock(mediaMutex_);
    screenVideoSource_ = source;
    screenCapturer_ = capture;
  }

  QPointer<RemoteSession> weak(this);
  const QUuid generation = generation_;
  capture->startCapture(currentDisplayIndex_, w, h, fps, [weak, generation, source, w, h, fps](
                                                             std::optional<CaptureError> error) {
    if (!weak || weak->generation_ != generation || weak->videoSource() != source) return;
    RemoteSession& self = *weak;
    if (error) {
      self.setStatusNow(QStringLiteral("Erreur: ") + error->text);
      self.log(QStringLiteral("❌ Erreur capture: ") + error->fullDescription());
      return;
    }
    auto track = self.factory_->createVideoTrack(source, kLocalTrackId);
    if (!track) return;
    track->setScreenContent(true);
    self.setLocalVideoTrack(track);
    self.sendVideoGeometry(w, h);
    self.setStatusNow(QStringLiteral("Capture %1x%2 @%3 fps").arg(w).arg(h).arg(fps));
    self.log(QStringLiteral("✅ Capture démarrée: %1x%2 @%3fps").arg(w).arg(h).arg(fps));

    if (self.peerConnection_) {
      if (!self.localVideoSender()) {
        self.peerConnection_->addTrack(track, {kLocalStreamId});
        self.peerConnection_->preferVideoCodec("H264");
      }
      if (self.localVideoSender()) {
        QTimer::singleShot(0, &self, [weak] {
          if (weak) weak->refreshDisplays();
        });
        self.applySenderBitrate(self.currentQuality_);
      }
    }
    if (self.shouldMakeOfferWhenReady_) self.sendOfferIfReady();
  });
}

void RemoteSession::refreshDisplays() {
  auto capture = capturer();
  if (!capture) return;
  QPointer<RemoteSession> weak(this);
  capture->shareableDisplays([weak](std::vector<DisplayDescription> displays,
                                    std::optional<CaptureError> error) {
    if (!weak) return;
    if (error) {
      weak->log(QStringLiteral("❌ Erreur chargement écrans: ") + error->text);
      return;
    }
    weak->setDisplayInfos(displays);
    QJsonArray entries;
    for (size_t i = 0; i < displays.size(); ++i) {
      const auto index = static_cast<int>(i);
      entries.append(QJsonObject{{QStringLiteral("index"), index},
                                 {QStringLiteral("name"), displayName(index)},
                                 {QStringLiteral("resolution"), resolution(displays[i].width, displays[i].height)},
                                 {QStringLiteral("id"), static_cast<double>(displays[i].id)}});
    }
    weak->sendSignaling(signalMessage(
        {{kTypeKey, QStringLiteral("displays")}, {QStringLiteral("displays"), entries}}));
  });
}

void RemoteSession::setDisplayInfos(const std::vector<DisplayDescription>& displays) {
  displayInfos_ = displays;
  QVariantList available;
  for (size_t i = 0; i < displays.size(); ++i) {
    const auto index = static_cast<int>(i);
    available.append(QVariantMap{{QStringLiteral("index"), index},
                                 {QStringLiteral("name"), displayName(index)},
                                 {QStringLiteral("resolution"), resolution(displays[i].width, displays[i].height)}});
  }
  setAvailableDisplays(available);
  if (currentDisplayIndex_ >= 0 && currentDisplayIndex_ < static_cast<int>(displays.size())) {
    const uint32_t id = displays[static_cast<size_t>(currentDisplayIndex_)].id;
    currentDisplayId_ = id;
    controlInjector_->setCurrentDisplayId(id);
  }
  log(QStringLiteral("🖥️ %1 écran(s) détecté(s)").arg(displays.size()));
}

void RemoteSession::sendVideoGeometry(int width, int height) {
  sendSignaling(signalMessage({{kTypeKey, QStringLiteral("videoGeometry")},
                               {QStringLiteral("width"), width},
                               {QStringLiteral("height"), height},
                               {QStringLiteral("activeDisplay"), currentDisplayIndex_},
                               {QStringLiteral("displayID"), static_cast<double>(currentDisplayId_.load())}}));
}

void RemoteSession::applyQuality(QualityProfile profile) {
  if (role() != Role::Host) return;
  setCurrentQuality(profile);
  const QualitySettings& q = settingsOf(profile);
  log(QStringLiteral("🎛️ Qualité = %1 → %2x%3 @%4fps (bitrate: %5Mbps)")
          .arg(rawValue(profile))
          .arg(q.width)
          .arg(q.height)
          .arg(q.fps)
          .arg(wholeMbps(q.maxBitrateBps)));
  if (auto source = videoSource()) source->adaptOutputFormat(q.width, q.height, q.fps);
  if (auto capture = capturer()) {
    QPointer<RemoteSession> weak(this);
    capture->setFrameRate(q.fps, [weak, q](std::optional<CaptureError> error) {
      postIfAlive(weak, [error, q](RemoteSession& self) {
        if (error) {
          self.log(QStringLiteral("⚠️ Erreur update capture: ") + error->text);
        } else {
          self.log(QStringLiteral("✅ Capture mise à jour: %1x%2 @%3fps").arg(q.width).arg(q.height).arg(q.fps));
        }
      });
    });
  }
  if (peerConnection_ && localVideoTrack_ && localVideoSender()) {
    applySenderBitrate(profile);
    log(QStringLiteral("🚀 Bitrate MAJ: min=%1Mbps max=%2Mbps")
            .arg(wholeMbps(q.minBitrateBps))
            .arg(wholeMbps(q.maxBitrateBps)));
  }
  setStatus(QStringLiteral("Capture %1x%2 @%3fps").arg(q.width).arg(q.height).arg(q.fps));
  const QSize native = nativeDisplaySize();
  sendVideoGeometry(native.width(), native.height());
}

void RemoteSession::stopAndRestartCapture(int displayIndex, int width, int height, int fps,
                                          CaptureDone done) {
  auto capture = capturer();
  if (!capture) return;
  if (capture->hasStream()) capture->stopCapture();
  capture->startCapture(displayIndex, width, height, fps, std::move(done));
}

void RemoteSession::switchDisplay(int index) {
  if (role() != Role::Host) return;
  if (index < 0 || index >= availableDisplays_.size()) return;
  setCurrentDisplayIndex(index);
  const QVariantMap entry = availableDisplays_.at(index).toMap();
  log(QStringLiteral("🖥️ Switch vers écran #%1: %2 (%3)")
          .arg(index)
          .arg(entry.value(QStringLiteral("name")).toString(),
               entry.value(QStringLiteral("resolution")).toString()));

  QPointer<RemoteSession> weak(this);
  QTimer::singleShot(0, this, [this, index, weak] {
    uint32_t id = 0;
    if (index < static_cast<int>(displayInfos_.size())) {
      id = displayInfos_[static_cast<size_t>(index)].id;
      log(QStringLiteral("🎯 currentDisplayID mis à jour → %1").arg(id));
    } else {
      id = fallbackDisplayId(index);
      log(QStringLiteral("⚠️ displayInfos manquants, fallback NSScreen → %1").arg(id));
    }
    currentDisplayId_ = id;
    controlInjector_->setCurrentDisplayId(id);
    const QSize size = displayPixelSize(id);
    setNativeDisplaySize(size);
    log(QStringLiteral("📐 nativeDisplaySize mise à jour: %1x%2").arg(size.width()).arg(size.height()));

    const int fps = settingsOf(currentQuality_).fps;
    stopAndRestartCapture(index, size.width(), size.height(), fps,
                          [weak, size, fps](std::optional<CaptureError> error) {
                            if (!weak) return;
                            if (error) {
                              weak->log(QStringLiteral("❌ Erreur switch écran: ") + error->text);
                            } else {
                              weak->log(QStringLiteral("✅ Capture switchDisplay → %1x%2 @%3fps")
                                            .arg(size.width())
                                            .arg(size.height())
                                            .arg(fps));
                            }
                          });
    setStatus(QStringLiteral("%1 - %2").arg(displayName(index), resolution(size.width(), size.height())));
    controlInjector_->moveTo(0.5, 0.5);
    sendVideoGeometry(size.width(), size.height());
    log(QStringLiteral("📤 videoGeometry envoyé après switch: %1x%2 (display %3)")
            .arg(size.width())
            .arg(size.height())
            .arg(currentDisplayIndex_));
  });
}

void RemoteSession::restartCapture(const QString& request) {
  log(request == QLatin1String("refresh-request")
          ? QStringLiteral("🔄 Refresh qualité demandé par le client")
          : QStringLiteral("🔄 Hard refresh demandé par le client"));
  if (!capturer()) return;
  log(QStringLiteral("♻️ Restart capture vidéo"));
  QTimer::singleShot(0, this, [this] {
    const QualitySettings& q = settingsOf(currentQuality_);
    stopAndRestartCapture(currentDisplayIndex_, q.width, q.height, q.fps, nullptr);
  });
}

// ------------------------------------------------------- client payloads --

void RemoteSession::handleDisplaysPayload(const QJsonObject& data) {
  QVariantList entries;
  for (const QJsonValue& value : data.value(QLatin1String("displays")).toArray()) {
    const QJsonObject entry = value.toObject();
    const QJsonValue index = entry.value(QLatin1String("index"));
    const QJsonValue name = entry.value(QLatin1String("name"));
    const QJsonValue res = entry.value(QLatin1String("resolution"));
    if (!index.isDouble() || index.toDouble() != std::floor(index.toDouble()) ||
        std::abs(index.toDouble()) > 1e6 || !name.isString() || !res.isString()) {
      continue;
    }
    entries.append(QVariantMap{{QStringLiteral("index"), index.toInt()},
                               {QStringLiteral("name"), name.toString()},
                               {QStringLiteral("resolution"), res.toString()}});
  }
  if (entries.isEmpty()) {
    log(QStringLiteral("📥 displays[] vide ignoré (on conserve la liste actuelle)"));
    return;
  }
  setAvailableDisplays(entries);
  log(QStringLiteral("📥 %1 écran(s) disponible(s) reçu(s)").arg(entries.size()));
}

void RemoteSession::handleVideoGeometryPayload(const QJsonObject& data) {
  if (role() == Role::Host) {
    const QJsonValue id = data.value(QLatin1String("displayID"));
    if (!id.isDouble()) return;
    const double value = id.toDouble();
    if (value != std::floor(value) || value < 0 || value > 4294967295.0) return;
    currentDisplayId_ = static_cast<uint32_t>(value);
    controlInjector_->setCurrentDisplayId(currentDisplayId_);
    return;
  }
  auto dimension = [&](const char* key) {
    const QJsonValue v = data.value(QLatin1String(key));
    if (!v.isDouble() || !std::isfinite(v.toDouble())) return 0.0;
    return std::clamp(std::floor(v.toDouble()), 0.0, 1e6);
  };
  const double width = dimension("width");
  const double height = dimension("height");
  if (width > 0 && height > 0) setRemoteVideoSize(QSize(static_cast<int>(width), static_cast<int>(height)));
  const QJsonValue active = data.value(QLatin1String("activeDisplay"));
  if (active.isDouble() && active.toDouble() == std::floor(active.toDouble()) &&
      std::abs(active.toDouble()) <= 1e6) {
    setCurrentDisplayIndex(active.toInt());
  }
  log(QStringLiteral("📐 videoGeometry reçu: %1x%2 (display %3)")
          .arg(width)
          .arg(height)
          .arg(currentDisplayIndex_));
}

// ------------------------------------------------------------ published --

void RemoteSession::setAvailableDisplays(const QVariantList& displays) {
  if (availableDisplays_ == displays) return;
  availableDisplays_ = displays;
  Q_EMIT availableDisplaysChanged();
}

void RemoteSession::setCurrentDisplayIndex(int index) {
  if (currentDisplayIndex_ == index) return;
  currentDisplayIndex_ = index;
  Q_EMIT currentDisplayIndexChanged();
}

void RemoteSession::setRemoteVideoSize(const QSize& size) {
  if (remoteVideoSize_ == size) return;
  remoteVideoSize_ = size;
  Q_EMIT remoteVideoSizeChanged();
}

void RemoteSession::setCurrentQuality(QualityProfile profile) {
  if (currentQuality_ == profile) return;
  currentQuality_ = profile;
  Q_EMIT currentQualityChanged();
}

}  // namespace lunor
