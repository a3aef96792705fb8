// Rooms, joining and approval: what the session sends to the signaling server
// and how it reacts to what the server says.

#include <QTimer>

#include "session/remote_session.h"
#include "session/session_environment.h"
#include "session/signaling_client.h"
#include "store/unattended_password.h"
#include "store/user_profile_store.h"
#include "ui/session_panels.h"

namespace lunor {
namespace {

constexpr int kDelayedCreateMs = 200;
constexpr std::chrono::milliseconds kRejectCooldown{1500};

const QString kTypeKey = QStringLiteral("type");

QString roleName(Role role) {
  return role == Role::Host ? QStringLiteral("HOST") : QStringLiteral("CLIENT");
}

QString boolText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

// The member as a string, or null when missing or not a string.
QString optionalString(const QJsonObject& object, const char* key) {
  const QJsonValue value = object.value(QLatin1String(key));
  return value.isString() ? value.toString() : QString();
}

QString stringOr(const QJsonObject& object, const char* key, const QString& fallback) {
  const QJsonValue value = object.value(QLatin1String(key));
  return value.isString() ? value.toString() : fallback;
}

bool boolOr(const QJsonObject& object, const char* key, bool fallback) {
  const QJsonValue value = object.value(QLatin1String(key));
  return value.isBool() ? value.toBool() : fallback;
}

QImage avatarOf(const QJsonObject& object) {
  const QJsonValue value = object.value(QLatin1String("avatar"));
  return value.isString() ? decodeWireAvatar(value.toString()) : QImage();
}

}  // namespace

QString departureText(const QString& displayName, Role role) {
  const QString name = displayName.trimmed();
  if (name.isEmpty()) {
    return QString::fromUtf8(role == Role::Host ? kReasonHostEnded : kReasonClientEnded);
  }
  return name + QStringLiteral(" s’est déconnecté de votre ordinateur");
}

void RemoteSession::sendSignaling(const QJsonObject& message) {
  if (signalingClient_) signalingClient_->send(message);
}

void RemoteSession::installNotificationHandler() {
  // Only the host answers join notifications; a client session must not take
  // the buttons away from it.
  QPointer<RemoteSession> weak(this);
  environment_.notifications().setJoinActionHandler(
      [weak](const QString& clientId, JoinAction action) {
        if (weak) weak->handleNotificationAction(clientId, action);
      });
}

// ------------------------------------------------------------------- opening --

void RemoteSession::handleSignalingOpen() {
  log(QStringLiteral("🔌 WebSocket connecté (role=") + roleName(role()) +
      QStringLiteral(", roomId=") + sessionId_ + QLatin1Char(')'));
  setStatus(QStringLiteral("Serveur connecté"));
  reconnectDelayMs_ = 1000;
  if (role() == Role::Host) sendCreate();
}

void RemoteSession::sendCreate() {
  QJsonObject create{{kTypeKey, QStringLiteral("create")},
                     {QStringLiteral("roomId"), sessionId_},
                     {QStringLiteral("requiresApproval"), true}};
  auto withUnattended = [](QJsonObject message, const std::optional<QString>& password) {
    if (password && !password->isEmpty()) {
      message.insert(QStringLiteral("unattended"),
                     QJsonObject{{QStringLiteral("enabled"), true},
                                 {QStringLiteral("hash"), unattendedPasswordHash(*password)}});
    }
    return message;
  };

  if (!environment_.profileStore().unattendedEnabled()) {
    sendSignaling(create);
  } else if (const auto password = loadUnattendedPassword(environment_.secretStore());
             password && !password->isEmpty()) {
    create = withUnattended(create, password);
    sendSignaling(create);
  } else {
    // The secret store may answer late right after login: look once more.
    QTimer::singleShot(kDelayedCreateMs, this, [this, create, withUnattended] {
      const QJsonObject message =
          withUnattended(create, loadUnattendedPassword(environment_.secretStore()));
      sendSignaling(message);
      log(QStringLiteral("📤 CREATE envoyé (DELAYED, unattended=") +
          boolText(message.contains(QLatin1String("unattended"))) + QLatin1Char(')'));
      setStatus(QStringLiteral("En attente de connexion…"));
    });
    return;
  }
  log(QStringLiteral("📤 CREATE envoyé (requiresApproval=true, unattended=") +
      boolText(create.contains(QLatin1String("unattended"))) + QLatin1Char(')'));
  setStatus(QStringLiteral("En attente de connexion…"));
}

// ------------------------------------------------------------------- joining --

QJsonObject RemoteSession::buildJoinMessage(const std::optional<QString>& passwordHash) const {
  const UserProfileStore& profile = environment_.profileStore();
  QJsonObject join{{kTypeKey, QStringLiteral("join")},
                   {QStringLiteral("roomId"), sessionId_},
                   {QStringLiteral("displayName"), profile.displayName()}};
  if (const auto avatar = profile.wireAvatar()) join.insert(QStringLiteral("avatar"), *avatar);
  if (passwordHash) join.insert(QStringLiteral("passwordHash"), *passwordHash);
  return join;
}

void RemoteSession::sendJoin() {
  std::optional<QString> hash;
  if (pendingUnattendedPassword_ && !pendingUnattendedPassword_->isEmpty()) {
    hash = unattendedPasswordHash(*pendingUnattendedPassword_);
  }
  sendSignaling(buildJoinMessage(hash));
  setStatus(QStringLiteral("Connexion à l'hôte..."));
}

void RemoteSession::submitUnattendedPassword(const QString& password) {
  Q_ASSERT(isMainThread());
  pendingUnattendedPassword_ = password;
  setAskUnattendedPassword(false);
  sendSignaling(buildJoinMessage(unattendedPasswordHash(password)));
  pendingUnattendedPassword_.reset();
  setAskUnattendedPassword(false);
  setStatus(QStringLiteral("Vérification du mot de passe…"));
}

// ------------------------------------------------------------------ messages --

void RemoteSession::handleSignalingMessage(const QJsonObject& message) {
  const QJsonValue typeValue = message.value(kTypeKey);
  if (!typeValue.isString()) return;
  const QString type = typeValue.toString();
  log(QStringLiteral("📨 Message: ") + type);

  if (type == QLatin1String("hello")) {
    const QString clientId = optionalString(message, "clientId");
    if (!clientId.isNull()) log(QStringLiteral("👋 ClientId: ") + clientId);
  } else if (type == QLatin1String("created")) {
    log(QStringLiteral("🏠 Room créée"));
    setStatus(QStringLiteral("En attente de connexion..."));
  } else if (type == QLatin1String("joined")) {
    log(QStringLiteral("🚪 Room rejointe"));
    setStatus(QStringLiteral("Salle rejointe"));
    createPeerConnection();
  } else if (type == QLatin1String("join-request")) {
    handleJoinRequest(message);
  } else if (type == QLatin1String("waiting-approval")) {
    if (role() != Role::Client) return;
    setStatus(QStringLiteral("En attente d'autorisation par l'hôte…"));
    setIsWaitingApproval(true);
  } else if (type == QLatin1String("require-unattended")) {
    if (role() != Role::Client) return;
    setAskUnattendedPassword(true);
  } else if (type == QLatin1String("unattended-denied")) {
    if (role() != Role::Client) return;
    pendingUnattendedPassword_.reset();
    setAskUnattendedPassword(true);
    setStatus(QStringLiteral("Mot de passe incorrect"));
  } else if (type == QLatin1String("approved")) {
    if (role() != Role::Client) return;
    setStatus(QStringLiteral("Autorisé. Initialisation…"));
    setIsWaitingApproval(false);
    if (!startedAt_.isValid()) setStartedAt(QDateTime::currentDateTime());
  } else if (type == QLatin1String("rejected")) {
    setStatus(QStringLiteral("Connexion refusée par l'hôte."));
    handleEndFromServer(type);
  } else if (type == QLatin1String("peer-joined")) {
    handlePeerJoined(message);
  } else if (type == QLatin1String("unattended-joined")) {
    if (role() != Role::Host) return;
    log(QStringLiteral("ℹ️ Connexion unattended par ") +
        stringOr(message, "displayName", QStringLiteral("Un client")));
  } else if (type == QLatin1String("peer-left")) {
    log(QStringLiteral("👋 Peer parti: ") + stringOr(message, "clientId", QStringLiteral("?")));
    handleEndFromServer(type);
  } else if (type == QLatin1String("left")) {
    log(QStringLiteral("👋 left reçu"));
    handleEndFromServer(type);
  } else if (type == QLatin1String("room-not-found") || type == QLatin1String("room-busy")) {
    // The room does not exist, or already has its client: waiting would be forever.
    if (role() != Role::Client) return;
    const QString reason = QString::fromUtf8(
        type == QLatin1String("room-not-found") ? kReasonHostNotFound : kReasonHostBusy);
    setStatus(reason);
    endSession(reason, /*silent=*/true);
  } else if (type == QLatin1String("error")) {
    if (role() == Role::Host && optionalString(message, "code") == QLatin1String("room-taken")) {
      log(QStringLiteral("❌ ID déjà utilisé par une autre connexion au serveur"));
      setStatus(QStringLiteral("ID déjà utilisé sur le serveur"));
    }
  } else if (type == QLatin1String("signal")) {
    handleSignalPayload(message.value(QLatin1String("data")).toObject());
  } else if (type == QLatin1String("refresh-request") ||
             type == QLatin1String("hard-refresh-request")) {
    if (role() == Role::Host) restartCapture(type);
  }
}

void RemoteSession::handleEndFromServer(const QString& type) {
  endSession(QString::fromUtf8(kReasonSessionStopped), /*silent=*/false);
  setPendingJoin(false);
  const bool rejected = type == QLatin1String("rejected");
  postToMain([this, rejected] {
    if (rejected) setIsWaitingApproval(false);
    setEndReason(QString::fromUtf8(rejected ? kReasonRejected : kReasonClientLeft));
  });
}

// -------------------------------------------------------------- join request --

void RemoteSession::handleJoinRequest(const QJsonObject& message) {
  const QString clientId = stringOr(message, "clientId", QStringLiteral("???"));
  const QString name = optionalString(message, "displayName");
  const bool unattended = boolOr(message, "unattended", false);
  const bool awaitingPassword = boolOr(message, "awaitingPassword", false);

  if (role() != Role::Host || isEnding_) return;
  if (std::chrono::steady_clock::now() < joinCooldownUntil_) {
    log(QStringLiteral("⏳ Join ignorée (cooldown en cours)"));
    return;
  }
  // An ignored request must not relabel the session that is on screen, so
  // the requester's name and picture are taken only from here on.
  setRequesterAvatar(avatarOf(message));
  setRequesterName(name);

  if (!(pendingJoin_ && requesterId_ == clientId)) {
    requesterId_ = clientId;
    setPendingJoin(true);
    setApproved(false);
    setStatus(QStringLiteral("Demande de connexion…"));
    log(QStringLiteral("🔔 Join request de ") + (name.isNull() ? clientId : name));
    environment_.notifications().postJoinRequest(name, clientId);
  }

  JoinRequestPrompt prompt;
  prompt.avatar = requesterAvatar_;
  prompt.name = name.isNull() ? QStringLiteral("Connexion entrante") : name;
  QPointer<RemoteSession> weak(this);
  if (!unattended && !awaitingPassword) {
    prompt.accept = [weak] {
      if (weak) weak->approve();
    };
    prompt.reject = [weak] {
      if (weak) weak->reject();
    };
  } else {
    const QString answer = awaitingPassword ? QStringLiteral("reject") : QStringLiteral("kick");
    prompt.reject = [weak, answer, clientId] {
      if (!weak) return;
      weak->sendSignaling(QJsonObject{{kTypeKey, answer}, {QStringLiteral("target"), clientId}});
      weak->reject();
    };
  }
  environment_.panels().showJoinRequest(prompt);
}

void RemoteSession::approve() {
  Q_ASSERT(isMainThread());
  if (requesterId_.isNull()) return;
  sendSignaling(QJsonObject{{kTypeKey, QStringLiteral("approve")},
                            {QStringLiteral("target"), requesterId_}});
  setPendingJoin(false);
  setIsWaitingApproval(false);
  setApproved(true);
  environment_.panels().dismissJoinRequest();
  log(QStringLiteral("✅ Autorisé ") + (requesterName_.isNull() ? requesterId_ : requesterName_));

  shouldMakeOfferWhenReady_ = true;
  hasSentInitialOffer_ = false;
  if (!peerConnection_) createPeerConnection();
  if (!capturer() || !localVideoTrack_) {
    log(QStringLiteral("▶️ Démarrage capture (à l’acceptation)"));
    startHostCapture();
  }
  sendOfferIfReady();
  setStartedAt(QDateTime::currentDateTime());

  QPointer<RemoteSession> weak(this);
  showHud([weak] {
    if (!weak) return;
    weak->setPendingJoin(false);
    weak->setIsWaitingApproval(false);
    weak->stop(QString::fromUtf8(kReasonHostEnded));
    weak->environment_.panels().hideFloatingHud();
  });
}

void RemoteSession::reject() {
  Q_ASSERT(isMainThread());
  if (requesterId_.isNull()) return;
  sendSignaling(QJsonObject{{kTypeKey, QStringLiteral("reject")},
                            {QStringLiteral("target"), requesterId_}});
  setApproved(false);
  setPendingJoin(false);
  setIsWaitingApproval(false);
  setRequesterName(QString());
  setRequesterAvatar(QImage());
  environment_.panels().dismissJoinRequest();
  joinCooldownUntil_ = std::chrono::steady_clock::now() + kRejectCooldown;
  log(QStringLiteral("❌ Rejeté ") + requesterId_);
}

void RemoteSession::handleNotificationAction(const QString& clientId, JoinAction action) {
  Q_ASSERT(isMainThread());
  if (role() != Role::Host) return;
  if (!requesterId_.isNull() && requesterId_ != clientId) return;
  requesterId_ = clientId;
  if (action == JoinAction::Approve) {
    approve();
  } else {
    reject();
  }
}

// -------------------------------------------------------------- peer arrival --

void RemoteSession::handlePeerJoined(const QJsonObject& message) {
  const QString clientId = stringOr(message, "clientId", QStringLiteral("?"));
  const bool unattended = boolOr(message, "unattended", false);
  const QString name = optionalString(message, "displayName");
  if (!name.isNull()) setRequesterName(name);
  const QImage avatar = avatarOf(message);
  if (!avatar.isNull()) setRequesterAvatar(avatar);

  log(QStringLiteral("👤 Peer connecté (cid=") + clientId + QStringLiteral(", unattended=") +
      boolText(unattended) + QLatin1Char(')'));
  setStatus(QStringLiteral("Peer connecté, négociation..."));

  if (role() == Role::Client) {
    createPeerConnection();
    return;
  }

  if (unattended) {
    postToMain([this] {
      setApproved(true);
      setPendingJoin(false);
      setIsWaitingApproval(false);
    });
    environment_.panels().dismissJoinRequest();
    if (!capturer() || !localVideoTrack_) {
      log(QStringLiteral("▶️ Démarrage capture (unattended)"));
      startHostCapture();
    }
  }
  refreshDisplays();
  if (!peerConnection_) createPeerConnection();
  hasSentInitialOffer_ = false;
  shouldMakeOfferWhenReady_ = true;
  sendOfferIfReady();
  if (!startedAt_.isValid()) setStartedAt(QDateTime::currentDateTime());

  QPointer<RemoteSession> weak(this);
  showHud([weak] {
    if (!weak) return;
    weak->stop(QString::fromUtf8(kReasonHostEnded));
    weak->environment_.panels().hideFloatingHud();
  });
}

void RemoteSession::showHud(std::function<void()> quit) {
  HudInfo info;
  info.avatar = requesterAvatar_;
  info.name = requesterName_.isNull() ? QString(QLatin1String("")) : requesterName_;
  info.startedAt = startedAt_;
  info.quit = std::move(quit);
  environment_.panels().showFloatingHud(info);
}

}  // namespace lunor
