// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/session.h"

#include <algorithm>



#include <QThread>
#include <QTime>

#include "protocol/password_proof.h"
#include "protocol/signaling_messages.h"
#include "session/session_environment.h"
#include "session/session_log.h"
#include "session/session_panels.h"
#include "session/signaling_client.h"
#include "store/user_profile_store.h"
#include "system/console_log.h"

namespace lunor {
namespace {

bool isDown(rtc::IceConnectionState state) {
  return state == rtc::IceConnectionState::Failed || state == rtc::IceConnectionState::Disconnected ||
         state == rtc::IceConnectionState::Closed;
}

}  // namespace

IceStateView iceStateView(rtc::IceConnectionState state) {
  using S = rtc::IceConnectionState;
  switch (state) {
    case S::New: return {LinkState::New, Status::Initialising};
    case S::Checking: return {LinkState::Checking, Status::Establishing};
    case S::Connected:
    case S::Completed: return {LinkState::Connected, Status::Connected};
    case S::Failed: return {LinkState::Failed, Status::ConnectionFailed};
    case S::Disconnected: return {LinkState::Disconnected, Status::ConnectionLost};
    case S::Closed: return {LinkState::Closed, Status::Closed};
    case S::Unknown: break;
  }
  return {LinkState::Unknown, Status::UnknownState};
}

QString departureText(const QString& displayName, Role role) {
  const QString name = displayName.trimmed();
  if (name.isEmpty()) {
    return QString::fromUtf8(role == Role::Host ? kReasonHostEnded : kReasonClientEnded);
  }
  return name + QString::fromUtf8(kDepartureSuffix);
}

void Session::DeleteLater::operator()(QObject* object) const {
  // Behind the work the object still has queued (the last messages, the
  // close), so that none of it is dropped with the object: deferred
  // deletions may be run ahead of queued calls by a nested event loop.
  if (!object) return;
  QMetaObject::invokeMethod(object, [object] { object->deleteLater(); }, Qt::QueuedConnection);
}

Session::Session(SessionEnvironment& environment, Role role, QObject* parent)
    : QObject(parent),
      environment_(environment),
      role_(role),
      iceDownTimer_(environment.clock()),
      negotiation_(epoch_, environment.clock(), [this](const QString& line) { log(line); }) {
  iceDownTimer_.setSingleShot(true);
  iceDownTimer_.setInterval(kIceDownGraceMs);
  iceDownTimer_.onTimeout([this] { iceDownTimerFired(); });

  connect(&negotiation_, &Negotiation::iceStateChanged, this, &Session::applyIceState);
  connect(&negotiation_, &Negotiation::localCandidate, this, [this](const rtc::IceCandidate& candidate) {
    sendPayload(signaling::icePayload(candidate));
  });
  connect(&negotiation_, &Negotiation::remoteVideoTrack, this, &Session::trackArrived);
  connect(&negotiation_, &Negotiation::channelOpened, this, [this](const QString& label) {
    if (label == QLatin1String(proof::kChannel)) proofChannelOpened();
  });
  connect(&negotiation_, &Negotiation::channelMessage, this,
          [this](const QString& label, const QByteArray& data, bool binary) {
            if (label == QLatin1String(proof::kChannel) && !binary) proofMessage(data);
          });
  connect(&negotiation_, &Negotiation::controlChannelAdopted, this, [this] {
    log(QStringLiteral("✅ DataChannel 'control' prêt (") + label() + QLatin1Char(')'));
  });
  connect(&negotiation_, &Negotiation::descriptionReady, this, [this](const rtc::SessionDescription& d) {
    sendPayload(signaling::descriptionPayload(d));
    log(d.type == rtc::SdpType::Offer ? QStringLiteral("✅ Offer envoyée") : QStringLiteral("✅ Answer envoyée"));
  });
  connect(&negotiation_, &Negotiation::answerApplied, this, [this](const QString& error) {
    log(error.isEmpty() ? QStringLiteral("✅ Answer acceptée") : QStringLiteral("❌ setRemote(answer): ") + error);
  });
  connect(&negotiation_, &Negotiation::connectDeadlinePassed, this, [this] {
    log(QStringLiteral("⏰ Connexion non établie après %1 s").arg(Negotiation::kConnectDeadlineMs / 1000));
    endSession(QString::fromUtf8(kReasonNoConnection), /*silent=*/false, EndCause::NoConnection);
  });

  connect(&negotiation_, &Negotiation::remoteFingerprintRefused, this, [this] {
    log(QStringLiteral("⛔ Le certificat du pair n’est pas celui du code de vérification : connexion refusée"));
    endSession(QString::fromUtf8(kReasonNotTheCodedPeer), /*silent=*/false, EndCause::NotTheCodedPeer);
  });

  features_ = environment_.createFeatures(
      negotiation_, [this](const QString& line) { log(line); }, [this] { return requesterName_; });
  features_->roleChosen(role_);

  factory_ = environment_.createRtcFactory();
  if (factory_) {
    setStatusNow(Status::Ready);
    log(QStringLiteral("✅ WebRTC factory initialisée"));
  } else {
    log(QStringLiteral("❌ WebRTC factory indisponible"));
  }
}

Session::~Session() { shutDown(); }

void Session::shutDown() {
  if (shutDown_) return;
  shutDown_ = true;
  negotiation_.close();
  disconnectSignaling();
}

// ------------------------------------------------------------------ threads --

bool Session::isMainThread() const { return QThread::currentThread() == thread(); }

void Session::postToMain(std::function<void()> call) {
  QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

// ---------------------------------------------------------------------- log --

void Session::log(const QString& message) {
  const QString line = QLatin1Char('[') + QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) +
                       QStringLiteral("] ") + message;
  consoleLine(lcSession(), QStringLiteral("[RemoteSession] ") + message);
  postToMain([this, line] {
    logs_.append(line);
    if (logs_.size() > kMaxLogLines) logs_.erase(logs_.begin(), logs_.end() - kMaxLogLines);
    Q_EMIT logsChanged();
  });
}

void Session::setStatus(Status status, const QString& detail) {
  postToMain([this, status, detail] { setStatusNow(status, detail); });
}

void Session::renewGeneration() {
  LUNOR_REQUIRE_THREAD(this);
  link_.renew();
}

// ---------------------------------------------------------------- signaling --

void Session::connectSignaling() {
  disconnectSignaling();
  signalingClient_.reset(new SignalingClient(environment_.signalingEndpoint()));
  auto current = [link = link_.ticket()] { return link.isCurrent(); };
  // The client is owned and its callbacks cleared before it goes, so `this`
  // is alive whenever one runs.
  signalingClient_->onOpen = [this, current] {
    if (current()) handleSignalingOpen();
  };
  signalingClient_->onMessage = [this, current](const QJsonObject& message) {
    if (current()) handleSignalingMessage(message);
  };
  signalingClient_->onClose = [this, current] {
    if (!current()) return;
    log(QStringLiteral("🔌 WebSocket déconnecté"));
    setStatus(Status::ServerDisconnected);
    signalingClosed();
  };
  signalingClient_->connect();
}

void Session::disconnectSignaling() {
  if (!signalingClient_) return;
  // Cleared first, so this disconnection never reaches the close handler.
  signalingClient_->onOpen = nullptr;
  signalingClient_->onMessage = nullptr;
  signalingClient_->onClose = nullptr;
  signalingClient_->disconnect();
  signalingClient_.reset();
}

void Session::send(const QJsonObject& message) {
  if (signalingClient_) signalingClient_->send(message);
}

void Session::sendPayload(const QJsonObject& payload) { send(signaling::signal(payload)); }

void Session::handleSignalingOpen() {
  log(QStringLiteral("🔌 WebSocket connecté (role=") + label().toUpper() + QStringLiteral(", roomId=") +
      sessionId_ + QLatin1Char(')'));
  // Posted, as statuses are; not after an end that came in the same turn
  // (the server's first message handled before this status was shown).
  postToMain([this, link = link_.ticket()] {
    if (link.isCurrent()) setStatusNow(Status::ServerConnected);
  });
  signalingOpened();
}

void Session::handleSignalingMessage(const QJsonObject& object) {
  const std::optional<incoming::Incoming> decoded = incoming::decode(object);
  if (!decoded) return;
  log(QStringLiteral("📨 Message: ") + decoded->type);
  if (!decoded->message) return;  // a type we do not know
  const incoming::Message& message = *decoded->message;

  if (const auto* hello = std::get_if<incoming::Hello>(&message)) {
    if (!hello->clientId.isNull()) log(QStringLiteral("👋 ClientId: ") + hello->clientId);
  } else if (const auto* signal = std::get_if<incoming::Signal>(&message)) {
    handlePayload(*signal);
  } else if (std::holds_alternative<incoming::Rejected>(message)) {
    setStatus(Status::Rejected);
    handleEndFromServer(EndCause::Rejected);
  } else if (const auto* left = std::get_if<incoming::PeerLeft>(&message)) {
    log(QStringLiteral("👋 Peer parti: ") + left->clientId);
    // A requester who gives up before being let in ends nothing.
    if (peerLeftEndsSession(left->clientId)) handleEndFromServer(EndCause::PeerLeft);
  } else if (std::holds_alternative<incoming::Left>(message)) {
    log(QStringLiteral("👋 left reçu"));
    handleEndFromServer(EndCause::PeerLeft);
  } else {
    // The pair's TURN credentials come with the admission.
    if (const auto* approved = std::get_if<incoming::Approved>(&message)) acceptIceServers(approved->iceServers);
    if (const auto* joined = std::get_if<incoming::PeerJoined>(&message)) {
      acceptIceServers(joined->iceServers);
      peerJoined(*joined);
    }
    handle(message);
  }
}

void Session::peerJoined(const incoming::PeerJoined& joined) {
  const signaling::PeerJoined& peer = joined.peer;
  if (!peer.displayName.isNull()) setRequesterName(peer.displayName);
  const QImage avatar = decodeWireAvatar(peer.avatar);
  if (!avatar.isNull()) setRequesterAvatar(avatar);
  log(QStringLiteral("👤 Peer connecté (cid=") + peer.clientId + QStringLiteral(", unattended=") +
      (peer.unattended ? QStringLiteral("true") : QStringLiteral("false")) + QLatin1Char(')'));
  setStatus(Status::PeerArrived);
}

bool Session::acceptIceServers(const std::vector<rtc::IceServer>& servers) {
  if (servers.empty()) return false;
  const bool changed = !std::equal(servers.begin(), servers.end(), serverIceServers_.begin(), serverIceServers_.end(),
                                   [](const rtc::IceServer& a, const rtc::IceServer& b) {
                                     return a.urls == b.urls && a.username == b.username && a.credential == b.credential;
                                   });
  if (!changed) return false;
  serverIceServers_ = servers;
  log(QStringLiteral("🔐 Identifiants TURN du serveur reçus (%1)").arg(QString::fromStdString(serverIceServers_.front().username)));
  return negotiation_.setIceServers(peerConfiguration().iceServers);
}

rtc::Configuration Session::peerConfiguration() {
  rtc::Configuration config = environment_.peerConfiguration();
  if (serverIceServers_.empty()) return config;
  // The server's short-lived credentials replace the fixed TURN user.
  std::erase_if(config.iceServers, [](const rtc::IceServer& server) {
    return !server.urls.empty() && server.urls.front().rfind("turn", 0) == 0;
  });
  config.iceServers.insert(config.iceServers.end(), serverIceServers_.begin(), serverIceServers_.end());
  return config;
}

void Session::handleEndFromServer(EndCause cause) {
  if (!end(QString::fromUtf8(kReasonSessionStopped), /*silent=*/false, cause)) return;
  settleWaiting();
  const bool rejected = cause == EndCause::Rejected;
  const QString reason = rejected ? QString::fromUtf8(kReasonRejected) : departureReason();
  postToMain([this, rejected, reason] {
    if (rejected) settleWaiting();
    setEndReason(reason);
  });
}

void Session::handlePayload(const incoming::Signal& signal) {
  if (!signal.payload) return;  // unknown, or its members make no sense
  const incoming::Payload& payload = *signal.payload;
  if (const auto* ice = std::get_if<incoming::Ice>(&payload)) {
    negotiation_.addRemoteCandidate(ice->candidate);
  } else if (const auto* end = std::get_if<incoming::End>(&payload)) {
    endSession(end->reason, /*silent=*/true, EndCause::PeerEnded);
  } else {
    handle(payload);
  }
}

// --------------------------------------------------------------- connection --

bool Session::createPeerConnection() {
  LUNOR_REQUIRE_THREAD(this);
  if (!factory_) return false;
  features_->connectionMade(role_, roomId());
  if (!negotiation_.create(*factory_, peerConfiguration(), controlReceiver())) {
    return false;
  }
  log(QStringLiteral("✅ PeerConnection créée (role=") + label().toUpper() + QLatin1Char(')'));
  connectionCreated();
  return true;
}

void Session::applyIceState(rtc::IceConnectionState state) {
  LUNOR_REQUIRE_THREAD(this);
  const IceStateView view = iceStateView(state);
  if (state == rtc::IceConnectionState::Connected || state == rtc::IceConnectionState::Completed) {
    everConnected_ = true;
    if (!startedAt_.isValid()) setStartedAt(QDateTime::currentDateTime());
    iceDownTimer_.stop();
    connected();
  } else if (isDown(state)) {
    iceDownTimer_.start();  // restarts a running one
  }
  setConnectionState(view.link);
  setStatusNow(view.status);
}

void Session::iceDownTimerFired() {
  if (!negotiation_.exists() || !isDown(negotiation_.iceState())) return;
  // A connection that never came up was not lost: it could not be made.
  if (!everConnected_) {
    endSession(QString::fromUtf8(kReasonNoConnection), /*silent=*/false, EndCause::NoConnection);
  } else {
    endSession(QString::fromUtf8(kReasonPeerLost), /*silent=*/true, EndCause::PeerLost);
  }
  environment_.panels().hideFloatingHud();
}

void Session::trackArrived(std::shared_ptr<rtc::VideoTrack> track) {
  if (!startedAt_.isValid()) setStartedAt(QDateTime::currentDateTime());
  remoteTrackArrived(track);
  setStatusNow(Status::ReceivingVideo);
}

// ---------------------------------------------------------------- lifecycle --

void Session::begin(const QString& roomId) {
  LUNOR_REQUIRE_THREAD(this);
  sessionId_ = roomId;
  isEnding_ = false;
  isTornDown_ = false;
  setRunning(true);
}

void Session::stop(const QString& reason) {
  LUNOR_REQUIRE_THREAD(this);
  // Nothing under way: nothing to end, and no start time to make up.
  if (!running_) return;
  stopping();
  endSession(reason, /*silent=*/false, EndCause::LocalStop);
  postToMain([this] { settleWaiting(); });
}

void Session::endSession(const QString& reason, bool silent, EndCause cause) {
  if (!isMainThread()) {
    // Every field below belongs to the main thread.
    postToMain([this, reason, silent, cause] { end(reason, silent, cause); });
    return;
  }
  end(reason, silent, cause);
}

bool Session::end(const QString& reason, bool silent, EndCause cause) {
  // A session that has already ended and not started again has nothing left
  // to end: a late "peer-left" after a received "end", or a window closing on
  // an ended session, must neither replace the reason nor end it twice.
  if (isEnding_ || isTornDown_) return false;
  isEnding_ = true;
  if (!silent) sendPayload(signaling::endPayload(reason));

  const QDateTime started = startedAt_;
  settleWaiting();
  setEndCause(cause);  // before the reason: whoever watches the reason reads both
  setEndReason(reason);
  setLastStartedAt(started);
  setRequesterName(QString());
  setRequesterAvatar(QImage());
  environment_.panels().hideFloatingHud();
  ending(reason, started);

  // Files cut off by a lost connection go on with the next one; an end
  // someone meant ends them.
  const bool lost = cause == EndCause::PeerLost || cause == EndCause::PeerLeft;
  teardown(QStringLiteral("endOnce(") + reason + QLatin1Char(')'),
           lost ? ConnectionFeatures::Cut::Lost : ConnectionFeatures::Cut::Ended);
  ended();
  isEnding_ = false;
  return true;
}

void Session::teardown(const QString& reason, ConnectionFeatures::Cut cut) {
  LUNOR_REQUIRE_THREAD(this);
  if (isTornDown_) return;
  isTornDown_ = true;
  link_.renew();
  log(QStringLiteral("🧹 Teardown (") + reason + QLatin1Char(')'));
  iceDownTimer_.stop();
  features_->connectionEnding(cut);  // while the channels can still carry a cancel
  negotiation_.close();   // renews the epoch: late library events are dropped
  tearingDown();
  disconnectSignaling();
  resetAfterTeardown();
  isEnding_ = false;
}

void Session::resetAfterTeardown() {
  everConnected_ = false;
  negotiation_.expectRemoteFingerprint({});
  serverIceServers_.clear();  // they were this pair's
  setRunning(false);
  setRequesterName(QString());
  setRequesterAvatar(QImage());
  setStartedAt(QDateTime());
  setStatusNow(Status::Disconnected);
  setConnectionState(LinkState::Disconnected);
  resetFields();
}

}  // namespace lunor
