// SPDX-License-Identifier: GPL-3.0-or-later
#include "client/client_role.h"

#include <algorithm>
#include <atomic>

#include <QLocale>

#include "protocol/control_message.h"
#include "protocol/signaling_messages.h"
#include "session/epoch.h"
#include "session/negotiation.h"
#include "session/duration_text.h"
#include "session/service_config.h"
#include "session/session_environment.h"
#include "store/address_book.h"
#include "store/unattended_password.h"
#include "store/user_profile_store.h"

namespace lunor {

// A sink on the host's track that says, once, on the session's thread,
// that a picture came.
class ClientRole::FirstPicture final : public rtc::VideoSink {
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

ClientRole::ClientRole(SessionCore& session) : s_(session) {
  joinTimer_.setSingleShot(true);
  joinTimer_.setInterval(kJoinDelayMs);
  connect(&joinTimer_, &QTimer::timeout, this, [this] {
    if (s_.generation() == joinGeneration_) sendJoin(std::nullopt);
  });
  linkTimer_.setInterval(kLinkIntervalMs);
  connect(&linkTimer_, &QTimer::timeout, this, [this] {
    const int context = linkContext_;
    s_.negotiation().collectStats([this, context](const rtc::ConnectionStats& stats) {
      if (!stats.receive || !linkTimer_.isActive()) return;
      const auto reading = linkGauge_.update(*stats.receive, kLinkIntervalMs / 1000.0, context);
      if (reading) s_.setLink(linkSummary(*reading), reading->limited);
    });
  });
  const SignalingEndpoint endpoint = s_.environment().signalingEndpoint();
  reconnectDelaysMs_ = endpoint.reconnectDelaysMs;
  approvalTimer_.setSingleShot(true);
  approvalTimer_.setInterval(endpoint.approvalTimeoutMs);
  connect(&approvalTimer_, &QTimer::timeout, this, [this] {
    s_.log(QStringLiteral("⏰ Pas de réponse de l’hôte après %1 s").arg(approvalTimer_.interval() / 1000.0));
    // Leaving the room withdraws the request on the host's side too.
    endWith(kReasonNoAnswer, EndCause::NoAnswer);
  });
  reconnectTimer_.setSingleShot(true);
  connect(&reconnectTimer_, &QTimer::timeout, this, &ClientRole::reconnect);
  // Whichever comes last of the picture, the channel's adoption and its opening says it.
  connect(&s_.negotiation(), &Negotiation::controlChannelAdopted, this, &ClientRole::sayPicture);
  connect(&s_.negotiation(), &Negotiation::controlChannelOpened, this, &ClientRole::sayPicture);
  passwordRetryTimer_.setSingleShot(true);
  connect(&passwordRetryTimer_, &QTimer::timeout, this, [this] {
    s_.setPasswordNotice(QString(), QDateTime());
    s_.setStatus(QStringLiteral("Mot de passe requis"));
    s_.setAskUnattendedPassword(true);
  });
}

ClientRole::~ClientRole() { stopWatchingPicture(); }

void ClientRole::remoteTrackArrived(const std::shared_ptr<rtc::VideoTrack>& track) {
  stopWatchingPicture();
  pictureToSay_ = false;
  if (!track) return;
  firstPicture_ = std::make_unique<FirstPicture>(s_.epoch().ticket(), [this] {
    pictureToSay_ = true;
    sayPicture();
    stopWatchingPicture();  // one word a connection; the sink costs nothing more
  });
  watchedTrack_ = track;
  watchedTrack_->addSink(firstPicture_.get());
}

void ClientRole::sayPicture() {
  // The picture may come before the control channel is open: said then.
  if (!pictureToSay_ || !s_.negotiation().sendControl(QByteArray(kPictureShownMessage))) return;
  pictureToSay_ = false;
}

void ClientRole::stopWatchingPicture() {
  if (watchedTrack_ && firstPicture_) watchedTrack_->removeSink(firstPicture_.get());
  watchedTrack_.reset();
  firstPicture_.reset();
}

void ClientRole::starting(const QString&) {
  joinGeneration_ = s_.generation();
  joinTimer_.start();
}

void ClientRole::sendJoin(const std::optional<QString>& passwordHash) {
  const UserProfileStore& profile = s_.environment().profileStore();
  s_.send(signaling::join(s_.roomId(), profile.displayName(), profile.wireAvatar(), passwordHash,
                                   s_.environment().addressBook().deviceKey(s_.roomId())));
  s_.setStatus(QStringLiteral("Connexion à l'hôte..."));
}

void ClientRole::submitPassword(const QString& password) {
  s_.setAskUnattendedPassword(false);
  s_.setPasswordNotice(QString(), QDateTime());
  // An empty password is sent too: its digest is what the host compares.
  const UserProfileStore& profile = s_.environment().profileStore();
  s_.send(signaling::join(s_.roomId(), profile.displayName(), profile.wireAvatar(),
                                   unattendedPasswordHash(password),
                                   s_.environment().addressBook().deviceKey(s_.roomId())));
  s_.setStatus(QStringLiteral("Vérification du mot de passe…"));
}

QString ClientRole::departureReason() const { return QString::fromUtf8(kReasonHostLeft); }

void ClientRole::stopping() {
  // The end screen needs a start time even for a session that never began.
  if (!s_.startedAt().isValid()) s_.setStartedAt(QDateTime::currentDateTime());
}

void ClientRole::tearingDown() {
  stopWatchingPicture();
  pictureToSay_ = false;
  admitted_ = false;
  deviceKey_ = QString();
  joinTimer_.stop();
  approvalTimer_.stop();
  reconnectTimer_.stop();
  passwordRetryTimer_.stop();
  reconnectAttempt_ = 0;
  linkTimer_.stop();
  linkGauge_ = LinkGauge();
  s_.setLink(QString(), false);
}

void ClientRole::endWith(const char* reason, EndCause cause) {
  // Nobody would ever answer: waiting would be forever.
  s_.setStatus(QString::fromUtf8(reason));
  s_.endSession(QString::fromUtf8(reason), /*silent=*/true, cause);
}

// ---------------------------------------------------------------- signaling --


void ClientRole::signalingClosed() {
  // Once let in, the server is no longer needed: the peer connection comes
  // up within its deadline or the session ends.
  if (admitted_) return;
  if (reconnectAttempt_ >= reconnectDelaysMs_.size()) {
    s_.log(QStringLiteral("❌ Serveur injoignable après %1 tentatives").arg(reconnectAttempt_ + 1));
    endWith(kReasonServerUnreachable, EndCause::ServerUnreachable);
    return;
  }
  const int delay = reconnectDelaysMs_[reconnectAttempt_++];
  s_.log(QStringLiteral("🔁 Nouvelle tentative de connexion au serveur dans %1 s").arg(delay / 1000.0));
  s_.forgetLink();  // the dead link is heard no more
  reconnectGeneration_ = s_.generation();
  reconnectTimer_.start(delay);
}

void ClientRole::reconnect() {
  if (s_.generation() != reconnectGeneration_ || !s_.running() || s_.isEnding()) return;
  // The request went with the old connection: a new one joins again, into
  // a room that makes its peer connection afresh.
  s_.negotiation().close();
  s_.setIsWaitingApproval(false);
  s_.setStatus(QStringLiteral("Connexion au serveur..."));
  s_.openLink();
  starting(s_.roomId());
}

void ClientRole::handle(const incoming::Message& message) {
  // The server took the join: a later loss starts its tries over. (Opening
  // the socket, or an error before it closes, would not do: a server that
  // turns every connection away must not be tried for ever.)
  const bool joined = std::holds_alternative<incoming::Joined>(message);
  if (joined || std::holds_alternative<incoming::WaitingApproval>(message)) reconnectAttempt_ = 0;
  if (joined) {
    s_.log(QStringLiteral("🚪 Room rejointe"));
    s_.setStatus(QStringLiteral("Salle rejointe"));
    s_.createPeerConnection();
  } else if (std::holds_alternative<incoming::WaitingApproval>(message)) {
    s_.setStatus(QStringLiteral("En attente d'autorisation par l'hôte…"));
    s_.setIsWaitingApproval(true);
    // Counted from the first request: a reconnection does not start it over.
    if (!approvalTimer_.isActive()) approvalTimer_.start();
  } else if (std::holds_alternative<incoming::RequireUnattended>(message)) {
    approvalTimer_.stop();  // the password decides, not a person
    s_.setAskUnattendedPassword(true);
  } else if (const auto* denied = std::get_if<incoming::UnattendedDenied>(&message)) {
    passwordDenied(*denied);
  } else if (const auto* approved = std::get_if<incoming::Approved>(&message)) {
    approvalTimer_.stop();
    admitted_ = true;
    s_.negotiation().armConnectDeadline();
    // The server's new key for this machine replaces the one the join
    // showed: kept at once for a known host, with a new host's entry once
    // the session is up.
    deviceKey_ = approved->deviceKey;
    if (!deviceKey_.isNull()) s_.environment().addressBook().setDeviceKey(s_.roomId(), deviceKey_);
    s_.setStatus(QStringLiteral("Autorisé. Initialisation…"));
    s_.setIsWaitingApproval(false);
    if (!s_.startedAt().isValid()) s_.setStartedAt(QDateTime::currentDateTime());
  } else if (std::holds_alternative<incoming::PeerJoined>(message)) {
    // Its name, picture and log line are the session's already.
    approvalTimer_.stop();
    admitted_ = true;
    s_.createPeerConnection();
    s_.negotiation().armConnectDeadline();
  } else if (std::holds_alternative<incoming::RoomNotFound>(message)) {
    endWith(kReasonHostNotFound, EndCause::HostNotFound);
  } else if (std::holds_alternative<incoming::RoomBusy>(message)) {
    endWith(kReasonHostBusy, EndCause::HostBusy);
  }
}

void ClientRole::passwordDenied(const incoming::UnattendedDenied& denied) {
  if (denied.retryAfterMs <= 0) {
    s_.setPasswordNotice(QStringLiteral("Mot de passe incorrect"), QDateTime());
    s_.setStatus(QStringLiteral("Mot de passe incorrect"));
    s_.setAskUnattendedPassword(true);
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
  s_.log(QStringLiteral("⛔ ") + notice);
  s_.setAskUnattendedPassword(false);
  s_.setPasswordNotice(notice, retryAt);
  s_.setStatus(notice);
  passwordRetryTimer_.start(int(std::min<int64_t>(denied.retryAfterMs, INT32_MAX)));
}

void ClientRole::connectionCreated() {
  s_.log(QStringLiteral("ℹ️ Client en attente du DataChannel 'control' (réception via didOpen)"));
  s_.log(QStringLiteral("ℹ️ Client : en attente des tracks de l'host (pas de transceiver explicite)"));
}

void ClientRole::connected() {
  AddressBook& book = s_.environment().addressBook();
  book.recordSuccess(s_.roomId(), QString());
  if (!deviceKey_.isNull()) book.setDeviceKey(s_.roomId(), std::exchange(deviceKey_, QString()));
  linkTimer_.start();
}

// ----------------------------------------------------------------- payloads --

void ClientRole::handle(const incoming::Payload& payload) {
  if (const auto* offer = std::get_if<incoming::Offer>(&payload)) {
    s_.setIsWaitingApproval(false);  // a host that made its person choose has chosen
    s_.negotiation().answerOffer(offer->sdp.toStdString());
    s_.negotiation().armConnectDeadline();
  } else if (const auto* list = std::get_if<incoming::Displays>(&payload)) {
    if (list->entries.empty()) {
      s_.log(QStringLiteral("📥 displays[] vide ignoré (on conserve la liste actuelle)"));
      return;
    }
    QVariantList displays;
    for (const auto& entry : list->entries) {
      displays.append(QVariantMap{{QStringLiteral("index"), entry.index},
                                  {QStringLiteral("name"), entry.name},
                                  {QStringLiteral("resolution"), entry.resolution}});
    }
    s_.setAvailableDisplays(displays);
    s_.log(QStringLiteral("📥 %1 écran(s) disponible(s) reçu(s)").arg(displays.size()));
  } else if (const auto* choosing = std::get_if<incoming::HostChoosing>(&payload)) {
    // No offer before the host's person has chosen: wait as long as they may.
    s_.log(QStringLiteral("🪟 L’hôte choisit l’écran à partager (%1 s au plus)").arg(choosing->timeoutMs / 1000));
    s_.setStatus(QStringLiteral("L’hôte choisit l’écran à partager…"));
    s_.setIsWaitingApproval(true);
    s_.negotiation().armConnectDeadline(choosing->timeoutMs + Negotiation::kConnectDeadlineMs);
  } else if (const auto* geometry = std::get_if<signaling::VideoGeometry>(&payload)) {
    if (geometry->width > 0 && geometry->height > 0) s_.setRemoteVideoSize({geometry->width, geometry->height});
    if (geometry->activeDisplay) s_.setCurrentDisplayIndex(*geometry->activeDisplay);
    s_.log(QStringLiteral("📐 videoGeometry reçu: %1x%2 (display %3)")
               .arg(geometry->width)
               .arg(geometry->height)
               .arg(s_.currentDisplayIndex()));
  }
}

// ----------------------------------------------------------------- requests --

void ClientRole::requestQuality(const QString& rawProfile) {
  const auto profile = qualityFromRaw(rawProfile);
  if (!profile) return;
  s_.log(QStringLiteral("📨 Demande qualité envoyée: ") + rawProfile);
  ++linkContext_;
  s_.sendPayload(signaling::qualityPayload(*profile));
}

void ClientRole::requestDisplaySwitch(int index) {
  s_.log(QStringLiteral("📨 Demande switch écran: #%1").arg(index));
  ++linkContext_;
  s_.setCurrentDisplayIndex(index);
  s_.setDisplayedVideoRect(QRectF());
  s_.sendPayload(signaling::switchDisplayPayload(index));
}

void ClientRole::requestHardRefresh() {
  s_.log(QStringLiteral("🔄 HARD REFRESH demandé"));
  if (s_.negotiation().exists()) {
    s_.log(QStringLiteral("♻️ ICE restart"));
    s_.negotiation().restartIceLocally();
  }
  s_.sendPayload(signaling::hardRefreshPayload());
  s_.log(QStringLiteral("📤 hard-refresh-request envoyé au host"));
}

}  // namespace lunor
