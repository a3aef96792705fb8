// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/host_session.h"

#include <algorithm>

#include <QPointer>

#include "host/control_injector.h"
#include "host/host_environment.h"
#include "host/host_media.h"
#include "host/injection_sequence.h"
#include "features/clipboard_sync.h"
#include "features/feature_exchange.h"
#include "features/session_features.h"
#include "protocol/sdp_rewrite.h"
#include "protocol/signaling_messages.h"
#include "protocol/signaling_wire.h"
#include "session/duration_text.h"
#include "session/epoch.h"
#include "session/published.h"
#include "session/session_environment.h"
#include "session/session_panels.h"
#include "store/host_identity.h"
#include "store/owner_key.h"
#include "store/unattended_password.h"
#include "store/user_profile_store.h"
#include "system/worker_thread.h"

namespace lunor {
namespace {

QString boolText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

}  // namespace

HostSession::HostSession(SessionEnvironment& environment, HostEnvironment& platform, QObject* parent)
    : Session(environment, Role::Host, parent), platform_(platform) {
  secrets_ = std::make_unique<WorkerThread>(QStringLiteral("lunor-secrets"));
  // The wrong passwords counted before a restart still count.
  budget_.restore(environment.profileStore().passwordBudget(), QDateTime::currentMSecsSinceEpoch());
  media_ = std::make_unique<HostMedia>(platform, environment.clock(), rtcFactory(), negotiation(), epoch(),
                                       [this](const QString& line) { log(line); });
  InjectionSequence::Hooks hooks;
  hooks.mayControl = [&platform] { return platform.mayControlComputer(); };
  hooks.log = [this](const QString& line) { log(line); };
  // The ticket is the connection's the button came on: a press still queued
  // when that connection closes boosts nothing after it.
  hooks.buttonEdge = [this](bool down, const Epoch::Ticket& arrival) {
    arrival.post([this, down] { down ? media_->beginDragBoost() : media_->endDragBoost(); });
  };
  input_ = std::make_unique<InjectionSequence>(platform.createControlInjector(), platform.displays(),
                                               media_->displayId(), std::move(hooks));

  connect(media_.get(), &HostMedia::trackReady, this, [this](std::shared_ptr<rtc::VideoTrack> track) {
    setLocalVideoTrack(std::move(track));
    if (shouldMakeOfferWhenReady_) sendOfferIfReady();
  });
  connect(media_.get(), &HostMedia::payloadReady, this, [this](const QJsonObject& p) { sendPayload(p); });
  connect(media_.get(), &HostMedia::statusChanged, this, [this](const QString& t) { setStatusNow(Status::Detail, t); });
  connect(media_.get(), &HostMedia::captureRefused, this, [this](const QString& why) { endWithoutPicture(why); });
  // The desktop's dialog may take its time: the client hears why no offer
  // comes, and waits as long as the dialog may.
  connect(media_.get(), &HostMedia::personChoosing, this, [this](int timeoutMs) {
    log(QStringLiteral("🪟 Choix de l’écran à partager dans la fenêtre du bureau (%1 s au plus)").arg(timeoutMs / 1000));
    setStatusNow(Status::ChooseScreen);
    sendPayload(signaling::hostChoosingPayload(timeoutMs));
    negotiation().armConnectDeadline(timeoutMs + Negotiation::kConnectDeadlineMs);
  });
  connect(media_.get(), &HostMedia::displaysChanged, this,
          [this](const QVariantList& displays) { setAvailableDisplays(displays); });
  connect(media_.get(), &HostMedia::qualityChanged, this, [this](QualityProfile p) { setCurrentQuality(p); });
  connect(media_.get(), &HostMedia::displayIndexChanged, this,
          [this](int index) { setCurrentDisplayIndex(index); });
  connect(media_.get(), &HostMedia::displayIdChanged, this, [this](uint32_t id) { input_->setDisplay(id); });
  connect(media_.get(), &HostMedia::pointerToCentre, this, [this] { input_->centrePointer(); });
  // The control channel open is the media path up (its DTLS is the same):
  // the picture goes now, not at the still screen's next refresh.
  connect(&negotiation(), &Negotiation::controlChannelOpened, media_.get(), &HostMedia::sendKeyFramesUntilShown);
  connect(&negotiation(), &Negotiation::peerShowsPicture, media_.get(), &HostMedia::pictureShown);
  connect(&negotiation(), &Negotiation::peerAsksScreenSize, this, &HostSession::screenSizeAsked);
  resizeTimer_.setSingleShot(true);
  resizeTimer_.setInterval(kResizeSettleMs);
  resizeTimer_.onTimeout([this] { applyScreenSize(); });
  // After a proof the picture comes in a second offer: its first frames may
  // go before the client has applied it, and be lost; once it has, a key
  // frame, and again until the client shows one.
  connect(&negotiation(), &Negotiation::answerApplied, this, [this](const QString& error) {
    if (error.isEmpty() && std::exchange(pictureAnswerAwaited_, false)) media_->sendKeyFramesUntilShown();
  });

  // The password's proof, on a channel of its own, before anything else.
  negotiation().setAdoptsPeerControl(false);
  proofDeadline_.setSingleShot(true);
  proofDeadline_.setInterval(kProofDeadlineMs);
  proofDeadline_.onTimeout([this] {
    if (!proving_) return;
    log(QStringLiteral("⏰ Mot de passe non prouvé après %1 s").arg(kProofDeadlineMs / 1000));
    stop(QString::fromUtf8(kReasonPasswordNotProved));
  });

  restartTimer_.setSingleShot(true);
  restartTimer_.setInterval(kRestartDelayMs);
  restartTimer_.onTimeout([this] { startHost(roomId_); });
  reconnectTimer_.setSingleShot(true);
  reconnectTimer_.onTimeout([this] { reconnect(); });

  // Only the host answers join notifications; a client session must not take
  // the buttons away from it.
  environment.notifications().setJoinActionHandler([this](const QString& clientId, JoinAction action) {
    handleNotificationAction(clientId, action);
  });
}

HostSession::~HostSession() {
  shutDown();  // no library callback may reach what follows once it starts going
  environment().notifications().setJoinActionHandler(nullptr);
  // Lets go of whatever the client still held, then stops the sequence.
  input_->releaseAll();
  input_.reset();
}

SessionFeatures& HostSession::sessionFeatures() { return SessionFeatures::of(features()); }

void HostSession::startHost(const QString& roomId) {
  LUNOR_REQUIRE_THREAD(this);
  begin(roomId);
  sessionFeatures().exchange().setAcceptsFilesUnasked(false);  // until an unattended join says otherwise
  sessionFeatures().exchange().setSeparateSession(separateSession_);
  roomId_ = roomId;
  hasSentInitialOffer_ = false;
  shouldMakeOfferWhenReady_ = false;
  reconnectTimer_.stop();
  setStatusNow(Status::HostWaiting);
  setConnectionState(LinkState::Waiting);
  setPendingJoin(false);
  setApproved(false);
  if (const QString why = roomYield_ ? roomYield_() : QString(); !why.isEmpty()) {
    if (statusDetail() != why) log(QStringLiteral("ℹ️ ") + why);
    setStatusNow(Status::Detail, why);
    reconnectLink_ = forgetLink();
    reconnectTimer_.start(kYieldRetryMs);
    return;
  }
  openLink();
}

QString HostSession::departureReason() const { return QString::fromUtf8(kReasonClientLeft); }

// --------------------------------------------------------------------- room --

void HostSession::signalingOpened() {
  reconnectDelayMs_ = 1000;
  sendCreate();
}

namespace {

// What a "create" and the password's proof need from the secret store.
struct CreateSecrets {
  std::optional<QString> ownerKey;
  std::optional<QString> password;  // nothing when there is none
  std::optional<proof::Identity> identity;
  std::vector<QByteArray> devices;
};

std::optional<QString> passwordIn(SecretStore& store) {
  auto password = loadUnattendedPassword(store);
  if (!password || password->isEmpty()) return std::nullopt;
  return password;
}

}  // namespace

void HostSession::sendCreate() {
  // The secret store is read off the main thread: a keyring that asks to be
  // unlocked must not freeze the window. The answer counts only for the
  // connection it was asked for.
  const bool unattended = environment().profileStore().unattendedEnabled();
  const Epoch::Ticket asked = link();
  SecretStore* store = &environment().secretStore();  // the environment outlives every session
  secrets_->run<CreateSecrets>(
      this,
      [unattended, store] {
        CreateSecrets secrets;
        secrets.ownerKey = ownerKey(*store);
        secrets.identity = hostIdentity(*store);
        secrets.devices = knownDevices(*store);
        if (unattended) secrets.password = passwordIn(*store);
        return secrets;
      },
      [this, asked, unattended, store](CreateSecrets secrets) {
        if (!asked.isCurrent()) return;
        proofSecrets_ = {secrets.password, secrets.identity, std::move(secrets.devices)};
        if (!unattended || secrets.password) {
          announceRoom(secrets.password, secrets.ownerKey, QStringLiteral("requiresApproval=true, "));
          return;
        }
        // The secret store may answer late right after login: look once more.
        QTimer::singleShot(kDelayedCreateMs, this, [this, asked, store, key = secrets.ownerKey] {
          if (!asked.isCurrent()) return;
          secrets_->run<std::optional<QString>>(this, [store] { return passwordIn(*store); },
                                                [this, asked, key](std::optional<QString> password) {
                                                  if (!asked.isCurrent()) return;
                                                  proofSecrets_.password = password;
                                                  announceRoom(password, key, QStringLiteral("DELAYED, "));
                                                });
        });
      });
}

void HostSession::announceRoom(const std::optional<QString>& password, const std::optional<QString>& key,
                               const QString& how) {
  // The host checks passwords itself; the server gets the digest (which
  // admits whoever shows it) only when clients that cannot prove the
  // password themselves are to come in too.
  sentDigest_ = password && environment().profileStore().acceptsUnprovenClients();
  const auto digest = sentDigest_ ? std::optional(unattendedPasswordHash(*password)) : std::nullopt;
  announce(signaling::create(roomId_, digest, password.has_value()), key, how);
}

void HostSession::announce(QJsonObject create, const std::optional<QString>& key, const QString& how) {
  // The key proves the ID is ours (a server without keys ignores it). One
  // that could not be read is not replaced: the room is asked for without
  // it, and a server that holds the ID for our key refuses, so the host
  // tries again later, reading the key again.
  if (key) {
    create.insert(QStringLiteral("ownerKey"), *key);
  } else {
    log(QStringLiteral("⚠️ Clé de propriétaire illisible (trousseau verrouillé ?) : salle demandée sans elle"));
  }
  send(create);
  log(QStringLiteral("📤 CREATE envoyé (") + how + QStringLiteral("unattended=") +
         boolText(create.contains(QLatin1String("unattended"))) + QLatin1Char(')'));
  setStatus(Status::RoomRequested);
}

void HostSession::signalingClosed() {
  // A host with nobody connected would stay unreachable until the next
  // launch: it tries again, waiting longer each time. A session in progress
  // keeps its peer connection and reopens its room when it ends.
  if (roomId_.isNull() || negotiation().exists()) return;
  reconnectLater();
}

void HostSession::reconnectLater() {
  const int delay = reconnectDelayMs_;
  reconnectDelayMs_ = std::min(reconnectDelayMs_ * 2, kMaxReconnectDelayMs);
  log(QStringLiteral("🔁 Nouvelle tentative de connexion au serveur dans %1 s").arg(delay / 1000.0));
  reconnectLink_ = forgetLink();  // the dead link is heard no more
  reconnectTimer_.start(delay);
}

void HostSession::reconnect() {
  if (!reconnectLink_ || !reconnectLink_->isCurrent() || negotiation().exists() || isEnding()) return;
  // A request that was waiting went with the server: nobody can answer it.
  if (pendingJoin()) dismissPrompts();
  requesterId_ = QString();
  setRequesterName(QString());
  setRequesterAvatar(QImage());
  startHost(roomId_);
}

void HostSession::handle(const incoming::Message& message) {
  if (std::holds_alternative<incoming::Created>(message)) {
    log(QStringLiteral("🏠 Room créée"));
    setStatus(Status::RoomOpen);
  } else if (const auto* request = std::get_if<signaling::JoinRequest>(&message)) {
    handleJoinRequest(*request);
  } else if (const auto* joined = std::get_if<incoming::PeerJoined>(&message)) {
    handlePeerJoined(*joined);
  } else if (const auto* reveal = std::get_if<incoming::JoinReveal>(&message)) {
    handleJoinReveal(reveal->part);
  } else if (const auto* locked = std::get_if<incoming::UnattendedLocked>(&message)) {
    log(QStringLiteral("🔒 Accès non surveillé bloqué pour aujourd’hui : trop de mots de passe erronés (%1)")
               .arg(locked->failures));
    setUnattendedLocked(true);
  } else if (std::holds_alternative<incoming::DevicesForgotten>(message)) {
    log(QStringLiteral("🔑 Appareils connus oubliés par le serveur"));
  } else if (const auto* unattended = std::get_if<incoming::UnattendedJoined>(&message)) {
    sessionFeatures().exchange().setAcceptsFilesUnasked(true);
    const QString& name = unattended->displayName;
    log(QStringLiteral("ℹ️ Connexion unattended par ") + (name.isNull() ? QStringLiteral("Un client") : name));
  } else if (const auto* error = std::get_if<incoming::Error>(&message)) {
    const auto code = signaling::errorCodeNamed(error->code);
    if (code == signaling::ErrorCode::ForgetFailed) {
      log(QStringLiteral("❌ Le serveur n’a pas pu oublier les appareils connus"));
    } else if (code == signaling::ErrorCode::RoomTaken) {
      log(QStringLiteral("❌ ID déjà utilisé par une autre connexion au serveur"));
      setStatus(Status::RoomTaken);
      // Our own stale connection may still hold it, or a squatter that the
      // server will refuse once our key is known: try again, later and later.
      if (!negotiation().exists()) reconnectLater();
    }
  } else if (const auto* refresh = std::get_if<incoming::RefreshRequest>(&message)) {
    media_->restartCapture(refresh->type);
  }
}

void HostSession::forgetKnownDevices() {
  LUNOR_REQUIRE_THREAD(this);
  proofSecrets_.deviceDigests.clear();
  SecretStore* store = &environment().secretStore();
  secrets_->run<bool>(this, [store] { lunor::forgetKnownDevices(*store); return true; }, [](bool) {});
  send(signaling::forgetDevices());
  log(QStringLiteral("📤 Oubli des appareils connus demandé au serveur"));
}

void HostSession::startCaptureIfNeeded(const QString& why) {
  if (media_->hasCapturer() && localVideoTrack()) return;
  log(why);
  media_->startCapture();
}

void HostSession::endWithoutPicture(const QString& why) {
  if (!running() || isEnding()) return;
  log(QStringLiteral("⛔ ") + why);
  setStatusNow(Status::Detail, why);
  stop(why);
}

void HostSession::showHud(std::function<void()> quit) {
  HudInfo info;
  info.avatar = requesterAvatar();
  info.name = requesterName().isNull() ? QString(QLatin1String("")) : requesterName();
  info.startedAt = startedAt();
  info.quit = std::move(quit);
  ClipboardSync& clipboard = sessionFeatures().clipboard();
  info.clipboard = clipboard.sending() || clipboard.receiving();
  info.setClipboard = [&clipboard](bool on) {  // the sync lives as long as the session, which owns the HUD's use
    clipboard.setSending(on);
    clipboard.setReceiving(on);
  };
  FeatureExchange& files = sessionFeatures().exchange();
  info.sendFiles = [&files](const QStringList& paths) {
    for (const QString& path : paths) files.sendFile(path);
  };
  info.cancelFile = [&files](const QString& transfer) { files.cancelFile(transfer); };
  environment().panels().showFloatingHud(info);
}

// ------------------------------------------------------------ screen size --

void HostSession::screenSizeAsked(QSize asked) {
  if (!separateSession_ || !resizer_) {
    // The physical screen is the person's here; a display that cannot
    // change keeps its size.
    if (!std::exchange(resizeRefusalSaid_, true)) {
      log(QStringLiteral("↔️ Taille d’écran demandée (%1x%2) : cet écran garde la sienne")
              .arg(asked.width())
              .arg(asked.height()));
    }
    return;
  }
  const QualitySettings& quality = settingsOf(media_->quality());
  askedScreenSize_ = fitScreenSize(asked, QSize(quality.width, quality.height));
  // What settles in a moment, and never more often than once a second: a
  // client changing its mind fast must not keep the desktop relaying out.
  const auto sinceLast =
      std::chrono::duration_cast<std::chrono::milliseconds>(environment().clock().now() - lastResize_).count();
  resizeTimer_.start(int(std::clamp<int64_t>(kResizeEveryMs - sinceLast, kResizeSettleMs, kResizeEveryMs)));
}

void HostSession::applyScreenSize() {
  const QSize size = askedScreenSize_;
  if (!resizer_ || size.isEmpty() || size == appliedScreenSize_) return;
  lastResize_ = environment().clock().now();
  if (resizer_->resize(size)) {
    appliedScreenSize_ = size;
    log(QStringLiteral("↔️ Écran de la session à part : %1x%2").arg(size.width()).arg(size.height()));
    media_->followDisplaySize(size);
  } else {
    log(QStringLiteral("⚠️ L’écran de la session à part refuse la taille %1x%2").arg(size.width()).arg(size.height()));
  }
}

// --------------------------------------------------------------- connection --

Negotiation::ControlReceiver HostSession::controlReceiver() {
  InjectionSequence* input = input_.get();  // outlives the connection: the session closes it first
  return [input, open = inputOpen_](const std::string& text, const Epoch::Ticket& connection) {
    if (open->load()) input->receive(text, connection);
  };
}

void HostSession::connectionCreated() {
  Negotiation& link = negotiation();
  proofOpened_ = false;
  proofChannelWaiting_ = false;
  if (proving_) {
    // Nothing but the proof before it succeeds: no control, no picture.
  } else if (link.createControlChannel()) {
    log(QStringLiteral("✅ DataChannel 'control' créé (host)"));
  } else {
    log(QStringLiteral("❌ Impossible de créer le DataChannel 'control' (host)"));
  }
  // Our clients hear who this host is there (and prove the password there
  // when they must); others leave it alone.
  link.openChannel(QLatin1String(proof::kChannel));
  // Not up within the deadline (a server gone between approval and ICE):
  // the session ends and the room opens again.
  link.armConnectDeadline();
  // A sharp, current picture from the first second: start within the
  // profile's range rather than at the library's low default.
  const QualitySettings& quality = settingsOf(media_->quality());
  link.setBitrateRange(HostMedia::kLinkFloorBps, (quality.minBitrateBps + quality.maxBitrateBps) / 2,
                              quality.maxBitrateBps);
  const auto track = localVideoTrack();
  if (!track) return;
  link.addTrack(track, HostMedia::kStreamId);
  log(QStringLiteral("✅ Track locale ajoutée"));
  if (!link.isSending(*track)) return;
  media_->applySenderBitrate();
  log(QStringLiteral("🚀 Bitrate PC creation: min=%1Mbps max=%2Mbps")
             .arg(wholeMbps(quality.minBitrateBps))
             .arg(wholeMbps(quality.maxBitrateBps)));
}

void HostSession::sendOfferIfReady() {
  if (!approved() || !negotiation().exists() || !localVideoTrack()) return;
  if (hasSentInitialOffer_ && std::exchange(renegotiateForTrack_, false)) {
    // The proof's offer had no picture: this one adds it.
    log(QStringLiteral("🟢 Image prête → nouvelle offre avec la vidéo"));
    pictureAnswerAwaited_ = true;
    negotiation().renegotiate(offerRewrite());
    return;
  }
  if (hasSentInitialOffer_) {
    log(QStringLiteral("ℹ️ Offre déjà envoyée, pas de doublon"));
    return;
  }
  hasSentInitialOffer_ = true;
  log(QStringLiteral("🟢 Conditions OK → envoi de l’offre initiale"));
  negotiation().makeOffer([this](const std::string& sdp) {
    bool bandwidth = false;
    const QualitySettings& quality = settingsOf(media_->quality());
    const QString text = rewriteOfferSdp(QString::fromStdString(sdp), quality, &bandwidth);
    if (bandwidth) log(QStringLiteral("📝 SDP: bitrate forcé à %1kbps").arg(quality.sdpBandwidthKbps));
    return text.toStdString();
  });
}

void HostSession::restartIce() {
  if (!negotiation().exists()) return;
  log(QStringLiteral("♻️ ICE restart (nouvelle offre)"));
  negotiation().restartIce(offerRewrite());
}

Negotiation::OfferRewrite HostSession::offerRewrite() {
  return [this](const std::string& sdp) {
    return rewriteOfferSdp(QString::fromStdString(sdp), settingsOf(media_->quality())).toStdString();
  };
}

void HostSession::handle(const incoming::Payload& payload) {
  if (const auto* answer = std::get_if<incoming::Answer>(&payload)) {
    negotiation().acceptAnswer(answer->sdp.toStdString());
  } else if (const auto* quality = std::get_if<incoming::Quality>(&payload)) {
    log(QStringLiteral("📥 Signal quality reçu: ") + rawValue(quality->profile));
    media_->applyQuality(quality->profile);
  } else if (const auto* display = std::get_if<incoming::SwitchDisplay>(&payload)) {
    log(QStringLiteral("📥 Signal switchDisplay reçu: #%1").arg(display->index));
    media_->switchDisplay(display->index);
  } else if (const auto* geometry = std::get_if<signaling::VideoGeometry>(&payload)) {
    if (geometry->displayId) media_->setDisplayId(*geometry->displayId);
  } else if (std::holds_alternative<incoming::HardRefresh>(payload)) {
    // A fresh picture and a fresh path: the capture restarts, and a new
    // offer renews the ICE credentials, which the client answers.
    media_->restartCapture(QStringLiteral("hard-refresh-request"));
    restartIce();
  }
}

// ---------------------------------------------------------------------- end --

void HostSession::ending(const QString& reason, const QDateTime& startedAt) {
  dismissPrompts();
  requesterId_ = QString();
  admittedId_ = QString();
  cooldownUntil_ = environment().clock().now() + kEndCooldown;
  SessionPanels& panels = environment().panels();
  const qint64 seconds = startedAt.isValid() ? startedAt.secsTo(QDateTime::currentDateTime()) : 0;
  panels.showEndSession(endCause(), reason, endDurationText(seconds), kEndCountdownSeconds);
}

void HostSession::tearingDown() {
  inputOpen_->store(false);
  proof_.reset();
  proving_ = false;
  proofSecretsReady_ = true;
  renegotiateForTrack_ = false;
  pictureAnswerAwaited_ = false;
  proofDeadline_.stop();
  resizeTimer_.stop();  // a size asked just before the end is nobody's now
  askedScreenSize_ = QSize();
  media_->stop();
  // Once the client's last actions have run, nothing stays pressed.
  input_->releaseAll();
  hasSentInitialOffer_ = false;
  shouldMakeOfferWhenReady_ = false;
}

void HostSession::ended() {
  if (!roomId_.isNull()) restartTimer_.start();
}

void HostSession::leave(const QString& localName) {
  LUNOR_REQUIRE_THREAD(this);
  if (approved() || startedAt().isValid()) stop(departureText(localName, Role::Host));
}

void HostSession::settleWaiting() { setPendingJoin(false); }

void HostSession::resetFields() {
  setApproved(false);
  setPendingJoin(false);
  setLocalVideoTrack(nullptr);
}

// ---------------------------------------------------------- published fields --

void HostSession::setPendingJoin(bool value) {
  LUNOR_REQUIRE_THREAD(this);
  publish(pendingJoin_, value, [this] { Q_EMIT pendingJoinChanged(); });
}

void HostSession::setApproved(bool value) {
  LUNOR_REQUIRE_THREAD(this);
  publish(approved_, value, [this] { Q_EMIT approvedChanged(); });
}

void HostSession::setUnattendedLocked(bool value) {
  LUNOR_REQUIRE_THREAD(this);
  publish(unattendedLocked_, value, [this] { Q_EMIT unattendedLockedChanged(); });
}

void HostSession::setLocalVideoTrack(std::shared_ptr<rtc::VideoTrack> track) {
  LUNOR_REQUIRE_THREAD(this);
  publish(localVideoTrack_, std::move(track), [this] { Q_EMIT localVideoTrackChanged(); });
}

}  // namespace lunor
