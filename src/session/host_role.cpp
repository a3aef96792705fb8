#include "session/host_role.h"

#include <QPointer>

#include "host/control_injector.h"
#include "session/duration_text.h"
#include "session/epoch.h"
#include "session/host_media.h"
#include "session/injection_sequence.h"
#include "session/remote_session.h"
#include "protocol/sdp_rewrite.h"
#include "session/session_environment.h"
#include "protocol/signaling_messages.h"
#include "store/owner_key.h"
#include "store/unattended_password.h"
#include "store/user_profile_store.h"
#include "system/event_sound.h"
#include "system/worker_thread.h"
#include "ui/session_panels.h"

namespace lunor {
namespace {

QString boolText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

}  // namespace

HostRole::HostRole(RemoteSession& session) : s_(session) {
  SessionEnvironment& environment = s_.environment_;
  secrets_ = std::make_unique<WorkerThread>(QStringLiteral("lunor-secrets"));
  media_ = std::make_unique<HostMedia>(environment, s_.factory_.get(), s_.negotiation_, s_.epoch_,
                                       [this](const QString& line) { s_.log(line); });
  InjectionSequence::Hooks hooks;
  hooks.mayControl = [&environment] { return environment.mayControlComputer(); };
  hooks.log = [this](const QString& line) { s_.log(line); };
  // The ticket is the connection's the button came on: a press still queued
  // when that connection closes boosts nothing after it.
  hooks.buttonEdge = [this](bool down, const Epoch::Ticket& arrival) {
    arrival.post([this, down] { down ? media_->beginDragBoost() : media_->endDragBoost(); });
  };
  input_ = std::make_unique<InjectionSequence>(environment.createControlInjector(), environment.displays(),
                                               media_->displayId(), std::move(hooks));

  connect(media_.get(), &HostMedia::trackReady, this, [this](std::shared_ptr<rtc::VideoTrack> track) {
    s_.setLocalVideoTrack(std::move(track));
    if (shouldMakeOfferWhenReady_) sendOfferIfReady();
  });
  connect(media_.get(), &HostMedia::payloadReady, this, [this](const QJsonObject& p) { s_.sendPayload(p); });
  connect(media_.get(), &HostMedia::statusChanged, this, [this](const QString& t) { s_.setStatusNow(t); });
  connect(media_.get(), &HostMedia::displaysChanged, this,
          [this](const QVariantList& displays) { s_.setAvailableDisplays(displays); });
  connect(media_.get(), &HostMedia::qualityChanged, this, [this](QualityProfile p) { s_.setCurrentQuality(p); });
  connect(media_.get(), &HostMedia::displayIndexChanged, this,
          [this](int index) { s_.setCurrentDisplayIndex(index); });
  connect(media_.get(), &HostMedia::displayIdChanged, this, [this](uint32_t id) { input_->setDisplay(id); });
  connect(media_.get(), &HostMedia::pointerToCentre, this, [this] { input_->centrePointer(); });

  restartTimer_.setSingleShot(true);
  restartTimer_.setInterval(kRestartDelayMs);
  connect(&restartTimer_, &QTimer::timeout, this, [this] { s_.startHost(roomId_); });
  reconnectTimer_.setSingleShot(true);
  connect(&reconnectTimer_, &QTimer::timeout, this, &HostRole::reconnect);

  // Only the host answers join notifications; a client session must not take
  // the buttons away from it.
  environment.notifications().setJoinActionHandler([this](const QString& clientId, JoinAction action) {
    handleNotificationAction(clientId, action);
  });
}

HostRole::~HostRole() {
  s_.environment_.notifications().setJoinActionHandler(nullptr);
  // Lets go of whatever the client still held, then stops the sequence.
  input_->releaseAll();
  input_.reset();
}

void HostRole::start(const QString& roomId) {
  roomId_ = roomId;
  hasSentInitialOffer_ = false;
  shouldMakeOfferWhenReady_ = false;
  reconnectTimer_.stop();
}

QString HostRole::departureReason() const { return QString::fromUtf8(kReasonClientLeft); }

bool HostRole::peerLeftEndsSession(const QString& clientId) {
  const bool unnamed = clientId == QLatin1String("?");
  if (s_.approved_ || s_.negotiation_.exists()) {
    // Someone else who was still waiting at the door does not end the session.
    return admittedId_.isNull() || unnamed || clientId == admittedId_;
  }
  if (s_.pendingJoin_ && (unnamed || clientId == requesterId_)) withdrawRequest();
  return false;
}

void HostRole::dismissPrompts() {
  s_.environment_.panels().dismissJoinRequest();
  if (!requesterId_.isNull()) s_.environment_.notifications().withdrawJoinRequest(requesterId_);
}

void HostRole::withdrawRequest() {
  s_.log(QStringLiteral("↩️ Demande retirée par ") + (s_.requesterName_.isNull() ? requesterId_ : s_.requesterName_));
  dismissPrompts();
  requesterId_ = QString();
  s_.setPendingJoin(false);
  s_.setApproved(false);
  s_.setRequesterName(QString());
  s_.setRequesterAvatar(QImage());
  s_.setStatus(QStringLiteral("En attente de connexion..."));
}

// --------------------------------------------------------------------- room --

void HostRole::signalingOpened() {
  reconnectDelayMs_ = 1000;
  sendCreate();
}

namespace {

// What a "create" needs from the secret store.
struct CreateSecrets {
  std::optional<QString> ownerKey;
  std::optional<QString> unattendedHash;  // nothing when there is no password
};

std::optional<QString> unattendedHashIn(SecretStore& store) {
  const auto password = loadUnattendedPassword(store);
  if (!password || password->isEmpty()) return std::nullopt;
  return unattendedPasswordHash(*password);
}

}  // namespace

void HostRole::sendCreate() {
  // The secret store is read off the main thread: a keyring that asks to be
  // unlocked must not freeze the window. The answer counts only for the
  // connection it was asked for.
  const bool unattended = s_.environment_.profileStore().unattendedEnabled();
  const QUuid generation = s_.generation_;
  SecretStore* store = &s_.environment_.secretStore();  // the environment outlives every session
  secrets_->run<CreateSecrets>(
      this,
      [unattended, store] {
        CreateSecrets secrets;
        secrets.ownerKey = ownerKey(*store);
        if (unattended) secrets.unattendedHash = unattendedHashIn(*store);
        return secrets;
      },
      [this, generation, unattended, store](CreateSecrets secrets) {
        if (s_.generation_ != generation) return;
        if (!unattended || secrets.unattendedHash) {
          announce(signaling::create(roomId_, secrets.unattendedHash), secrets.ownerKey,
                   QStringLiteral("requiresApproval=true, "));
          return;
        }
        // The secret store may answer late right after login: look once more.
        QTimer::singleShot(kDelayedCreateMs, this, [this, generation, store, key = secrets.ownerKey] {
          if (s_.generation_ != generation) return;
          secrets_->run<std::optional<QString>>(this, [store] { return unattendedHashIn(*store); },
                                                [this, generation, key](std::optional<QString> hash) {
                                                  if (s_.generation_ != generation) return;
                                                  announce(signaling::create(roomId_, hash), key,
                                                           QStringLiteral("DELAYED, "));
                                                });
        });
      });
}

void HostRole::announce(QJsonObject create, const std::optional<QString>& key, const QString& how) {
  // The key proves the ID is ours (a server without keys ignores it). One
  // that could not be read is not replaced: the room is asked for without
  // it, and a server that holds the ID for our key refuses, so the host
  // tries again later, reading the key again.
  if (key) {
    create.insert(QStringLiteral("ownerKey"), *key);
  } else {
    s_.log(QStringLiteral("⚠️ Clé de propriétaire illisible (trousseau verrouillé ?) : salle demandée sans elle"));
  }
  s_.sendSignaling(create);
  s_.log(QStringLiteral("📤 CREATE envoyé (") + how + QStringLiteral("unattended=") +
         boolText(create.contains(QLatin1String("unattended"))) + QLatin1Char(')'));
  s_.setStatus(QStringLiteral("En attente de connexion…"));
}

void HostRole::signalingClosed() {
  // A host with nobody connected would stay unreachable until the next
  // launch: it tries again, waiting longer each time. A session in progress
  // keeps its peer connection and reopens its room when it ends.
  if (roomId_.isNull() || s_.negotiation_.exists()) return;
  reconnectLater();
}

void HostRole::reconnectLater() {
  const int delay = reconnectDelayMs_;
  reconnectDelayMs_ = std::min(reconnectDelayMs_ * 2, kMaxReconnectDelayMs);
  s_.log(QStringLiteral("🔁 Nouvelle tentative de connexion au serveur dans %1 s").arg(delay / 1000.0));
  s_.generation_ = QUuid::createUuid();  // the dead link is heard no more
  reconnectGeneration_ = s_.generation_;
  reconnectTimer_.start(delay);
}

void HostRole::reconnect() {
  if (s_.generation_ != reconnectGeneration_ || s_.negotiation_.exists() || s_.isEnding_) return;
  // A request that was waiting went with the server: nobody can answer it.
  if (s_.pendingJoin_) dismissPrompts();
  requesterId_ = QString();
  s_.setRequesterName(QString());
  s_.setRequesterAvatar(QImage());
  s_.startHost(roomId_);
}

void HostRole::handleMessage(const QString& type, const QJsonObject& message) {
  if (type == QLatin1String("created")) {
    s_.log(QStringLiteral("🏠 Room créée"));
    s_.setStatus(QStringLiteral("En attente de connexion..."));
  } else if (type == QLatin1String("join-request")) {
    handleJoinRequest(message);
  } else if (type == QLatin1String("peer-joined")) {
    handlePeerJoined(message);
  } else if (type == QLatin1String("unattended-locked")) {
    s_.log(QStringLiteral("🔒 Accès non surveillé bloqué pour aujourd’hui : trop de mots de passe erronés (%1)")
               .arg(message.value(QLatin1String("failures")).toInt()));
    s_.setUnattendedLocked(true);
  } else if (type == QLatin1String("devices-forgotten")) {
    s_.log(QStringLiteral("🔑 Appareils connus oubliés par le serveur"));
  } else if (type == QLatin1String("unattended-joined")) {
    const QString name = signaling::displayNameOf(message);
    s_.log(QStringLiteral("ℹ️ Connexion unattended par ") + (name.isNull() ? QStringLiteral("Un client") : name));
  } else if (type == QLatin1String("error")) {
    const QString code = json::optionalString(message, "code");
    if (code == QLatin1String("forget-failed")) {
      s_.log(QStringLiteral("❌ Le serveur n’a pas pu oublier les appareils connus"));
    } else if (code == QLatin1String("room-taken")) {
      s_.log(QStringLiteral("❌ ID déjà utilisé par une autre connexion au serveur"));
      s_.setStatus(QStringLiteral("ID déjà utilisé sur le serveur"));
      // Our own stale connection may still hold it, or a squatter that the
      // server will refuse once our key is known: try again, later and later.
      if (!s_.negotiation_.exists()) reconnectLater();
    }
  } else if (type == QLatin1String("refresh-request") || type == QLatin1String("hard-refresh-request")) {
    media_->restartCapture(type);
  }
}

// ------------------------------------------------------------------ joining --

void HostRole::handleJoinRequest(const QJsonObject& message) {
  const signaling::JoinRequest request = signaling::joinRequest(message);
  if (s_.isEnding_) return;
  if (std::chrono::steady_clock::now() < cooldownUntil_) {
    s_.log(QStringLiteral("⏳ Join ignorée (cooldown en cours)"));
    return;
  }
  // An ignored request must not relabel the session that is on screen, so
  // the requester's name and picture are taken only from here on.
  s_.setRequesterAvatar(decodeWireAvatar(request.avatar));
  s_.setRequesterName(request.displayName);

  if (!(s_.pendingJoin_ && requesterId_ == request.clientId)) {
    requesterId_ = request.clientId;
    s_.setPendingJoin(true);
    s_.setApproved(false);
    s_.setStatus(QStringLiteral("Demande de connexion…"));
    s_.log(QStringLiteral("🔔 Join request de ") +
           (request.displayName.isNull() ? request.clientId : request.displayName));
    s_.environment_.notifications().postJoinRequest(request.displayName, request.clientId);
    // Heard even where notifications are not allowed.
    s_.environment_.sounds().joinRequest();
  }

  JoinRequestPrompt prompt;
  prompt.avatar = s_.requesterAvatar_;
  prompt.requester = request.displayName;
  prompt.name = request.displayName.isNull() ? QStringLiteral("Connexion entrante") : request.displayName;
  QPointer<HostRole> weak(this);
  if (!request.unattended && !request.awaitingPassword) {
    prompt.accept = [weak] {
      if (weak) weak->approve();
    };
    prompt.reject = [weak] {
      if (weak) weak->reject();
    };
  } else {
    const QString answer = request.awaitingPassword ? QStringLiteral("reject") : QStringLiteral("kick");
    prompt.reject = [weak, answer, clientId = request.clientId] {
      if (!weak) return;
      weak->s_.sendSignaling(signaling::answer(answer, clientId));
      weak->reject();
    };
  }
  s_.environment_.panels().showJoinRequest(prompt);
}

void HostRole::handleNotificationAction(const QString& clientId, JoinAction action) {
  // Only the request on screen can be answered: a stale notification must
  // neither admit a client that left nor start a capture for nobody.
  if (!s_.pendingJoin_ || requesterId_.isNull() || requesterId_ != clientId) return;
  action == JoinAction::Approve ? approve() : reject();
}

void HostRole::approve() {
  if (requesterId_.isNull() || !s_.pendingJoin_) return;
  s_.sendSignaling(signaling::answer(QStringLiteral("approve"), requesterId_));
  admittedId_ = requesterId_;
  s_.setPendingJoin(false);
  s_.setIsWaitingApproval(false);
  s_.setApproved(true);
  dismissPrompts();
  s_.log(QStringLiteral("✅ Autorisé ") + (s_.requesterName_.isNull() ? requesterId_ : s_.requesterName_));

  shouldMakeOfferWhenReady_ = true;
  hasSentInitialOffer_ = false;
  // The connection first: the capture's completion belongs to its epoch.
  if (!s_.negotiation_.exists()) s_.createPeerConnection();
  startCaptureIfNeeded(QStringLiteral("▶️ Démarrage capture (à l’acceptation)"));
  sendOfferIfReady();
  s_.setStartedAt(QDateTime::currentDateTime());

  QPointer<HostRole> weak(this);
  showHud([weak] {
    if (!weak) return;
    weak->s_.setPendingJoin(false);
    weak->s_.setIsWaitingApproval(false);
    weak->s_.stop(QString::fromUtf8(kReasonHostEnded));
    weak->s_.environment_.panels().hideFloatingHud();
  });
}

void HostRole::reject() {
  if (requesterId_.isNull() || !s_.pendingJoin_) return;
  s_.sendSignaling(signaling::answer(QStringLiteral("reject"), requesterId_));
  s_.setApproved(false);
  s_.setPendingJoin(false);
  s_.setIsWaitingApproval(false);
  s_.setRequesterName(QString());
  s_.setRequesterAvatar(QImage());
  dismissPrompts();
  cooldownUntil_ = std::chrono::steady_clock::now() + kRejectCooldown;
  s_.log(QStringLiteral("❌ Rejeté ") + requesterId_);
}

void HostRole::handlePeerJoined(const QJsonObject& message) {
  const signaling::PeerJoined peer = signaling::peerJoined(message);
  admittedId_ = peer.clientId;
  if (!peer.displayName.isNull()) s_.setRequesterName(peer.displayName);
  const QImage avatar = decodeWireAvatar(peer.avatar);
  if (!avatar.isNull()) s_.setRequesterAvatar(avatar);
  s_.log(QStringLiteral("👤 Peer connecté (cid=") + peer.clientId + QStringLiteral(", unattended=") +
         boolText(peer.unattended) + QLatin1Char(')'));
  s_.setStatus(QStringLiteral("Peer connecté, négociation..."));

  if (peer.unattended) {
    s_.setApproved(true);
    s_.setPendingJoin(false);
    s_.setIsWaitingApproval(false);
    dismissPrompts();
  }
  // The admission's TURN credentials (taken by the session) reach an offer
  // already made only through an ICE restart.
  const bool offeredBefore = s_.negotiation_.exists() && s_.negotiation_.hasOffered();
  if (!s_.negotiation_.exists()) s_.createPeerConnection();
  if (peer.unattended) startCaptureIfNeeded(QStringLiteral("▶️ Démarrage capture (unattended)"));
  media_->refreshDisplays();
  if (offeredBefore && message.contains(QLatin1String("iceServers"))) {
    restartIce();
  } else {
    hasSentInitialOffer_ = false;
    shouldMakeOfferWhenReady_ = true;
    sendOfferIfReady();
  }
  if (!s_.startedAt_.isValid()) s_.setStartedAt(QDateTime::currentDateTime());

  QPointer<HostRole> weak(this);
  showHud([weak] {
    if (!weak) return;
    weak->s_.stop(QString::fromUtf8(kReasonHostEnded));
    weak->s_.environment_.panels().hideFloatingHud();
  });
}

void HostRole::startCaptureIfNeeded(const QString& why) {
  if (media_->hasCapturer() && s_.localVideoTrack_) return;
  s_.log(why);
  media_->startCapture();
}

void HostRole::showHud(std::function<void()> quit) {
  HudInfo info;
  info.avatar = s_.requesterAvatar_;
  info.name = s_.requesterName_.isNull() ? QString(QLatin1String("")) : s_.requesterName_;
  info.startedAt = s_.startedAt_;
  info.quit = std::move(quit);
  s_.environment_.panels().showFloatingHud(info);
}

// --------------------------------------------------------------- connection --

Negotiation::ControlReceiver HostRole::controlReceiver() {
  InjectionSequence* input = input_.get();  // outlives the connection: the session closes it first
  return [input](const std::string& text, const Epoch::Ticket& connection) { input->receive(text, connection); };
}

void HostRole::connectionCreated() {
  Negotiation& negotiation = s_.negotiation_;
  if (negotiation.createControlChannel()) {
    s_.log(QStringLiteral("✅ DataChannel 'control' créé (host)"));
  } else {
    s_.log(QStringLiteral("❌ Impossible de créer le DataChannel 'control' (host)"));
  }
  // Not up within the deadline (a server gone between approval and ICE):
  // the session ends and the room opens again.
  negotiation.armConnectDeadline();
  // A sharp, current picture from the first second: start within the
  // profile's range rather than at the library's low default.
  const QualitySettings& quality = settingsOf(media_->quality());
  negotiation.setBitrateRange(quality.minBitrateBps, (quality.minBitrateBps + quality.maxBitrateBps) / 2,
                              quality.maxBitrateBps);
  const auto track = s_.localVideoTrack_;
  if (!track) return;
  negotiation.addTrack(track, HostMedia::kStreamId);
  s_.log(QStringLiteral("✅ Track locale ajoutée"));
  if (!negotiation.isSending(*track)) return;
  media_->applySenderBitrate();
  s_.log(QStringLiteral("🚀 Bitrate PC creation: min=%1Mbps max=%2Mbps")
             .arg(wholeMbps(quality.minBitrateBps))
             .arg(wholeMbps(quality.maxBitrateBps)));
}

void HostRole::sendOfferIfReady() {
  if (!s_.approved_ || !s_.negotiation_.exists() || !s_.localVideoTrack_) return;
  if (hasSentInitialOffer_) {
    s_.log(QStringLiteral("ℹ️ Offre déjà envoyée, pas de doublon"));
    return;
  }
  hasSentInitialOffer_ = true;
  s_.log(QStringLiteral("🟢 Conditions OK → envoi de l’offre initiale"));
  s_.negotiation_.makeOffer([this](const std::string& sdp) {
    bool bandwidth = false;
    const QualitySettings& quality = settingsOf(media_->quality());
    const QString text = rewriteOfferSdp(QString::fromStdString(sdp), quality, &bandwidth);
    if (bandwidth) s_.log(QStringLiteral("📝 SDP: bitrate forcé à %1kbps").arg(quality.sdpBandwidthKbps));
    return text.toStdString();
  });
}

void HostRole::restartIce() {
  if (!s_.negotiation_.exists()) return;
  s_.log(QStringLiteral("♻️ ICE restart (nouvelle offre)"));
  s_.negotiation_.restartIce([this](const std::string& sdp) {
    return rewriteOfferSdp(QString::fromStdString(sdp), settingsOf(media_->quality())).toStdString();
  });
}

void HostRole::handlePayload(const QString& type, const QJsonObject& data) {
  if (type == QLatin1String("answer")) {
    if (const auto sdp = signaling::descriptionOf(data)) s_.negotiation_.acceptAnswer(sdp->toStdString());
  } else if (type == QLatin1String("quality")) {
    const auto profile = signaling::qualityOf(data);
    if (!profile) return;
    s_.log(QStringLiteral("📥 Signal quality reçu: ") + rawValue(*profile));
    media_->applyQuality(*profile);
  } else if (type == QLatin1String("switchDisplay")) {
    const auto index = signaling::switchIndexOf(data);
    if (!index) return;
    s_.log(QStringLiteral("📥 Signal switchDisplay reçu: #%1").arg(*index));
    media_->switchDisplay(*index);
  } else if (type == QLatin1String("videoGeometry")) {
    if (const auto id = signaling::videoGeometryOf(data).displayId) media_->setDisplayId(*id);
  } else if (type == QLatin1String("hard-refresh-request")) {
    // A fresh picture and a fresh path: the capture restarts, and a new
    // offer renews the ICE credentials, which the client answers.
    media_->restartCapture(type);
    restartIce();
  }
}

// ---------------------------------------------------------------------- end --

void HostRole::ending(const QString& reason, const QDateTime& startedAt) {
  dismissPrompts();
  requesterId_ = QString();
  admittedId_ = QString();
  cooldownUntil_ = std::chrono::steady_clock::now() + kEndCooldown;
  SessionPanels& panels = s_.environment_.panels();
  const qint64 seconds = startedAt.isValid() ? startedAt.secsTo(QDateTime::currentDateTime()) : 0;
  panels.showEndSession(reason, endDurationText(seconds), kEndCountdownSeconds);
}

void HostRole::tearingDown() {
  media_->stop();
  // Once the client's last actions have run, nothing stays pressed.
  input_->releaseAll();
  hasSentInitialOffer_ = false;
  shouldMakeOfferWhenReady_ = false;
}

void HostRole::ended() {
  if (!roomId_.isNull()) restartTimer_.start();
}

}  // namespace lunor
