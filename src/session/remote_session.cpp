#include "session/remote_session.h"

#include <QCoreApplication>
#include <QThread>
#include <QTime>

#include "host/control_injector.h"
#include "host/screen_capturer.h"
#include "session/duration_text.h"
#include "session/session_environment.h"
#include "session/signaling_client.h"
#include "store/address_book.h"
#include "system/console_log.h"
#include "system/notification_manager.h"
#include "ui/session_panels.h"

namespace lunor {

IceStateTexts iceStateTexts(rtc::IceConnectionState state) {
  using S = rtc::IceConnectionState;
  switch (state) {
    case S::New: return {QStringLiteral("nouveau"), QStringLiteral("Initialisation...")};
    case S::Checking: return {QStringLiteral("vérification..."), QStringLiteral("Établissement...")};
    case S::Connected:
    case S::Completed: return {QStringLiteral("connecté ✓"), QStringLiteral("Connexion établie")};
    case S::Failed: return {QStringLiteral("échec"), QStringLiteral("Échec de connexion")};
    case S::Disconnected: return {QStringLiteral("déconnecté"), QStringLiteral("Connexion perdue")};
    case S::Closed: return {QStringLiteral("fermé"), QStringLiteral("Fermé")};
    case S::Unknown: break;
  }
  return {QStringLiteral("inconnu"), QStringLiteral("État inconnu")};
}

namespace {

bool isDown(rtc::IceConnectionState state) {
  return state == rtc::IceConnectionState::Failed ||
         state == rtc::IceConnectionState::Disconnected ||
         state == rtc::IceConnectionState::Closed;
}

}  // namespace

void RemoteSession::DeleteLater::operator()(QObject* object) const {
  if (object) object->deleteLater();
}

RemoteSession::RemoteSession(SessionEnvironment& environment, QObject* parent)
    : QObject(parent), environment_(environment) {
  controlInjector_ = environment_.createControlInjector();
  currentDisplayId_ = environment_.mainDisplayId();
  if (controlInjector_) controlInjector_->setCurrentDisplayId(currentDisplayId_);

  factory_ = environment_.createRtcFactory();
  if (factory_) {
    onMain([this] { setStatusNow(QStringLiteral("Prêt")); });
    log(QStringLiteral("✅ WebRTC factory initialisée"));
  } else {
    log(QStringLiteral("❌ WebRTC factory indisponible"));
  }
}

RemoteSession::~RemoteSession() {
  // No library callback may reach a half-destroyed session.
  closePeerConnection();
  if (auto capture = capturer()) capture->stopCapture();
  if (signalingClient_) {
    signalingClient_->onOpen = nullptr;
    signalingClient_->onMessage = nullptr;
    signalingClient_->onClose = nullptr;
    signalingClient_->disconnect();
  }
}

// ------------------------------------------------------------------ threads --

bool RemoteSession::isMainThread() const { return QThread::currentThread() == thread(); }

void RemoteSession::onMain(std::function<void()> call) {
  if (isMainThread()) {
    call();
  } else {
    postToMain(std::move(call));
  }
}

void RemoteSession::postToMain(std::function<void()> call) {
  QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

// ---------------------------------------------------------------------- log --

void RemoteSession::log(const QString& message) {
  const QString line =
      QLatin1Char('[') + QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) +
      QStringLiteral("] ") + message;
  consoleLine(QStringLiteral("[RemoteSession] ") + message);
  postToMain([this, line] {
    logs_.append(line);
    if (logs_.size() > kMaxLogLines) logs_.erase(logs_.begin(), logs_.end() - kMaxLogLines);
    Q_EMIT logsChanged();
  });
}

void RemoteSession::setStatus(const QString& text) {
  postToMain([this, text] { setStatusNow(text); });
}

void RemoteSession::renewGeneration() {
  Q_ASSERT(isMainThread());
  generation_ = QUuid::createUuid();
}

// ------------------------------------------------------------ start and stop --

void RemoteSession::connectSignaling() {
  auto client = std::unique_ptr<SignalingClient, DeleteLater>(
      new SignalingClient(environment_.signalingEndpoint()));
  const QUuid generation = generation_;
  QPointer<RemoteSession> weak(this);
  auto current = [weak, generation] { return weak && weak->generation_ == generation; };

  client->onOpen = [weak, current] {
    if (current()) weak->handleSignalingOpen();
  };
  client->onMessage = [weak, current](const QJsonObject& message) {
    if (current()) weak->handleSignalingMessage(message);
  };
  client->onClose = [weak, current] {
    if (current()) weak->handleSignalingClosed();
  };
  signalingClient_ = std::move(client);
  signalingClient_->connect();
}

void RemoteSession::handleSignalingClosed() {
  log(QStringLiteral("🔌 WebSocket déconnecté"));
  setStatus(QStringLiteral("Serveur déconnecté"));
  // A host with nobody connected would stay unreachable until the next
  // launch: it tries again, waiting longer each time. A session in progress
  // keeps its peer connection and reopens its room when it ends.
  if (role() != Role::Host || !autoRestartHost_ || peerConnection_) return;
  const int delay = reconnectDelayMs_;
  reconnectDelayMs_ = std::min(reconnectDelayMs_ * 2, kMaxReconnectDelayMs);
  log(QStringLiteral("🔁 Nouvelle tentative de connexion au serveur dans %1 s").arg(delay / 1000.0));
  generation_ = QUuid::createUuid();  // the dead link is heard no more
  const QUuid generation = generation_;
  QTimer::singleShot(delay, this, [this, generation] {
    if (generation_ != generation || peerConnection_ || isEnding_) return;
    // A request that was waiting went with the server: nobody can answer it.
    if (pendingJoin_) environment_.panels().dismissJoinRequest();
    requesterId_ = QString();
    setRequesterName(QString());
    setRequesterAvatar(QImage());
    startHost(hostStableId_);
  });
}

void RemoteSession::startHost(const QString& sessionId) {
  Q_ASSERT(isMainThread());
  hostStableId_ = sessionId;
  autoRestartHost_ = true;
  role_ = Role::Host;
  sessionId_ = sessionId;
  isEnding_ = false;
  isTornDown_ = false;
  hasSentInitialOffer_ = false;
  shouldMakeOfferWhenReady_ = false;

  // Teardown closed these already; only the references go.
  closePeerConnection();
  {
    std::lock_guard lock(mediaMutex_);
    screenCapturer_.reset();
    screenVideoSource_.reset();
  }

  installNotificationHandler();

  setStatusNow(QStringLiteral("En attente d’une connexion…"));
  setConnectionState(QStringLiteral("attente"));
  setPendingJoin(false);
  setApproved(false);
  setIsWaitingApproval(false);

  connectSignaling();
}

void RemoteSession::startClient(const QString& sessionId) {
  Q_ASSERT(isMainThread());
  role_ = Role::Client;
  sessionId_ = sessionId;
  isTornDown_ = false;
  generation_ = QUuid::createUuid();
  log(QStringLiteral("🎯 Mode CLIENT → connexion à ") + sessionId);
  setStatus(QStringLiteral("Connexion au serveur..."));
  connectSignaling();

  const QUuid generation = generation_;
  auto* task = new QTimer(this);
  task->setSingleShot(true);
  task->setInterval(kClientJoinDelayMs);
  connect(task, &QTimer::timeout, this, [this, task, generation] {
    tasks_.removeAll(task);
    task->deleteLater();
    if (generation_ != generation) return;
    sendJoin();
  });
  tasks_.append(task);
  task->start();
}

void RemoteSession::stop(const QString& reason) {
  Q_ASSERT(isMainThread());
  if (role() == Role::Client && !startedAt_.isValid()) {
    setStartedAt(QDateTime::currentDateTime());
  }
  endSession(reason, /*silent=*/false);
  postToMain([this] { setPendingJoin(false); });
}

// ---------------------------------------------------------------------- end --

void RemoteSession::endSession(const QString& reason, bool silent) {
  if (!isMainThread()) {
    // Every field below belongs to the main thread.
    postToMain([this, reason, silent] { endSession(reason, silent); });
    return;
  }
  // A session that has already ended and not started again has nothing left
  // to end: a late "peer-left" after a received "end", or a window closing on
  // an ended session, must neither replace the reason nor show the end panel
  // and schedule a restart a second time.
  if (isEnding_ || isTornDown_) return;
  isEnding_ = true;

  if (!silent && signalingClient_) {
    sendSignaling(QJsonObject{
        {QStringLiteral("type"), QStringLiteral("signal")},
        {QStringLiteral("data"),
         QJsonObject{{QStringLiteral("type"), QStringLiteral("end")},
                     {QStringLiteral("reason"), reason}}}});
  }

  const QDateTime started = startedAt_;
  setPendingJoin(false);
  setIsWaitingApproval(false);
  setEndReason(reason);
  setLastStartedAt(started);

  requesterId_ = QString();
  setRequesterName(QString());
  setRequesterAvatar(QImage());
  joinCooldownUntil_ = std::chrono::steady_clock::now() + kEndJoinCooldown;

  environment_.panels().hideFloatingHud();

  if (role() == Role::Host) {
    environment_.panels().dismissJoinRequest();
    const qint64 seconds =
        started.isValid() ? started.secsTo(QDateTime::currentDateTime()) : 0;
    environment_.panels().showEndSession(reason, endDurationText(seconds), kEndCountdownSeconds);
  }

  teardown(QStringLiteral("endOnce(") + reason + QLatin1Char(')'));

  if (role() == Role::Host && autoRestartHost_ && !hostStableId_.isNull()) {
    const QString id = hostStableId_;
    QTimer::singleShot(kHostRestartDelayMs, this, [this, id] { startHost(id); });
  }
  isEnding_ = false;
}

void RemoteSession::teardown(const QString& reason) {
  Q_ASSERT(isMainThread());
  if (isTornDown_) return;
  isTornDown_ = true;
  generation_ = QUuid::createUuid();
  log(QStringLiteral("🧹 Teardown (") + reason + QLatin1Char(')'));

  for (const auto& task : std::exchange(tasks_, {})) {
    if (task) {
      task->stop();
      task->deleteLater();
    }
  }

  iceDownTimer_.reset();
  iceCheckTimer_.reset();

  // The connection and its channel go first: once their observers are
  // cleared no library thread touches the capture objects any more.
  closePeerConnection();
  std::shared_ptr<ScreenCapturer> capture;
  {
    std::lock_guard lock(mediaMutex_);
    capture = std::exchange(screenCapturer_, nullptr);
    screenVideoSource_.reset();
  }
  if (capture) capture->stopCapture();
  setLocalVideoTrack(nullptr);
  dragBoostCount_ = 0;

  if (signalingClient_) {
    // Cleared first, so this disconnection never reaches the close handler.
    signalingClient_->onOpen = nullptr;
    signalingClient_->onMessage = nullptr;
    signalingClient_->onClose = nullptr;
    signalingClient_->disconnect();
    signalingClient_.reset();
  }

  if (controlInjector_) controlInjector_->releaseAllModifiers();

  resetAfterTeardown();
  hasSentInitialOffer_ = false;
  shouldMakeOfferWhenReady_ = false;
  isEnding_ = false;
}

void RemoteSession::resetAfterTeardown() {
  setIsWaitingApproval(false);
  setApproved(false);
  setPendingJoin(false);
  setRequesterName(QString());
  setRequesterAvatar(QImage());
  setStartedAt(QDateTime());
  setStatusNow(QStringLiteral("Déconnecté"));
  setConnectionState(QStringLiteral("déconnecté"));
  setRemoteVideoTrack(nullptr);
  setLocalVideoTrack(nullptr);
  setAskUnattendedPassword(false);
  pendingUnattendedPassword_.reset();
  shouldMakeOfferWhenReady_ = false;
  hasSentInitialOffer_ = false;
}

// ---------------------------------------------------------------------- ICE --

void RemoteSession::applyIceState(rtc::IceConnectionState state) {
  Q_ASSERT(isMainThread());
  const IceStateTexts texts = iceStateTexts(state);
  switch (state) {
    case rtc::IceConnectionState::Connected:
    case rtc::IceConnectionState::Completed:
      if (!startedAt_.isValid()) setStartedAt(QDateTime::currentDateTime());
      if (role() == Role::Client) environment_.addressBook().recordSuccess(sessionId_, QString());
      iceDownTimer_.reset();
      break;
    case rtc::IceConnectionState::Failed:
    case rtc::IceConnectionState::Disconnected:
    case rtc::IceConnectionState::Closed:
      startIceDownTimer();
      break;
    default:
      break;
  }
  setConnectionState(texts.connectionState);
  setStatusNow(texts.status);
}

void RemoteSession::startIceDownTimer() {
  iceDownTimer_ = std::make_unique<QTimer>();
  iceDownTimer_->setSingleShot(true);
  iceDownTimer_->setInterval(kIceDownGraceMs);
  connect(iceDownTimer_.get(), &QTimer::timeout, this, [this] { iceDownTimerFired(); });
  iceDownTimer_->start();
}

void RemoteSession::iceDownTimerFired() {
  if (!peerConnection_ || !isDown(peerConnection_->iceConnectionState())) return;
  endSession(QString::fromUtf8(kReasonPeerLost), /*silent=*/true);
  environment_.panels().hideFloatingHud();
}

// --------------------------------------------------------- published setters --

namespace {

template <typename T, typename Emit>
void publish(T& field, const T& value, Emit emitChanged) {
  if (field == value) return;
  field = value;
  emitChanged();
}

}  // namespace

void RemoteSession::setStatusNow(const QString& text) {
  Q_ASSERT(isMainThread());
  publish(status_, text, [this] { Q_EMIT statusChanged(); });
}

void RemoteSession::setConnectionState(const QString& label) {
  Q_ASSERT(isMainThread());
  publish(connectionState_, label, [this] { Q_EMIT connectionStateChanged(); });
}

void RemoteSession::setPendingJoin(bool value) {
  Q_ASSERT(isMainThread());
  publish(pendingJoin_, value, [this] { Q_EMIT pendingJoinChanged(); });
}

void RemoteSession::setRequesterName(const QString& name) {
  Q_ASSERT(isMainThread());
  // Absent (null) and empty are different values here.
  if (requesterName_ == name && requesterName_.isNull() == name.isNull()) return;
  requesterName_ = name;
  Q_EMIT requesterNameChanged();
}

void RemoteSession::setRequesterAvatar(const QImage& avatar) {
  Q_ASSERT(isMainThread());
  publish(requesterAvatar_, avatar, [this] { Q_EMIT requesterAvatarChanged(); });
}

void RemoteSession::setApproved(bool value) {
  Q_ASSERT(isMainThread());
  publish(approved_, value, [this] { Q_EMIT approvedChanged(); });
}

void RemoteSession::setIsWaitingApproval(bool value) {
  Q_ASSERT(isMainThread());
  publish(isWaitingApproval_, value, [this] { Q_EMIT isWaitingApprovalChanged(); });
}

void RemoteSession::setStartedAt(const QDateTime& time) {
  Q_ASSERT(isMainThread());
  publish(startedAt_, time, [this] { Q_EMIT startedAtChanged(); });
}

void RemoteSession::setEndReason(const QString& reason) {
  Q_ASSERT(isMainThread());
  if (endReason_ == reason && endReason_.isNull() == reason.isNull()) return;
  endReason_ = reason;
  Q_EMIT endReasonChanged();
}

void RemoteSession::setLastStartedAt(const QDateTime& time) {
  Q_ASSERT(isMainThread());
  publish(lastStartedAt_, time, [this] { Q_EMIT lastStartedAtChanged(); });
}

void RemoteSession::setAskUnattendedPassword(bool value) {
  Q_ASSERT(isMainThread());
  publish(askUnattendedPassword_, value, [this] { Q_EMIT askUnattendedPasswordChanged(); });
}

void RemoteSession::setLocalVideoTrack(std::shared_ptr<rtc::VideoTrack> track) {
  Q_ASSERT(isMainThread());
  if (localVideoTrack_ == track) return;
  localVideoTrack_ = std::move(track);
  Q_EMIT localVideoTrackChanged();
}

void RemoteSession::setRemoteVideoTrack(std::shared_ptr<rtc::VideoTrack> track) {
  Q_ASSERT(isMainThread());
  if (remoteVideoTrack_ == track) return;
  remoteVideoTrack_ = std::move(track);
  Q_EMIT remoteVideoTrackChanged();
}

void RemoteSession::setDisplayedVideoRect(const QRectF& rect) {
  Q_ASSERT(isMainThread());
  publish(displayedVideoRect_, rect, [this] { Q_EMIT displayedVideoRectChanged(); });
}

}  // namespace lunor
