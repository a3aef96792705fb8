// SPDX-License-Identifier: GPL-3.0-or-later
// HostRole, at the door: join requests, their answers (panel, terminal or
// notification), the requester who gives up, and the client's arrival.

#include "host/host_role.h"
#include "features/session_features.h"

#include <QPointer>

#include "host/host_environment.h"
#include "host/host_media.h"
#include "protocol/signaling_messages.h"
#include "session/session_environment.h"
#include "session/session_panels.h"
#include "store/user_profile_store.h"
#include "system/event_sound.h"

namespace lunor {

bool HostRole::peerLeftEndsSession(const QString& clientId) {
  const bool unnamed = clientId == QLatin1String("?");
  if (s_.approved() || s_.negotiation().exists()) {
    // Someone else who was still waiting at the door does not end the session.
    return admittedId_.isNull() || unnamed || clientId == admittedId_;
  }
  if (s_.pendingJoin() && (unnamed || clientId == requesterId_)) withdrawRequest();
  return false;
}

void HostRole::dismissPrompts() {
  s_.environment().panels().dismissJoinRequest();
  if (!requesterId_.isNull()) s_.environment().notifications().withdrawJoinRequest(requesterId_);
}

void HostRole::withdrawRequest() {
  s_.log(QStringLiteral("↩️ Demande retirée par ") + (s_.requesterName().isNull() ? requesterId_ : s_.requesterName()));
  dismissPrompts();
  requesterId_ = QString();
  s_.setPendingJoin(false);
  s_.setApproved(false);
  s_.setRequesterName(QString());
  s_.setRequesterAvatar(QImage());
  s_.setStatus(QStringLiteral("En attente de connexion..."));
}

// ------------------------------------------------------------------ joining --

void HostRole::handleJoinRequest(const signaling::JoinRequest& request) {
  if (s_.isEnding()) return;
  if (std::chrono::steady_clock::now() < cooldownUntil_) {
    s_.log(QStringLiteral("⏳ Join ignorée (cooldown en cours)"));
    return;
  }
  // An ignored request must not relabel the session that is on screen, so
  // the requester's name and picture are taken only from here on.
  s_.setRequesterAvatar(decodeWireAvatar(request.avatar));
  s_.setRequesterName(request.displayName);

  if (!(s_.pendingJoin() && requesterId_ == request.clientId)) {
    requesterId_ = request.clientId;
    s_.setPendingJoin(true);
    s_.setApproved(false);
    s_.setStatus(QStringLiteral("Demande de connexion…"));
    s_.log(QStringLiteral("🔔 Join request de ") +
           (request.displayName.isNull() ? request.clientId : request.displayName));
    s_.environment().notifications().postJoinRequest(request.displayName, request.clientId);
    // Heard even where notifications are not allowed.
    s_.environment().sounds().joinRequest();
  }

  JoinRequestPrompt prompt;
  prompt.avatar = s_.requesterAvatar();
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
      weak->s_.send(signaling::answer(answer, clientId));
      weak->reject();
    };
  }
  ClipboardSync& clipboard = features().clipboard();
  prompt.clipboard = clipboard.sending() || clipboard.receiving();
  prompt.setClipboard = [weak](bool on) {
    if (!weak) return;
    ClipboardSync& clipboard = weak->features().clipboard();
    clipboard.setSending(on);
    clipboard.setReceiving(on);
  };
  s_.environment().panels().showJoinRequest(prompt);
}

void HostRole::handleNotificationAction(const QString& clientId, JoinAction action) {
  // Only the request on screen can be answered: a stale notification must
  // neither admit a client that left nor start a capture for nobody.
  if (!s_.pendingJoin() || requesterId_.isNull() || requesterId_ != clientId) return;
  action == JoinAction::Approve ? approve() : reject();
}

void HostRole::approve() {
  if (requesterId_.isNull() || !s_.pendingJoin()) return;
  s_.send(signaling::answer(QStringLiteral("approve"), requesterId_));
  admittedId_ = requesterId_;
  s_.setPendingJoin(false);
  s_.setIsWaitingApproval(false);
  s_.setApproved(true);
  dismissPrompts();
  s_.log(QStringLiteral("✅ Autorisé ") + (s_.requesterName().isNull() ? requesterId_ : s_.requesterName()));

  shouldMakeOfferWhenReady_ = true;
  hasSentInitialOffer_ = false;
  // The connection first: the capture's completion belongs to its epoch.
  if (!s_.negotiation().exists()) s_.createPeerConnection();
  startCaptureIfNeeded(QStringLiteral("▶️ Démarrage capture (à l’acceptation)"));
  sendOfferIfReady();
  s_.setStartedAt(QDateTime::currentDateTime());

  QPointer<HostRole> weak(this);
  showHud([weak] {
    if (!weak) return;
    weak->s_.setPendingJoin(false);
    weak->s_.setIsWaitingApproval(false);
    weak->s_.stop(QString::fromUtf8(kReasonHostEnded));
    weak->s_.environment().panels().hideFloatingHud();
  });
}

void HostRole::reject() {
  if (requesterId_.isNull() || !s_.pendingJoin()) return;
  s_.send(signaling::answer(QStringLiteral("reject"), requesterId_));
  s_.setApproved(false);
  s_.setPendingJoin(false);
  s_.setIsWaitingApproval(false);
  s_.setRequesterName(QString());
  s_.setRequesterAvatar(QImage());
  dismissPrompts();
  cooldownUntil_ = std::chrono::steady_clock::now() + kRejectCooldown;
  s_.log(QStringLiteral("❌ Rejeté ") + requesterId_);
}

void HostRole::handlePeerJoined(const incoming::PeerJoined& joined) {
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
    s_.setApproved(true);
    s_.setPendingJoin(false);
    s_.setIsWaitingApproval(false);
    dismissPrompts();
  }
  // The admission's TURN credentials (taken by the session) reach an offer
  // already made only through an ICE restart.
  const bool offeredBefore = s_.negotiation().exists() && s_.negotiation().hasOffered();
  if (!s_.negotiation().exists()) s_.createPeerConnection();
  if (peer.unattended) startCaptureIfNeeded(QStringLiteral("▶️ Démarrage capture (unattended)"));
  media_->refreshDisplays();
  if (offeredBefore && joined.carriesIceServers) {
    restartIce();
  } else {
    hasSentInitialOffer_ = false;
    shouldMakeOfferWhenReady_ = true;
    sendOfferIfReady();
  }
  if (!s_.startedAt().isValid()) s_.setStartedAt(QDateTime::currentDateTime());

  QPointer<HostRole> weak(this);
  showHud([weak] {
    if (!weak) return;
    weak->s_.stop(QString::fromUtf8(kReasonHostEnded));
    weak->s_.environment().panels().hideFloatingHud();
  });
}

}  // namespace lunor
