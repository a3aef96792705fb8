// SPDX-License-Identifier: GPL-3.0-or-later
#include "client/client_session.h"

#include <algorithm>
#include <atomic>

#include <QLocale>

#include "client/client_proof.h"
#include "protocol/control_message.h"
#include "protocol/password_proof.h"
#include "protocol/peer_features.h"
#include "protocol/signaling_messages.h"
#include "session/epoch.h"
#include "session/negotiation.h"
#include "session/duration_text.h"
#include "session/published.h"
#include "session/service_config.h"
#include "session/session_environment.h"
#include "store/address_book.h"
#include "store/unattended_password.h"
#include "store/user_profile_store.h"

namespace lunor {

// A sink on the host's track that says, once, on the session's thread,
// that a picture came.
class ClientSession::FirstPicture final : public rtc::VideoSink {
 public:
  FirstPicture(Epoch::Ticket connection, std::function<void()> shown)
      : connection_(std::move(connection)), shown_(std::move(shown)) {}
  void onFrame(const rtc::I420FrameView&) override {
    if (!seen_.exchange(true)) connection_.post(shown_);
  }

 private:
  const Epoch::Ticket connection_;
  const std::function<void()> shown_;
  std::atomic<bool> seen_{false};
};

ClientSession::ClientSession(SessionEnvironment& environment, QObject* parent)
    : Session(environment, Role::Client, parent) {
  joinTimer_.setSingleShot(true);
  joinTimer_.setInterval(kJoinDelayMs);
  joinTimer_.onTimeout([this] {
    if (joinLink_ && joinLink_->isCurrent()) sendJoin(std::nullopt);
  });
  linkTimer_.setInterval(kLinkIntervalMs);
  linkTimer_.onTimeout([this] {
    const int context = linkContext_;
    negotiation().collectStats([this, context](const rtc::ConnectionStats& stats) {
      if (!stats.receive || !linkTimer_.isActive()) return;
      const auto reading = linkGauge_.update(stats, kLinkIntervalMs / 1000.0, context);
      if (reading) setLink(lunor::linkSummary(*reading), reading->limited);
    });
  });
  const SignalingEndpoint endpoint = environment.signalingEndpoint();
  reconnectDelaysMs_ = endpoint.reconnectDelaysMs;
  approvalTimer_.setSingleShot(true);
  approvalTimer_.setInterval(endpoint.approvalTimeoutMs);
  approvalTimer_.onTimeout([this] {
    log(QStringLiteral("⏰ Pas de réponse de l’hôte après %1 s").arg(approvalTimer_.interval() / 1000.0));
    // Leaving the room withdraws the request on the host's side too.
    endWith(kReasonNoAnswer, EndCause::NoAnswer);
  });
  reconnectTimer_.setSingleShot(true);
  reconnectTimer_.onTimeout([this] { reconnect(); });
  // Whichever comes last of the picture, the channel's adoption and its opening says it.
  connect(&negotiation(), &Negotiation::controlChannelAdopted, this, &ClientSession::sayPicture);
  connect(&negotiation(), &Negotiation::controlChannelOpened, this, &ClientSession::sayPicture);
  // The host opens "proof" on every connection of ours, and says who it is there.
  negotiation().acceptChannel(proof::kChannel);
  helloTimer_.setSingleShot(true);
  helloTimer_.setInterval(kHostHelloMs);
  helloTimer_.onTimeout([this] {
    log(QStringLiteral("⛔ L’hôte connu ne s’est pas présenté après %1 s").arg(kHostHelloMs / 1000));
    endWith(kReasonHostNotVerified, EndCause::HostNotVerified);
  });
  passwordRetryTimer_.setSingleShot(true);
  passwordRetryTimer_.onTimeout([this] {
    setPasswordNotice(QString(), QDateTime());
    setStatus(Status::PasswordRequired);
    setAskUnattendedPassword(true);
  });
}

ClientSession::~ClientSession() {
  shutDown();  // no library callback may reach what follows once it starts going
  stopWatchingPicture();
}

bool ClientSession::mustHearHost() { return !environment().addressBook().hostKey(roomId()).isEmpty(); }

void ClientSession::remoteTrackArrived(const std::shared_ptr<rtc::VideoTrack>& track) {
  if (track && !hostVerified_ && mustHearHost()) {
    heldTrack_ = track;  // shown once the host has said who it is
    return;
  }
  stopWatchingPicture();
  pictureToSay_ = false;
  if (!track) {
    setRemoteVideoTrack(nullptr);
    return;
  }
  firstPicture_ = std::make_unique<FirstPicture>(epoch().ticket(), [this] {
    pictureToSay_ = true;
    sayPicture();
    stopWatchingPicture();  // one word a connection; the sink costs nothing more
  });
  watchedTrack_ = track;
  watchedTrack_->addSink(firstPicture_.get());
  setRemoteVideoTrack(track);
}

void ClientSession::sayPicture() {
  // The picture may come before the control channel is open: said then.
  if (!pictureToSay_ || !negotiation().sendControl(QByteArray(kPictureShownMessage))) return;
  pictureToSay_ = false;
}

void ClientSession::stopWatchingPicture() {
  if (watchedTrack_ && firstPicture_) watchedTrack_->removeSink(firstPicture_.get());
  watchedTrack_.reset();
  firstPicture_.reset();
}

void ClientSession::startClient(const QString& roomId) {
  LUNOR_REQUIRE_THREAD(this);
  begin(roomId);
  // An end the screens never cleared (gone while showing it) must not hide
  // the next one with the same text.
  setEndCause(EndCause::NotEnded);
  setEndReason(QString());
  renewGeneration();
  log(QStringLiteral("🎯 Mode CLIENT → connexion à ") + roomId);
  setStatus(Status::ConnectingToServer);
  openLink();
  scheduleJoin();
}

void ClientSession::scheduleJoin() {
  joinLink_ = link();
  joinTimer_.start();
}

void ClientSession::sendJoin(const std::optional<QString>& passwordHash) {
  const UserProfileStore& profile = environment().profileStore();
  // A request the host's person answers carries our half of the code, sealed.
  const QByteArray fingerprint = certificateFingerprint();
  codeNonce_ = fingerprint.isEmpty() ? QByteArray() : proof::newCodeNonce();
  setVerificationCode(QString());
  negotiation().expectRemoteFingerprint({});
  send(signaling::join(roomId(), profile.displayName(), profile.wireAvatar(), passwordHash,
                       environment().addressBook().deviceKey(roomId()), /*hostProof=*/false,
                       codeNonce_.isEmpty() ? QByteArray() : proof::codeCommitment(fingerprint, codeNonce_)));
  setStatus(Status::ConnectingToHost);
}

void ClientSession::submitUnattendedPassword(const QString& password) {
  LUNOR_REQUIRE_THREAD(this);
  setAskUnattendedPassword(false);
  setPasswordNotice(QString(), QDateTime());
  setStatus(Status::CheckingPassword);
  const UserProfileStore& profile = environment().profileStore();
  if (hostProves_) {
    // Neither the password nor anything made from it goes to the server.
    if (proof_) {
      proof_->tryPassword(password);  // at once, or as soon as the host says hello
      return;
    }
    pendingPassword_ = password;
    if (provingToHost_) return;  // in: the host's hello is on its way
    provingToHost_ = true;
    send(signaling::join(roomId(), profile.displayName(), profile.wireAvatar(), std::nullopt, QString(),
                         /*hostProof=*/true));
    return;
  }
  // An empty password is sent too: its digest is what the host compares.
  send(signaling::join(roomId(), profile.displayName(), profile.wireAvatar(),
                                   unattendedPasswordHash(password),
                                   environment().addressBook().deviceKey(roomId())));
}

QString ClientSession::departureReason() const { return QString::fromUtf8(kReasonHostLeft); }

void ClientSession::stopping() {
  // The end screen needs a start time even for a session that never began.
  if (!startedAt().isValid()) setStartedAt(QDateTime::currentDateTime());
}

void ClientSession::tearingDown() {
  stopWatchingPicture();
  pictureToSay_ = false;
  admitted_ = false;
  deviceKey_ = QString();
  joinTimer_.stop();
  approvalTimer_.stop();
  reconnectTimer_.stop();
  passwordRetryTimer_.stop();
  proof_.reset();
  hostVerified_ = false;
  heldTrack_.reset();
  helloTimer_.stop();
  hostProves_ = false;
  provingToHost_ = false;
  pendingPassword_.reset();
  reconnectAttempt_ = 0;
  linkTimer_.stop();
  linkGauge_ = LinkGauge();
  setLink(QString(), false);
}

void ClientSession::endWith(const char* reason, EndCause cause) {
  // Nobody would ever answer: waiting would be forever.
  setStatus(Status::Detail, QString::fromUtf8(reason));
  endSession(QString::fromUtf8(reason), /*silent=*/true, cause);
}

// ---------------------------------------------------------------- signaling --


void ClientSession::signalingClosed() {
  // Once let in, the server is no longer needed: the peer connection comes
  // up within its deadline or the session ends.
  if (admitted_) return;
  if (reconnectAttempt_ >= reconnectDelaysMs_.size()) {
    log(QStringLiteral("❌ Serveur injoignable après %1 tentatives").arg(reconnectAttempt_ + 1));
    endWith(kReasonServerUnreachable, EndCause::ServerUnreachable);
    return;
  }
  const int delay = reconnectDelaysMs_[reconnectAttempt_++];
  log(QStringLiteral("🔁 Nouvelle tentative de connexion au serveur dans %1 s").arg(delay / 1000.0));
  reconnectLink_ = forgetLink();  // the dead link is heard no more
  reconnectTimer_.start(delay);
}

void ClientSession::reconnect() {
  if (!reconnectLink_ || !reconnectLink_->isCurrent() || !running() || isEnding()) return;
  // The request went with the old connection: a new one joins again, into
  // a room that makes its peer connection afresh.
  negotiation().close();
  setIsWaitingApproval(false);
  setStatus(Status::ConnectingToServer);
  openLink();
  scheduleJoin();
}

void ClientSession::handle(const incoming::Message& message) {
  // The server took the join: a later loss starts its tries over. (Opening
  // the socket, or an error before it closes, would not do: a server that
  // turns every connection away must not be tried for ever.)
  const bool joined = std::holds_alternative<incoming::Joined>(message);
  if (joined || std::holds_alternative<incoming::WaitingApproval>(message)) reconnectAttempt_ = 0;
  if (joined) {
    log(QStringLiteral("🚪 Room rejointe"));
    setStatus(Status::RoomJoined);
    createPeerConnection();
  } else if (std::holds_alternative<incoming::WaitingApproval>(message)) {
    setStatus(Status::WaitingForApproval);
    setIsWaitingApproval(true);
    // Counted from the first request: a reconnection does not start it over.
    if (!approvalTimer_.isActive()) approvalTimer_.start();
  } else if (const auto* required = std::get_if<incoming::RequireUnattended>(&message)) {
    approvalTimer_.stop();  // the password decides, not a person
    // A host met before that proved who it was does not stop doing so: a
    // server that says otherwise would get the password's digest.
    if (!required->hostProof && !environment().addressBook().hostKey(roomId()).isEmpty()) {
      log(QStringLiteral("⛔ Le serveur demande l’empreinte du mot de passe pour un hôte qui le vérifie lui-même"));
      endWith(kReasonHostIdentityChanged, EndCause::HostIdentityChanged);
      return;
    }
    hostProves_ = required->hostProof;
    setAskUnattendedPassword(true);
  } else if (const auto* denied = std::get_if<incoming::UnattendedDenied>(&message)) {
    passwordDenied(*denied);
  } else if (const auto* code = std::get_if<incoming::JoinCode>(&message)) {
    handleJoinCode(code->part);
  } else if (const auto* approved = std::get_if<incoming::Approved>(&message)) {
    approvalTimer_.stop();
    admitted_ = true;
    negotiation().armConnectDeadline();
    // The server's new key for this machine replaces the one the join
    // showed: kept at once for a known host, with a new host's entry once
    // the session is up.
    deviceKey_ = approved->deviceKey;
    if (!deviceKey_.isNull()) environment().addressBook().setDeviceKey(roomId(), deviceKey_);
    // In to prove the password, not yet let in.
    setStatus(provingToHost_ ? Status::CheckingPassword : Status::Admitted);
    setIsWaitingApproval(false);
    if (!startedAt().isValid()) setStartedAt(QDateTime::currentDateTime());
  } else if (std::holds_alternative<incoming::PeerJoined>(message)) {
    // Its name, picture and log line are the session's already.
    approvalTimer_.stop();
    admitted_ = true;
    createPeerConnection();
    negotiation().armConnectDeadline();
  } else if (std::holds_alternative<incoming::RoomNotFound>(message)) {
    endWith(kReasonHostNotFound, EndCause::HostNotFound);
  } else if (std::holds_alternative<incoming::RoomBusy>(message)) {
    endWith(kReasonHostBusy, EndCause::HostBusy);
  }
}

void ClientSession::handleJoinCode(const signaling::CodePart& part) {
  if (codeNonce_.isEmpty() || admitted_ || !verificationCode_.isEmpty()) return;
  const QByteArray own = certificateFingerprint();
  send(signaling::joinReveal(own, codeNonce_));
  negotiation().expectRemoteFingerprint(part.fingerprint);
  setVerificationCode(proof::shortCode({part.fingerprint, own}, part.nonce, codeNonce_));
  log(QStringLiteral("🔢 Code de vérification : ") + verificationCode_);
}

void ClientSession::passwordDenied(const incoming::UnattendedDenied& denied) {
  if (denied.retryAfterMs <= 0) {
    setPasswordNotice(QStringLiteral("Mot de passe incorrect"), QDateTime());
    setStatus(Status::PasswordWrong);
    setAskUnattendedPassword(true);
    return;
  }
  // Nothing would be tried before then: no prompt until the server takes
  // passwords again, and the person knows when that is.
  const QDateTime retryAt = QDateTime::currentDateTime().addMSecs(denied.retryAfterMs);
  const QString notice =
      (denied.locked ? QStringLiteral("Trop de mots de passe faux pour cet ordinateur aujourd’hui")
                     : QStringLiteral("Trop de tentatives")) +
      QStringLiteral(" : réessayez dans %1 (à %2)")
          .arg(waitText(denied.retryAfterMs), QLocale(QLocale::French).toString(retryAt.time(), QStringLiteral("HH:mm")));
  log(QStringLiteral("⛔ ") + notice);
  setAskUnattendedPassword(false);
  setPasswordNotice(notice, retryAt);
  setStatus(Status::Detail, notice);
  passwordRetryTimer_.start(int(std::min<int64_t>(denied.retryAfterMs, INT32_MAX)));
}

void ClientSession::proofChannelOpened() {
  if (proof_) return;  // said more than once for one channel
  const proof::Binding binding{negotiation().remoteFingerprint(), negotiation().localFingerprint()};
  const AddressBook& book = environment().addressBook();
  proof_ = std::make_unique<ClientProof>(binding, book.hostKey(roomId()), book.hostDeviceKey(roomId()),
                                         [this](const QByteArray& text) {
                                           negotiation().sendOn(QLatin1String(proof::kChannel), text, false);
                                         });
  if (pendingPassword_) proof_->tryPassword(*std::exchange(pendingPassword_, std::nullopt));
}

void ClientSession::proofMessage(const QByteArray& text) {
  if (!proof_) return;
  using Kind = ClientProof::Outcome::Kind;
  const ClientProof::Outcome outcome = proof_->receive(text);
  AddressBook& book = environment().addressBook();
  switch (outcome.kind) {
    case Kind::None: return;
    case Kind::HostKnown:
      // Met for the first time: this is who it is from now on.
      if (book.hostKey(roomId()).isEmpty()) book.setHostKey(roomId(), outcome.hostKey);
      log(QStringLiteral("🔏 Identité de l’hôte vérifiée"));
      hostVerified_ = true;
      helloTimer_.stop();
      if (heldTrack_) remoteTrackArrived(std::exchange(heldTrack_, nullptr));
      return;
    case Kind::IdentityChanged:
      log(QStringLiteral("⛔ L’hôte présente une autre identité que celle connue"));
      endWith(kReasonHostIdentityChanged, EndCause::HostIdentityChanged);
      return;
    case Kind::NotTheHost:
      log(QStringLiteral("⛔ L’identité de l’hôte ne vaut pas pour cette connexion"));
      endWith(kReasonHostNotVerified, EndCause::HostNotVerified);
      return;
    case Kind::WrongPassword:
    case Kind::Wait:
      passwordDenied({outcome.locked, outcome.retryAfterMs});
      return;
    case Kind::Admitted:
      log(QStringLiteral("✅ Mot de passe prouvé à l’hôte"));
      if (!outcome.deviceKey.isEmpty()) book.setHostDeviceKey(roomId(), outcome.deviceKey);
      setStatus(Status::Admitted);
      return;
  }
}

void ClientSession::connectionCreated() {
  proof_.reset();  // a new connection, a new proof, a new hello
  hostVerified_ = false;
  heldTrack_.reset();
  helloTimer_.stop();
  log(QStringLiteral("ℹ️ Client en attente du DataChannel 'control' (réception via didOpen)"));
  log(QStringLiteral("ℹ️ Client : en attente des tracks de l'host (pas de transceiver explicite)"));
}

void ClientSession::connected() {
  if (!hostVerified_ && mustHearHost() && !helloTimer_.isActive()) helloTimer_.start();
  AddressBook& book = environment().addressBook();
  book.recordSuccess(roomId(), QString());
  if (!deviceKey_.isNull()) book.setDeviceKey(roomId(), std::exchange(deviceKey_, QString()));
  linkTimer_.start();
}

// ----------------------------------------------------------------- payloads --

void ClientSession::handle(const incoming::Payload& payload) {
  if (const auto* offer = std::get_if<incoming::Offer>(&payload)) {
    setIsWaitingApproval(false);  // a host that made its person choose has chosen
    negotiation().answerOffer(offer->sdp.toStdString());
    negotiation().armConnectDeadline();
  } else if (const auto* list = std::get_if<incoming::Displays>(&payload)) {
    if (list->entries.empty()) {
      log(QStringLiteral("📥 displays[] vide ignoré (on conserve la liste actuelle)"));
      return;
    }
    QVariantList displays;
    for (const auto& entry : list->entries) {
      displays.append(QVariantMap{{QStringLiteral("index"), entry.index},
                                  {QStringLiteral("name"), entry.name},
                                  {QStringLiteral("resolution"), entry.resolution}});
    }
    setAvailableDisplays(displays);
    log(QStringLiteral("📥 %1 écran(s) disponible(s) reçu(s)").arg(displays.size()));
  } else if (const auto* choosing = std::get_if<incoming::HostChoosing>(&payload)) {
    // No offer before the host's person has chosen: wait as long as they may.
    log(QStringLiteral("🪟 L’hôte choisit l’écran à partager (%1 s au plus)").arg(choosing->timeoutMs / 1000));
    setStatus(Status::HostChoosing);
    setIsWaitingApproval(true);
    negotiation().armConnectDeadline(choosing->timeoutMs + Negotiation::kConnectDeadlineMs);
  } else if (const auto* geometry = std::get_if<signaling::VideoGeometry>(&payload)) {
    if (geometry->width > 0 && geometry->height > 0) setRemoteVideoSize({geometry->width, geometry->height});
    if (geometry->activeDisplay) setCurrentDisplayIndex(*geometry->activeDisplay);
    log(QStringLiteral("📐 videoGeometry reçu: %1x%2 (display %3)")
               .arg(geometry->width)
               .arg(geometry->height)
               .arg(currentDisplayIndex()));
  }
}

// ----------------------------------------------------------------- requests --

void ClientSession::requestQuality(const QString& rawProfile) {
  LUNOR_REQUIRE_THREAD(this);
  const auto profile = qualityFromRaw(rawProfile);
  if (!profile) return;
  log(QStringLiteral("📨 Demande qualité envoyée: ") + rawProfile);
  ++linkContext_;
  sendPayload(signaling::qualityPayload(*profile));
}

void ClientSession::requestDisplaySwitch(int index) {
  LUNOR_REQUIRE_THREAD(this);
  log(QStringLiteral("📨 Demande switch écran: #%1").arg(index));
  ++linkContext_;
  setCurrentDisplayIndex(index);
  setDisplayedVideoRect(QRectF());
  sendPayload(signaling::switchDisplayPayload(index));
}

void ClientSession::requestHardRefresh() {
  LUNOR_REQUIRE_THREAD(this);
  log(QStringLiteral("🔄 HARD REFRESH demandé"));
  if (negotiation().exists()) {
    log(QStringLiteral("♻️ ICE restart"));
    negotiation().restartIceLocally();
  }
  sendPayload(signaling::hardRefreshPayload());
  log(QStringLiteral("📤 hard-refresh-request envoyé au host"));
}

void ClientSession::requestScreenSize(int width, int height) {
  LUNOR_REQUIRE_THREAD(this);
  if (width <= 0 || height <= 0 || (!hostVerified_ && mustHearHost())) return;
  negotiation().sendControl(encodeScreenSizeRequest(QSize(width, height)));
}

void ClientSession::sendControl(const QVariantMap& message) {
  LUNOR_REQUIRE_THREAD(this);
  if (const auto decoded = decodeControlMessage(QJsonObject::fromVariantMap(message))) sendControl(*decoded);
}

void ClientSession::sendControl(const ControlMessage& message) {
  if (!hostVerified_ && mustHearHost()) return;  // not to a host that has not said who it is
  negotiation().sendControl(encodeControlMessage(message));
}

// ---------------------------------------------------------- published fields --

void ClientSession::settleWaiting() { setIsWaitingApproval(false); }

void ClientSession::resetFields() {
  passwordPutAway_ = false;
  setIsWaitingApproval(false);
  setRemoteVideoTrack(nullptr);
  setAskUnattendedPassword(false);
  setPasswordNotice(QString(), QDateTime());
  setVerificationCode(QString());
}

void ClientSession::setVerificationCode(const QString& code) {
  LUNOR_REQUIRE_THREAD(this);
  publish(verificationCode_, code, [this] { Q_EMIT verificationCodeChanged(); });
}

void ClientSession::setIsWaitingApproval(bool value) {
  LUNOR_REQUIRE_THREAD(this);
  publish(isWaitingApproval_, value, [this] { Q_EMIT isWaitingApprovalChanged(); });
}

void ClientSession::setAskUnattendedPassword(bool value) {
  LUNOR_REQUIRE_THREAD(this);
  if (value) passwordPutAway_ = false;
  publish(askUnattendedPassword_, value, [this] { Q_EMIT askUnattendedPasswordChanged(); });
}

void ClientSession::cancelPasswordPrompt() {
  if (!askUnattendedPassword_) return;
  passwordPutAway_ = true;
  setAskUnattendedPassword(false);
}

void ClientSession::reopenPasswordPrompt() {
  if (!passwordPutAway_ || !running() || isEnding()) return;
  if (passwordRetryAt_.isValid() && passwordRetryAt_ > QDateTime::currentDateTime()) return;
  setAskUnattendedPassword(true);
}

void ClientSession::setPasswordNotice(const QString& notice, const QDateTime& retryAt) {
  LUNOR_REQUIRE_THREAD(this);
  if (passwordNotice_ == notice && passwordRetryAt_ == retryAt) return;
  passwordNotice_ = notice;
  passwordRetryAt_ = retryAt;
  Q_EMIT passwordNoticeChanged();
}

void ClientSession::setRemoteVideoTrack(std::shared_ptr<rtc::VideoTrack> track) {
  LUNOR_REQUIRE_THREAD(this);
  publish(remoteVideoTrack_, std::move(track), [this] { Q_EMIT remoteVideoTrackChanged(); });
}

void ClientSession::setLink(const QString& summary, bool limited) {
  if (summary == linkSummary_ && limited == linkLimited_) return;
  linkSummary_ = summary;
  linkLimited_ = limited;
  Q_EMIT linkChanged();
}

void ClientSession::setRemoteVideoSize(const QSize& size) {
  LUNOR_REQUIRE_THREAD(this);
  publish(remoteVideoSize_, size, [this] { Q_EMIT remoteVideoSizeChanged(); });
}

void ClientSession::setDisplayedVideoRect(const QRectF& rect) {
  LUNOR_REQUIRE_THREAD(this);
  publish(displayedVideoRect_, rect, [this] { Q_EMIT displayedVideoRectChanged(); });
}

}  // namespace lunor
