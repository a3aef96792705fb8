// The peer connection: creation, the host's offer, the client's answer, ICE
// candidates, the remote track and the "control" data channel.

#include <QCoreApplication>
#include <QThread>

#include "host/control_injector.h"
#include "session/remote_session.h"
#include "session/sdp_rewrite.h"
#include "session/session_environment.h"
#include "session/signaling_client.h"

namespace lunor {
namespace {

const QString kTypeKey = QStringLiteral("type");
constexpr int kIceCheckMs = 10'000;
constexpr char kControlLabel[] = "control";
constexpr char kLocalStreamId[] = "local-stream";

QString roleText(Role role) {
  return role == Role::Host ? QStringLiteral("HOST") : QStringLiteral("CLIENT");
}

// The description text of an "offer" or "answer" payload: data.sdp.sdp.
std::optional<QString> nestedSdp(const QJsonObject& data) {
  const QJsonValue outer = data.value(QLatin1String("sdp"));
  if (!outer.isObject()) return std::nullopt;
  const QJsonValue inner = outer.toObject().value(QLatin1String("sdp"));
  if (!inner.isString()) return std::nullopt;
  return inner.toString();
}

QJsonObject descriptionPayload(const QString& type, const std::string& sdp) {
  return QJsonObject{{kTypeKey, type},
                     {QStringLiteral("sdp"),
                      QJsonObject{{kTypeKey, type}, {QStringLiteral("sdp"), QString::fromStdString(sdp)}}}};
}

QJsonObject signalMessage(const QJsonObject& payload) {
  return QJsonObject{{kTypeKey, QStringLiteral("signal")}, {QStringLiteral("data"), payload}};
}

}  // namespace

void RemoteSession::postIfAlive(QPointer<RemoteSession> weak,
                                std::function<void(RemoteSession&)> call) {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [weak, call = std::move(call)] {
        if (weak) call(*weak);
      },
      Qt::QueuedConnection);
}

// ------------------------------------------------------------------- creation --

std::shared_ptr<rtc::DataChannel> RemoteSession::currentControlChannel() {
  std::lock_guard lock(mediaMutex_);
  return controlChannel_;
}

void RemoteSession::dropControlChannel() {
  std::shared_ptr<rtc::DataChannel> channel;
  {
    std::lock_guard lock(mediaMutex_);
    channel = std::exchange(controlChannel_, nullptr);
  }
  if (channel) channel->setObserver(nullptr);
}

void RemoteSession::closePeerConnection() {
  // The connection's observer first: after this no new channel can arrive.
  if (peerConnection_) peerConnection_->setObserver(nullptr);
  dropControlChannel();
  if (peerConnection_) {
    peerConnection_->close();
    peerConnection_.reset();
  }
}

void RemoteSession::createPeerConnection() {
  Q_ASSERT(isMainThread());
  closePeerConnection();
  hasSentInitialOffer_ = false;
  if (!factory_) return;

  rtc::MediaConstraints constraints;
  constraints.optional["DtlsSrtpKeyAgreement"] = "true";
  auto connection =
      factory_->createPeerConnection(environment_.peerConfiguration(), constraints, this);
  if (!connection) return;
  peerConnection_ = std::move(connection);
  log(QStringLiteral("✅ PeerConnection créée (role=") + roleText(role()) + QLatin1Char(')'));

  if (role() == Role::Host) {
    auto channel = peerConnection_->createDataChannel(kControlLabel, /*ordered=*/true);
    if (channel) {
      channel->setObserver(this);
      {
        std::lock_guard lock(mediaMutex_);
        controlChannel_ = std::move(channel);
      }
      log(QStringLiteral("✅ DataChannel 'control' créé (host)"));
    } else {
      log(QStringLiteral("❌ Impossible de créer le DataChannel 'control' (host)"));
    }
  } else {
    log(QStringLiteral("ℹ️ Client en attente du DataChannel 'control' (réception via didOpen)"));
  }

  postToMain([this] { startIceCheckTimer(); });

  if (role() == Role::Client) {
    log(QStringLiteral("ℹ️ Client : en attente des tracks de l'host (pas de transceiver explicite)"));
    return;
  }
  // A sharp, current picture from the first second: start within the
  // profile's range rather than at the library's low default.
  const QualitySettings& quality = settingsOf(currentQuality_);
  peerConnection_->setBitrateRange(quality.minBitrateBps,
                                   (quality.minBitrateBps + quality.maxBitrateBps) / 2,
                                   quality.maxBitrateBps);
  if (!localVideoTrack_) return;
  peerConnection_->addTrack(localVideoTrack_, {kLocalStreamId});
  peerConnection_->preferVideoCodec("H264");
  log(QStringLiteral("✅ Track locale ajoutée"));
  if (!localVideoSender()) return;
  applySenderBitrate(currentQuality_);
  log(QStringLiteral("🚀 Bitrate PC creation: min=%1Mbps max=%2Mbps")
          .arg(wholeMbps(quality.minBitrateBps))
          .arg(wholeMbps(quality.maxBitrateBps)));
}

std::shared_ptr<rtc::RtpSender> RemoteSession::localVideoSender() {
  if (!peerConnection_ || !localVideoTrack_) return nullptr;
  const std::string id = localVideoTrack_->trackId();
  for (auto& sender : peerConnection_->senders()) {
    if (sender->trackId() == id) return sender;
  }
  return nullptr;
}

void RemoteSession::applySenderBitrate(QualityProfile profile) {
  auto sender = localVideoSender();
  if (!sender) return;
  const QualitySettings& quality = settingsOf(profile);
  std::vector<rtc::RtpEncoding> encodings = sender->encodings();
  if (encodings.empty()) encodings.emplace_back();
  for (auto& encoding : encodings) {
    encoding.maxBitrateBps = quality.maxBitrateBps;
    encoding.minBitrateBps = quality.minBitrateBps;
  }
  sender->setEncodings(encodings);
}

void RemoteSession::startIceCheckTimer() {
  iceCheckTimer_ = std::make_unique<QTimer>();
  iceCheckTimer_->setSingleShot(true);
  iceCheckTimer_->setInterval(kIceCheckMs);
  connect(iceCheckTimer_.get(), &QTimer::timeout, this, [this] {
    if (!peerConnection_) return;
    const auto state = peerConnection_->iceConnectionState();
    if (state == rtc::IceConnectionState::Connected || state == rtc::IceConnectionState::Completed) {
      return;
    }
    log(QStringLiteral("⏰ TIMEOUT ICE (10s): État=%1").arg(static_cast<int>(state)));
  });
  iceCheckTimer_->start();
}

// -------------------------------------------------------------------- offers --

void RemoteSession::sendOfferIfReady() {
  if (role() != Role::Host) return;
  if (!approved_ || !peerConnection_ || !localVideoTrack_) return;
  if (hasSentInitialOffer_) {
    log(QStringLiteral("ℹ️ Offre déjà envoyée, pas de doublon"));
    return;
  }
  hasSentInitialOffer_ = true;
  log(QStringLiteral("🟢 Conditions OK → envoi de l’offre initiale"));
  makeOffer();
}

void RemoteSession::makeOffer() {
  if (!peerConnection_) return;
  if (role() == Role::Host && !localVideoTrack_) {
    log(QStringLiteral("⚠️ makeOffer() appelé sans track locale — on annule"));
    return;
  }
  rtc::MediaConstraints constraints;
  constraints.mandatory = {{"OfferToReceiveVideo", "false"}, {"OfferToReceiveAudio", "false"}};
  QPointer<RemoteSession> weak(this);
  const rtc::PeerConnection* pc = peerConnection_.get();
  peerConnection_->createOffer(
      constraints, [weak, pc](std::optional<rtc::SessionDescription> offer, rtc::Error error) {
        if (!error.ok() || !offer) return;
        postIfAlive(weak, [pc, offer = *offer](RemoteSession& self) {
          if (self.peerConnection_.get() != pc) return;
          bool bandwidth = false;
          const QString text = rewriteOfferSdp(QString::fromStdString(offer.sdp),
                                               settingsOf(self.currentQuality_), &bandwidth);
          if (bandwidth) {
            self.log(QStringLiteral("📝 SDP: bitrate forcé à %1kbps")
                         .arg(settingsOf(self.currentQuality_).sdpBandwidthKbps));
          }
          const rtc::SessionDescription rewritten{rtc::SdpType::Offer, text.toStdString()};
          QPointer<RemoteSession> weakSelf(&self);
          self.peerConnection_->setLocalDescription(rewritten, [weakSelf, pc, rewritten](rtc::Error e) {
            if (!e.ok()) return;
            postIfAlive(weakSelf, [pc, rewritten](RemoteSession& s) {
              if (s.peerConnection_.get() != pc) return;
              s.sendSignaling(signalMessage(descriptionPayload(QStringLiteral("offer"), rewritten.sdp)));
              s.log(QStringLiteral("✅ Offer envoyée"));
            });
          });
        });
      });
}

// ------------------------------------------------------------------ payloads --

void RemoteSession::handleSignalPayload(const QJsonObject& data) {
  const QJsonValue typeValue = data.value(kTypeKey);
  if (!typeValue.isString()) return;
  const QString type = typeValue.toString();
  if (type == QLatin1String("offer")) {
    handleOffer(data);
  } else if (type == QLatin1String("answer")) {
    handleAnswer(data);
  } else if (type == QLatin1String("ice")) {
    handleRemoteCandidate(data);
  } else if (type == QLatin1String("end")) {
    const QJsonValue reason = data.value(QLatin1String("reason"));
    endSession(reason.isString() ? reason.toString() : QString::fromUtf8(kReasonPeerEnded),
               /*silent=*/true);
  } else if (type == QLatin1String("quality")) {
    if (role() != Role::Host) return;
    const QJsonValue value = data.value(QLatin1String("value"));
    const auto profile = value.isString() ? qualityFromRaw(value.toString()) : std::nullopt;
    if (!profile) return;
    log(QStringLiteral("📥 Signal quality reçu: ") + value.toString());
    applyQuality(*profile);
  } else if (type == QLatin1String("switchDisplay")) {
    if (role() != Role::Host) return;
    const QJsonValue index = data.value(QLatin1String("displayIndex"));
    if (!index.isDouble() || index.toDouble() != std::floor(index.toDouble()) ||
        std::abs(index.toDouble()) > 1e9) {
      return;
    }
    log(QStringLiteral("📥 Signal switchDisplay reçu: #%1").arg(index.toInt()));
    switchDisplay(index.toInt());
  } else if (type == QLatin1String("hard-refresh-request")) {
    if (role() == Role::Host) restartCapture(type);
  } else if (type == QLatin1String("displays")) {
    if (role() == Role::Client) handleDisplaysPayload(data);
  } else if (type == QLatin1String("videoGeometry")) {
    handleVideoGeometryPayload(data);
  }
}

void RemoteSession::handleOffer(const QJsonObject& data) {
  const auto sdp = nestedSdp(data);
  if (!sdp || !peerConnection_) return;
  QPointer<RemoteSession> weak(this);
  const rtc::PeerConnection* pc = peerConnection_.get();
  peerConnection_->setRemoteDescription(
      {rtc::SdpType::Offer, sdp->toStdString()}, [weak, pc](rtc::Error error) {
        if (!error.ok()) return;
        postIfAlive(weak, [pc](RemoteSession& self) {
          if (self.peerConnection_.get() != pc) return;
          rtc::MediaConstraints constraints;
          constraints.mandatory = {{"OfferToReceiveVideo", "true"}, {"OfferToReceiveAudio", "false"}};
          QPointer<RemoteSession> weakSelf(&self);
          self.peerConnection_->createAnswer(
              constraints, [weakSelf, pc](std::optional<rtc::SessionDescription> answer, rtc::Error e) {
                if (!e.ok() || !answer) return;
                postIfAlive(weakSelf, [pc, answer = *answer](RemoteSession& s) {
                  if (s.peerConnection_.get() != pc) return;
                  QPointer<RemoteSession> weakS(&s);
                  s.peerConnection_->setLocalDescription(answer, [weakS, pc, answer](rtc::Error e2) {
                    if (!e2.ok()) return;
                    postIfAlive(weakS, [pc, answer](RemoteSession& session) {
                      if (session.peerConnection_.get() != pc) return;
                      session.sendSignaling(
                          signalMessage(descriptionPayload(QStringLiteral("answer"), answer.sdp)));
                      session.log(QStringLiteral("✅ Answer envoyée"));
                    });
                  });
                });
              });
        });
      });
}

void RemoteSession::handleAnswer(const QJsonObject& data) {
  const auto sdp = nestedSdp(data);
  if (!sdp || !peerConnection_) return;
  QPointer<RemoteSession> weak(this);
  peerConnection_->setRemoteDescription(
      {rtc::SdpType::Answer, sdp->toStdString()}, [weak](rtc::Error error) {
        postIfAlive(weak, [error](RemoteSession& self) {
          if (!error.ok()) {
            self.log(QStringLiteral("❌ setRemote(answer): ") + QString::fromStdString(error.message));
          } else {
            self.log(QStringLiteral("✅ Answer acceptée"));
          }
        });
      });
}

void RemoteSession::handleRemoteCandidate(const QJsonObject& data) {
  const QJsonValue candidateValue = data.value(QLatin1String("candidate"));
  if (!candidateValue.isObject() || !peerConnection_) return;
  const QJsonObject candidate = candidateValue.toObject();
  const QJsonValue line = candidate.value(QLatin1String("candidate"));
  const QJsonValue mid = candidate.value(QLatin1String("sdpMid"));
  const QJsonValue index = candidate.value(QLatin1String("sdpMLineIndex"));
  if (!line.isString() || !mid.isString() || !index.isDouble()) return;
  const double number = index.toDouble();
  if (number != std::floor(number) || number < INT32_MIN || number > INT32_MAX) return;

  rtc::IceCandidate ice{line.toString().toStdString(), mid.toString().toStdString(),
                        static_cast<int>(number)};
  QPointer<RemoteSession> weak(this);
  peerConnection_->addIceCandidate(ice, [weak](rtc::Error error) {
    if (error.ok()) return;
    postIfAlive(weak, [error](RemoteSession& self) {
      self.log(QStringLiteral("❌ addIceCandidate: ") + QString::fromStdString(error.message));
    });
  });
}

// ------------------------------------------------------- library callbacks --
// These run on the library's threads. The observers are cleared (and any call
// in flight waited for) before the session lets go of the connection, so
// `this` is alive here; published state is changed on the main thread only.

void RemoteSession::onIceConnectionChange(rtc::IceConnectionState state) {
  postToMain([this, state] { applyIceState(state); });
}

void RemoteSession::onIceCandidate(const rtc::IceCandidate& candidate) {
  const QJsonObject payload{
      {kTypeKey, QStringLiteral("ice")},
      {QStringLiteral("candidate"),
       QJsonObject{{QStringLiteral("candidate"), QString::fromStdString(candidate.sdp)},
                   {QStringLiteral("sdpMid"),
                    QString::fromStdString(candidate.sdpMid.value_or(std::string("0")))},
                   {QStringLiteral("sdpMLineIndex"), candidate.sdpMLineIndex}}}};
  postToMain([this, payload] { sendSignaling(signalMessage(payload)); });
}

void RemoteSession::onVideoTrack(std::shared_ptr<rtc::VideoTrack> track) {
  log(QStringLiteral("🎥 Track vidéo distante reçue (id=") + QString::fromStdString(track->trackId()) +
      QLatin1Char(')'));
  postToMain([this, track] {
    if (!startedAt_.isValid()) setStartedAt(QDateTime::currentDateTime());
    setRemoteVideoTrack(track);
    setStatusNow(QStringLiteral("Réception vidéo active"));
  });
}

void RemoteSession::onDataChannel(std::shared_ptr<rtc::DataChannel> channel) {
  const QString label = QString::fromStdString(channel->label());
  log(QStringLiteral("🔗 DataChannel reçu: ") + label);
  if (label != QLatin1String(kControlLabel)) return;
  // Adopted here, on the library thread, so no message can slip past.
  channel->setObserver(this);
  std::shared_ptr<rtc::DataChannel> previous;
  {
    std::lock_guard lock(mediaMutex_);
    previous = std::exchange(controlChannel_, channel);
  }
  if (previous && previous != channel) previous->setObserver(nullptr);
  log(QStringLiteral("✅ DataChannel 'control' prêt (") +
      (role() == Role::Host ? QStringLiteral("host") : QStringLiteral("client")) + QLatin1Char(')'));
}

void RemoteSession::onStateChange(rtc::DataChannelState state) {
  log(QStringLiteral("🔗 'control' state = %1").arg(static_cast<int>(state)));
}

}  // namespace lunor
