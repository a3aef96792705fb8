#pragma once

// One host or client session, from start to end. Owns the signaling client,
// the peer connection and its data channel, the screen capturer and video
// source, and the control injector; publishes what the screens show.
//
// Lives on the main thread. Published fields change on the main thread only.
// log(), setStatus() and endSession() may be called from any thread. Library
// callbacks arrive on WebRTC threads and hop to the main thread; once teardown
// has cleared the observers no callback reaches the session any more.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include <QDateTime>
#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSize>
#include <QStringList>
#include <QTimer>
#include <QUuid>
#include <QVariantList>

#include "host/screen_capturer.h"
#include "session/quality_profile.h"
#include "system/notification_manager.h"
#include "session/rtc/peer_connection.h"

namespace lunor {

class ControlInjector;
class ScreenCapturer;
class SessionEnvironment;
class SignalingClient;

enum class Role { Host, Client };

// End reasons the session raises itself.
inline constexpr char kReasonPeerLost[] = "L’autre partie s’est déconnectée";
inline constexpr char kReasonSessionStopped[] = "Arrêt de la session";
inline constexpr char kReasonPeerEnded[] = "Session terminée";
inline constexpr char kReasonHostEnded[] = "Session terminée par l’hôte";
inline constexpr char kReasonClientEnded[] = "Session terminée par le client";
inline constexpr char kReasonRejected[] = "Connexion refusée par l'hôte";
inline constexpr char kReasonClientLeft[] = "Le client s'est déconnecté";
inline constexpr char kReasonHostNotFound[] = "Hôte introuvable";
inline constexpr char kReasonHostBusy[] = "L’hôte est déjà en session";

// What a local end tells the other side: "<name> s’est déconnecté de votre
// ordinateur", or the role's plain text when the trimmed name is empty.
QString departureText(const QString& displayName, Role role);

class RemoteSession final : public QObject,
                            private rtc::PeerConnectionObserver,
                            private rtc::DataChannelObserver {
  Q_OBJECT
  Q_PROPERTY(QString status READ status NOTIFY statusChanged)
  Q_PROPERTY(QString connectionState READ connectionState NOTIFY connectionStateChanged)
  Q_PROPERTY(QStringList logs READ logs NOTIFY logsChanged)
  Q_PROPERTY(bool pendingJoin READ pendingJoin NOTIFY pendingJoinChanged)
  Q_PROPERTY(QString requesterName READ requesterName NOTIFY requesterNameChanged)
  Q_PROPERTY(QString currentQuality READ currentQualityRaw NOTIFY currentQualityChanged)
  Q_PROPERTY(QVariantList availableDisplays READ availableDisplays NOTIFY availableDisplaysChanged)
  Q_PROPERTY(int currentDisplayIndex READ currentDisplayIndex NOTIFY currentDisplayIndexChanged)
  Q_PROPERTY(QSize remoteVideoSize READ remoteVideoSize NOTIFY remoteVideoSizeChanged)
  Q_PROPERTY(QImage requesterAvatar READ requesterAvatar NOTIFY requesterAvatarChanged)
  Q_PROPERTY(bool approved READ approved NOTIFY approvedChanged)
  Q_PROPERTY(bool isWaitingApproval READ isWaitingApproval NOTIFY isWaitingApprovalChanged)
  Q_PROPERTY(QDateTime startedAt READ startedAt NOTIFY startedAtChanged)
  Q_PROPERTY(QString endReason READ endReason NOTIFY endReasonChanged)
  Q_PROPERTY(QDateTime lastStartedAt READ lastStartedAt NOTIFY lastStartedAtChanged)
  Q_PROPERTY(bool askUnattendedPassword READ askUnattendedPassword NOTIFY askUnattendedPasswordChanged)
  Q_PROPERTY(QRectF displayedVideoRect READ displayedVideoRect NOTIFY displayedVideoRectChanged)
  Q_PROPERTY(bool hasLocalVideoTrack READ hasLocalVideoTrack NOTIFY localVideoTrackChanged)
  Q_PROPERTY(bool hasRemoteVideoTrack READ hasRemoteVideoTrack NOTIFY remoteVideoTrackChanged)

 public:
  static constexpr int kMaxLogLines = 200;
  static constexpr int kClientJoinDelayMs = 1000;
  static constexpr int kHostRestartDelayMs = 600;
  static constexpr int kIceDownGraceMs = 2000;
  static constexpr int kEndCountdownSeconds = 10;
  // An idle host whose signaling link fails tries again after 1 s, doubling
  // up to this, so the machine becomes reachable again on its own.
  static constexpr int kMaxReconnectDelayMs = 30'000;
  static constexpr std::chrono::milliseconds kEndJoinCooldown{2000};

  // The environment is borrowed and must outlive the session. Creates the
  // WebRTC factory and the control injector at once.
  explicit RemoteSession(SessionEnvironment& environment, QObject* parent = nullptr);
  ~RemoteSession() override;
  RemoteSession(const RemoteSession&) = delete;
  RemoteSession& operator=(const RemoteSession&) = delete;

  // ---- published fields (main thread) ----
  QString status() const { return status_; }
  QString connectionState() const { return connectionState_; }
  QStringList logs() const { return logs_; }
  bool pendingJoin() const { return pendingJoin_; }
  // Null when absent.
  QString requesterName() const { return requesterName_; }
  QualityProfile currentQuality() const { return currentQuality_.load(); }
  QString currentQualityRaw() const { return rawValue(currentQuality_.load()); }
  QVariantList availableDisplays() const { return availableDisplays_; }
  int currentDisplayIndex() const { return currentDisplayIndex_; }
  QSize remoteVideoSize() const { return remoteVideoSize_; }
  QImage requesterAvatar() const { return requesterAvatar_; }
  bool approved() const { return approved_; }
  bool isWaitingApproval() const { return isWaitingApproval_; }
  // Invalid when absent.
  QDateTime startedAt() const { return startedAt_; }
  // Null when absent.
  QString endReason() const { return endReason_; }
  QDateTime lastStartedAt() const { return lastStartedAt_; }
  bool askUnattendedPassword() const { return askUnattendedPassword_; }
  QRectF displayedVideoRect() const { return displayedVideoRect_; }
  std::shared_ptr<rtc::VideoTrack> localVideoTrack() const { return localVideoTrack_; }
  std::shared_ptr<rtc::VideoTrack> remoteVideoTrack() const { return remoteVideoTrack_; }
  bool hasLocalVideoTrack() const { return localVideoTrack_ != nullptr; }
  bool hasRemoteVideoTrack() const { return remoteVideoTrack_ != nullptr; }

  Role role() const { return role_.load(); }
  QString sessionId() const { return sessionId_; }
  // Identity of the current signaling connection; renewed by every client
  // start and every teardown.
  QUuid generation() const { return generation_; }
  bool hasPeerConnection() const { return peerConnection_ != nullptr; }
  // The "control" channel exists and is open.
  bool isControlChannelOpen() const;

  // ---- operations ----
  // Starts or restarts the host role for the room `sessionId`.
  Q_INVOKABLE void startHost(const QString& sessionId);
  // Starts the client role towards the room `sessionId`; joins 1 s later.
  Q_INVOKABLE void startClient(const QString& sessionId);
  // The local user ends the session with `reason` (sent to the peer).
  Q_INVOKABLE void stop(const QString& reason);
  // Ends the current session; a non-silent end tells the peer why. Any thread.
  void endSession(const QString& reason, bool silent);
  // Appends "[time] message" to the log and prints it. Any thread.
  void log(const QString& message);
  // Sets `status` on the main thread, asynchronously. Any thread.
  void setStatus(const QString& text);
  // A new generation, as when the client screen is shown again.
  void renewGeneration();

  // Publishes the label and status of an ICE connection state and drives the
  // lost-connection timer. Main thread.
  void applyIceState(rtc::IceConnectionState state);

  // ---- peer connection ----
  // Builds a fresh peer connection, discarding any previous one.
  void createPeerConnection();
  // Host: sends the first offer once approved, connected and capturing.
  void sendOfferIfReady();
  // Dispatches a "signal" payload by its "type".
  void handleSignalPayload(const QJsonObject& data);

  // ---- control channel ----
  // Client: sends one control message if the channel is open; else drops it.
  Q_INVOKABLE void sendControl(const QVariantMap& message);
  void sendControl(const QJsonObject& message);
  // Host: replays one decoded control message. Called on the thread that
  // delivers data channel messages.
  void handleControlMessage(const QJsonObject& message);

  // ---- quality and displays ----
  // Client requests to the host.
  Q_INVOKABLE void requestQuality(const QString& rawProfile);
  Q_INVOKABLE void requestDisplaySwitch(int index);
  Q_INVOKABLE void requestHardRefresh();
  // Host operations.
  void startHostCapture();
  void refreshDisplays();
  void applyQuality(QualityProfile profile);
  void switchDisplay(int index);
  void beginDragBoost();
  void endDragBoost();
  int dragBoostCount() const { return dragBoostCount_.load(); }
  uint32_t currentDisplayId() const { return currentDisplayId_.load(); }
  QSize nativeDisplaySize() const;

  // ---- join approval (host) ----
  // Lets the pending requester in.
  Q_INVOKABLE void approve();
  // Turns the pending requester away; join requests are ignored for 1.5 s.
  Q_INVOKABLE void reject();
  // The join notification's buttons: acts on clientId if it is the current
  // requester, or adopts it when there is none.
  void handleNotificationAction(const QString& clientId, JoinAction action);

  // ---- unattended access (client) ----
  // Answers the password prompt with a new join carrying the digest.
  Q_INVOKABLE void submitUnattendedPassword(const QString& password);

  // ---- capture (host) ----
  // Restarts the screen capture on request of the client; `request` names
  // the message that asked ("hard-refresh-request" or "refresh-request").
  void restartCapture(const QString& request);

  // ---- fields set by the client view ----
  void setDisplayedVideoRect(const QRectF& rect);

 Q_SIGNALS:
  void statusChanged();
  void connectionStateChanged();
  void logsChanged();
  void pendingJoinChanged();
  void requesterNameChanged();
  void currentQualityChanged();
  void availableDisplaysChanged();
  void currentDisplayIndexChanged();
  void remoteVideoSizeChanged();
  void requesterAvatarChanged();
  void approvedChanged();
  void isWaitingApprovalChanged();
  void startedAtChanged();
  void endReasonChanged();
  void lastStartedAtChanged();
  void askUnattendedPasswordChanged();
  void displayedVideoRectChanged();
  void localVideoTrackChanged();
  void remoteVideoTrackChanged();

 private:
  // ---- signaling ----
  void connectSignaling();
  void handleSignalingClosed();
  void handleSignalingOpen();
  void handleSignalingMessage(const QJsonObject& message);
  void sendSignaling(const QJsonObject& message);
  QJsonObject buildJoinMessage(const std::optional<QString>& passwordHash) const;
  void sendJoin();
  void sendCreate();
  void handleJoinRequest(const QJsonObject& message);
  void handlePeerJoined(const QJsonObject& message);
  void handleEndFromServer(const QString& type);
  void showHud(std::function<void()> quit);
  void installNotificationHandler();

  // ---- peer connection internals ----
  void makeOffer();
  void applySenderBitrate(QualityProfile profile);
  void startIceCheckTimer();
  void handleOffer(const QJsonObject& data);
  void handleAnswer(const QJsonObject& data);
  void handleRemoteCandidate(const QJsonObject& data);
  std::shared_ptr<rtc::RtpSender> localVideoSender();
  std::shared_ptr<rtc::DataChannel> currentControlChannel();
  void dropControlChannel();
  void closePeerConnection();
  // Runs `call` on the main thread if the session still exists then.
  // Safe from library threads, where the session may go away meanwhile.
  static void postIfAlive(QPointer<RemoteSession> weak, std::function<void(RemoteSession&)> call);

  // ---- quality and display internals ----
  void setDisplayInfos(const std::vector<DisplayDescription>& displays);
  void sendVideoGeometry(int width, int height);
  void handleDisplaysPayload(const QJsonObject& data);
  void handleVideoGeometryPayload(const QJsonObject& data);
  void setNativeDisplaySize(QSize size);
  QSize displayPixelSize(uint32_t id);
  uint32_t fallbackDisplayId(int index);
  void stopAndRestartCapture(int displayIndex, int width, int height, int fps, CaptureDone done);
  // The capture objects, read from the data channel thread too.
  std::shared_ptr<ScreenCapturer> capturer() const;
  std::shared_ptr<rtc::VideoSource> videoSource() const;
  void setAvailableDisplays(const QVariantList& displays);
  void setCurrentDisplayIndex(int index);
  void setRemoteVideoSize(const QSize& size);
  void setCurrentQuality(QualityProfile profile);

  // ---- lifecycle ----
  void teardown(const QString& reason);
  void resetAfterTeardown();
  void startIceDownTimer();
  void iceDownTimerFired();
  // Runs `call` now when on the main thread, else queues it there.
  void onMain(std::function<void()> call);
  // Always queues `call` on the main thread; dropped if the session is gone.
  void postToMain(std::function<void()> call);
  bool isMainThread() const;

  // ---- published setters (main thread; emit only on change) ----
  void setStatusNow(const QString& text);
  void setConnectionState(const QString& label);
  void setPendingJoin(bool value);
  void setRequesterName(const QString& name);
  void setRequesterAvatar(const QImage& avatar);
  void setApproved(bool value);
  void setIsWaitingApproval(bool value);
  void setStartedAt(const QDateTime& time);
  void setEndReason(const QString& reason);
  void setLastStartedAt(const QDateTime& time);
  void setAskUnattendedPassword(bool value);
  void setLocalVideoTrack(std::shared_ptr<rtc::VideoTrack> track);
  void setRemoteVideoTrack(std::shared_ptr<rtc::VideoTrack> track);

  // ---- rtc::PeerConnectionObserver (library threads) ----
  void onIceConnectionChange(rtc::IceConnectionState state) override;
  void onIceCandidate(const rtc::IceCandidate& candidate) override;
  void onVideoTrack(std::shared_ptr<rtc::VideoTrack> track) override;
  void onDataChannel(std::shared_ptr<rtc::DataChannel> channel) override;
  // ---- rtc::DataChannelObserver (library threads) ----
  void onStateChange(rtc::DataChannelState state) override;
  void onMessage(const std::string& data, bool binary) override;

  struct DeleteLater {
    void operator()(QObject* object) const;
  };

  SessionEnvironment& environment_;

  // Published.
  QString status_ = QStringLiteral("Initialisation...");
  QString connectionState_ = QStringLiteral("déconnecté");
  std::shared_ptr<rtc::VideoTrack> localVideoTrack_;
  std::shared_ptr<rtc::VideoTrack> remoteVideoTrack_;
  QStringList logs_;
  bool pendingJoin_ = false;
  QString requesterName_;
  std::atomic<QualityProfile> currentQuality_{kDefaultQuality};
  QVariantList availableDisplays_;
  int currentDisplayIndex_ = 0;
  QSize remoteVideoSize_{0, 0};
  QImage requesterAvatar_;
  bool approved_ = false;
  bool isWaitingApproval_ = false;
  QDateTime startedAt_;
  QString endReason_;
  QDateTime lastStartedAt_;
  bool askUnattendedPassword_ = false;
  QRectF displayedVideoRect_;

  // Private session state.
  std::optional<QString> pendingUnattendedPassword_;
  std::unique_ptr<SignalingClient, DeleteLater> signalingClient_;
  std::atomic<Role> role_{Role::Client};
  QString sessionId_;
  QString requesterId_;  // null when absent
  QUuid generation_ = QUuid::createUuid();
  QList<QPointer<QTimer>> tasks_;  // delayed work cancelled by teardown
  bool isTornDown_ = false;
  bool isEnding_ = false;
  bool shouldMakeOfferWhenReady_ = false;
  bool hasSentInitialOffer_ = false;
  bool autoRestartHost_ = false;
  QString hostStableId_;  // null when absent
  std::chrono::steady_clock::time_point joinCooldownUntil_{};
  int reconnectDelayMs_ = 1000;  // next wait before an idle host reconnects
  std::unique_ptr<QTimer> iceDownTimer_;
  std::unique_ptr<QTimer> iceCheckTimer_;

  // Peer connection and media.
  std::unique_ptr<rtc::PeerConnectionFactory> factory_;
  std::shared_ptr<rtc::PeerConnection> peerConnection_;
  // Guards the objects below that library threads reach as well.
  mutable std::mutex mediaMutex_;
  std::shared_ptr<rtc::DataChannel> controlChannel_;
  std::shared_ptr<ScreenCapturer> screenCapturer_;
  std::shared_ptr<rtc::VideoSource> screenVideoSource_;
  QSize nativeDisplaySize_{0, 0};
  std::unique_ptr<ControlInjector> controlInjector_;  // for the session's lifetime
  std::atomic<uint32_t> currentDisplayId_{0};
  std::atomic<int> dragBoostCount_{0};
  std::vector<DisplayDescription> displayInfos_;
};

// Label and status text of an ICE connection state.
struct IceStateTexts {
  QString connectionState;
  QString status;
};
IceStateTexts iceStateTexts(rtc::IceConnectionState state);

}  // namespace lunor
