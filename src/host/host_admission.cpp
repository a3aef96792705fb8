// SPDX-License-Identifier: GPL-3.0-or-later
// HostSession, at the door: join requests, their answers (panel, terminal or
// notification), the requester who gives up, and the client's arrival.

#include "host/host_session.h"
#include "features/session_features.h"

#include "host/host_environment.h"
#include "host/host_media.h"
#include "protocol/signaling_messages.h"
#include "session/session_environment.h"
#include "session/session_panels.h"
#include "store/user_profile_store.h"
#include "system/event_sound.h"

namespace lunor {

bool HostSession::peerLeftEndsSession(const QString& clientId) {
  const bool unnamed = clientId == QLatin1String("?");
  if (approved() || negotiation().exists()) {
    // Someone else who was still waiting at the door does not end the session.
    return admittedId_.isNull() || unnamed || clientId == admittedId_;
  }
  if (pendingJoin() && (unnamed || clientId == requesterId_)) withdrawRequest();
  return false;
}

void HostSession::dismissPrompts() {
  environment().panels().dismissJoinRequest();
  if (!requesterId_.isNull()) environment().notifications().withdrawJoinRequest(requesterId_);
}

void HostSession::withdrawRequest() {
  log(QStringLiteral("↩️ Demande retirée par ") + (requesterName().isNull() ? requesterId_ : requesterName()));
  dismissPrompts();
  requesterId_ = QString();
  setPendingJoin(false);
  setApproved(false);
  setRequesterName(QString());
  setRequesterAvatar(QImage());
  setStatus(Status::RoomOpen);
}

// ------------------------------------------------------------------ joining --

void HostSession::handleJoinRequest(const signaling::JoinRequest& request) {
  if (isEnding()) return;
  if (environment().clock().now() < cooldownUntil_) {
    log(QStringLiteral("⏳ Join ignorée (cooldown en cours)"));
    return;
  }
  // An ignored request must not relabel the session that is on screen, so
  // the requester's name and picture are taken only from here on.
  setRequesterAvatar(decodeWireAvatar(request.avatar));
  setRequesterName(request.displayName);

  if (!(pendingJoin() && requesterId_ == request.clientId)) {
    requesterId_ = request.clientId;
    setPendingJoin(true);
    setApproved(false);
    setStatus(Status::JoinRequested);
    log(QStringLiteral("🔔 Join request de ") +
           (request.displayName.isNull() ? request.clientId : request.displayName));
    environment().notifications().postJoinRequest(request.displayName, request.clientId);
    // Heard even where notifications are not allowed.
    environment().sounds().joinRequest();
  }

  JoinRequestPrompt prompt;
  prompt.avatar = requesterAvatar();
  prompt.requester = request.displayName;
  prompt.name = request.displayName.isNull() ? QStringLiteral("Connexion entrante") : request.displayName;
  if (!request.unattended && !request.awaitingPassword) {
    prompt.accept = [this, alive = lifetime()] {
      if (alive.isCurrent()) approve();
    };
    prompt.reject = [this, alive = lifetime()] {
      if (alive.isCurrent()) reject();
    };
  } else {
    const QString answer = request.awaitingPassword ? QStringLiteral("reject") : QStringLiteral("kick");
    prompt.reject = [this, alive = lifetime(), answer, clientId = request.clientId] {
      if (!alive.isCurrent()) return;
      send(signaling::answer(answer, clientId));
      reject();
    };
  }
  ClipboardSync& clipboard = sessionFeatures().clipboard();
  prompt.clipboard = clipboard.sending() || clipboard.receiving();
  prompt.setClipboard = [this, alive = lifetime()](bool on) {
    if (!alive.isCurrent()) return;
    ClipboardSync& clipboard = sessionFeatures().clipboard();
    clipboard.setSending(on);
    clipboard.setReceiving(on);
  };
  environment().panels().showJoinRequest(prompt);
}

void HostSession::handleNotificationAction(const QString& clientId, JoinAction action) {
  // Only the request on screen can be answered: a stale notification must
  // neither admit a client that left nor start a capture for nobody.
  if (!pendingJoin() || requesterId_.isNull() || requesterId_ != clientId) return;
  action == JoinAction::Approve ? approve() : reject();
}

void HostSession::approve() {
  LUNOR_REQUIRE_THREAD(this);
  if (requesterId_.isNull() || !pendingJoin()) return;
  send(signaling::answer(QStringLiteral("approve"), requesterId_));
  admittedId_ = requesterId_;
  setPendingJoin(false);
    setApproved(true);
  dismissPrompts();
  log(QStringLiteral("✅ Autorisé ") + (requesterName().isNull() ? requesterId_ : requesterName()));

  shouldMakeOfferWhenReady_ = true;
  hasSentInitialOffer_ = false;
  // The connection first: the capture's completion belongs to its epoch.
  if (!negotiation().exists()) createPeerConnection();
  startCaptureIfNeeded(QStringLiteral("▶️ Démarrage capture (à l’acceptation)"));
  sendOfferIfReady();
  setStartedAt(QDateTime::currentDateTime());

  showHud([this, alive = lifetime()] {
    if (!alive.isCurrent()) return;
    setPendingJoin(false);
    stop(QString::fromUtf8(kReasonHostEnded));
    environment().panels().hideFloatingHud();
  });
}

void HostSession::reject() {
  LUNOR_REQUIRE_THREAD(this);
  if (requesterId_.isNull() || !pendingJoin()) return;
  send(signaling::answer(QStringLiteral("reject"), requesterId_));
  setApproved(false);
  setPendingJoin(false);
    setRequesterName(QString());
  setRequesterAvatar(QImage());
  dismissPrompts();
  cooldownUntil_ = environment().clock().now() + kRejectCooldown;
  log(QStringLiteral("❌ Rejeté ") + requesterId_);
}

void HostSession::handlePeerJoined(const incoming::PeerJoined& joined) {
  // Its name, picture and log line are the session's already.
  const signaling::PeerJoined& peer = joined.peer;
  admittedId_ = peer.clientId;

  if (peer.unattended) {
    // Nobody here let this client in: nobody may be here to answer the
    // desktop's question either.
    if (const QString why = platform_.captureNeedsPerson(); !why.isEmpty()) {
      endWithoutPicture(why);
      return;
    }
    setApproved(true);
    setPendingJoin(false);
        dismissPrompts();
  }
  // The admission's TURN credentials (taken by the session) reach an offer
  // already made only through an ICE restart.
  const bool offeredBefore = negotiation().exists() && negotiation().hasOffered();
  if (!negotiation().exists()) createPeerConnection();
  if (peer.unattended) startCaptureIfNeeded(QStringLiteral("▶️ Démarrage capture (unattended)"));
  media_->refreshDisplays();
  if (offeredBefore && joined.carriesIceServers) {
    restartIce();
  } else {
    hasSentInitialOffer_ = false;
    shouldMakeOfferWhenReady_ = true;
    sendOfferIfReady();
  }
  if (!startedAt().isValid()) setStartedAt(QDateTime::currentDateTime());

  showHud([this, alive = lifetime()] {
    if (!alive.isCurrent()) return;
    stop(QString::fromUtf8(kReasonHostEnded));
    environment().panels().hideFloatingHud();
  });
}

}  // namespace lunor
