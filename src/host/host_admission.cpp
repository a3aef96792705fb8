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
#include "store/host_identity.h"
#include "store/unattended_password.h"
#include "store/user_profile_store.h"
#include "system/event_sound.h"
#include "system/worker_thread.h"

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
    door_ = {};
  }
  if (!request.commit.isEmpty() && request.commit != door_.commit) offerCode(request);

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
  prompt.code = door_.code;
  prompt_ = prompt;
  environment().panels().showJoinRequest(prompt);
}

void HostSession::offerCode(const signaling::JoinRequest& request) {
  const QByteArray fingerprint = certificateFingerprint();
  if (fingerprint.isEmpty()) return;
  door_ = {request.commit, proof::newCodeNonce(), {}, {}};
  send(signaling::joinCode(request.clientId, fingerprint, door_.nonce));
}

void HostSession::handleJoinReveal(const signaling::CodePart& part) {
  if (!pendingJoin() || part.clientId != requesterId_ || door_.commit.isEmpty() || !door_.code.isEmpty()) return;
  if (proof::codeCommitment(part.fingerprint, part.nonce) != door_.commit) {
    // Someone between us changed one half or the other: no code to compare.
    log(QStringLiteral("⛔ Code de vérification incohérent : aucun code à comparer"));
    door_.commit.clear();
    return;
  }
  door_.clientFingerprint = part.fingerprint;
  door_.code = proof::shortCode({certificateFingerprint(), part.fingerprint}, door_.nonce, part.nonce);
  log(QStringLiteral("🔢 Code de vérification : ") + door_.code);
  prompt_.code = door_.code;
  environment().panels().showJoinRequest(prompt_);
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
  // The connection must be with the client whose code was shown, if one was.
  negotiation().expectRemoteFingerprint(door_.clientFingerprint);
  admittedId_ = requesterId_;
  setPendingJoin(false);
  setApproved(true);
  inputOpen_->store(true);
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
  if (proving_) return;  // one client at the door at a time
  if (!peer.unattended && (!approved() || peer.clientId != admittedId_)) {
    // Nobody here let this client in: the server's word is not enough.
    log(QStringLiteral("⛔ Peer annoncé par le serveur sans accord de l’hôte ignoré (cid=") + peer.clientId +
        QLatin1Char(')'));
    return;
  }
  // Only a host that gave the server its digest takes the server's word for
  // a password; any other unattended client proves it here.
  if (peer.unattended && (peer.hostProof || !sentDigest_)) {
    if (!environment().profileStore().unattendedEnabled()) {
      log(QStringLiteral("⛔ Client sans accord ignoré : l’accès non surveillé est désactivé (cid=") + peer.clientId +
          QLatin1Char(')'));
      return;
    }
    beginProof(peer);
    return;
  }
  admittedId_ = peer.clientId;

  if (peer.unattended) {
    // Nobody here let this client in: nobody may be here to answer the
    // desktop's question either.
    if (const QString why = platform_.captureNeedsPerson(); !why.isEmpty()) {
      endWithoutPicture(why);
      return;
    }
    setApproved(true);
    inputOpen_->store(true);
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

// ---------------------------------------------------------- the password's proof --

void HostSession::beginProof(const signaling::PeerJoined& peer) {
  if (approved() || negotiation().exists()) return;  // someone is in already
  // Nobody may be here to answer the desktop's question once it is proved.
  if (const QString why = platform_.captureNeedsPerson(); !why.isEmpty()) {
    endWithoutPicture(why);
    return;
  }
  log(QStringLiteral("🔐 Client admis à prouver le mot de passe (cid=") + peer.clientId + QLatin1Char(')'));
  admittedId_ = peer.clientId;
  proving_ = true;
  setPendingJoin(false);
  dismissPrompts();
  setStatus(Status::CheckingPassword);
  proof_ = makeProof();
  createPeerConnection();
  // The password as it is now (it may have changed since the room was
  // made, or unattended access been switched off); the hello waits for it.
  proofSecretsReady_ = false;
  const bool unattended = environment().profileStore().unattendedEnabled();
  SecretStore* store = &environment().secretStore();
  secrets_->run<std::pair<std::optional<QString>, std::vector<QByteArray>>>(
      this,
      [store, unattended] {
        return std::pair(unattended ? loadUnattendedPassword(*store) : std::nullopt, knownDevices(*store));
      },
      [this, connection = epoch().ticket()](std::pair<std::optional<QString>, std::vector<QByteArray>> read) {
        if (!connection.isCurrent()) return;
        proofSecrets_.password = read.first && !read.first->isEmpty() ? read.first : std::nullopt;
        proofSecrets_.deviceDigests = std::move(read.second);
        proofSecretsReady_ = true;
        if (std::exchange(proofChannelWaiting_, false)) proofChannelOpened();
      });
  // The connection and its channels only: the picture comes once proved.
  hasSentInitialOffer_ = true;
  negotiation().makeOffer(offerRewrite());
  proofDeadline_.start();
}

std::unique_ptr<HostProof> HostSession::makeProof() {
  return std::make_unique<HostProof>(budget_, [this](const QByteArray& text) {
    negotiation().sendOn(QLatin1String(proof::kChannel), text, false);
  });
}

void HostSession::proofChannelOpened() {
  // Every client of ours hears who this host is; only one let in to prove
  // the password may try it.
  if (proofOpened_) return;  // said more than once for one channel
  if (!proofSecretsReady_) {
    proofChannelWaiting_ = true;
    return;
  }
  const proof::Binding binding{negotiation().localFingerprint(), negotiation().remoteFingerprint()};
  if (!binding.complete()) {
    log(QStringLiteral("⚠️ Empreintes DTLS introuvables : pas de preuve possible"));
    return;
  }
  if (!proof_) proof_ = makeProof();
  HostProof::Secrets secrets = proofSecrets_;
  if (!proving_) secrets.password.reset();  // nothing to prove: no try can succeed
  proof_->open(binding, std::move(secrets));
  proofOpened_ = true;
}

void HostSession::proofMessage(const QByteArray& text) {
  if (!proof_ || !proving_) return;
  const HostProof::Outcome outcome = proof_->receive(text);
  environment().profileStore().setPasswordBudget(budget_.saved(QDateTime::currentMSecsSinceEpoch()));
  if (outcome == HostProof::Outcome::Proved) {
    admitProved();
  } else if (!unattendedLocked() && budget_.spentToday()) {
    log(QStringLiteral("🔒 Accès non surveillé bloqué pour aujourd’hui : trop de mots de passe erronés (%1)")
            .arg(PasswordBudget::kFailuresPerDay));
    setUnattendedLocked(true);
  }
}

void HostSession::admitProved() {
  proving_ = false;
  proofDeadline_.stop();
  log(QStringLiteral("✅ Mot de passe prouvé par ") + (requesterName().isNull() ? admittedId_ : requesterName()));
  if (const QByteArray digest = proof_->newDeviceDigest(); !digest.isEmpty()) {
    proofSecrets_.deviceDigests.push_back(digest);
    SecretStore* store = &environment().secretStore();
    secrets_->run<bool>(this, [store, digest] { addKnownDevice(*store, digest); return true; }, [](bool) {});
  }
  setApproved(true);
  inputOpen_->store(true);
  sessionFeatures().exchange().setAcceptsFilesUnasked(true);
  if (negotiation().createControlChannel()) log(QStringLiteral("✅ DataChannel 'control' créé (host)"));
  renegotiateForTrack_ = true;
  shouldMakeOfferWhenReady_ = true;
  startCaptureIfNeeded(QStringLiteral("▶️ Démarrage capture (mot de passe prouvé)"));
  media_->refreshDisplays();
  sendOfferIfReady();
  setStartedAt(QDateTime::currentDateTime());
  showHud([this, alive = lifetime()] {
    if (!alive.isCurrent()) return;
    stop(QString::fromUtf8(kReasonHostEnded));
    environment().panels().hideFloatingHud();
  });
}

}  // namespace lunor
