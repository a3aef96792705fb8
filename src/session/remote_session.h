// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One host or client session, from start to end: the face the screens bind
// to. Publishes what the screens show and takes what they ask; the work is
// done by parts with one job each: the signaling client, the negotiation
// (peer connection and channel), and the role the environment makes for it
// (the host's, with its media and input replay, or the client's), which
// sees the session only as a SessionCore.
//
// Lives on the main thread; published fields change there only. log(),
// setStatus() and endSession() may be called from any thread.

#include <memory>
#include <optional>

#include <QDateTime>
#include <QImage>
#include <QJsonObject>
#include <QObject>
#include <QRectF>
#include <QSize>
#include <QStringList>
#include <QTimer>
#include <QUuid>
#include <QVariantList>
#include <QVariantMap>

#include "protocol/quality_profile.h"
#include "rtc/peer_connection.h"
#include "session/epoch.h"
#include "session/connection_features.h"
#include "session/negotiation.h"
#include "session/session_role.h"

namespace lunor {

class SessionEnvironment;
class SignalingClient;
struct ControlMessage;

// What a local end tells the other side: "<name> s’est déconnecté de votre
// ordinateur", or the role's plain text when the trimmed name is empty.
QString departureText(const QString& displayName, Role role);

class RemoteSession final : public QObject, private SessionCore {
  Q_OBJECT
  // Whether a session is under way: from a start until its teardown.
  Q_PROPERTY(bool running READ running NOTIFY runningChanged)
  Q_PROPERTY(QString status READ status NOTIFY statusChanged)
  Q_PROPERTY(QString connectionState READ connectionState NOTIFY connectionStateChanged)
  Q_PROPERTY(QStringList logs READ logs NOTIFY logsChanged)
  Q_PROPERTY(bool pendingJoin READ pendingJoin NOTIFY pendingJoinChanged)
  Q_PROPERTY(QString requesterName READ requesterName NOTIFY requesterNameChanged)
  Q_PROPERTY(QString currentQuality READ currentQualityRaw NOTIFY currentQualityChanged)
  Q_PROPERTY(QVariantList availableDisplays READ availableDisplays NOTIFY availableDisplaysChanged)
  Q_PROPERTY(int currentDisplayIndex READ currentDisplayIndex NOTIFY currentDisplayIndexChanged)
  Q_PROPERTY(QSize remoteVideoSize READ remoteVideoSize NOTIFY remoteVideoSizeChanged)
  // The client's reading of the link (rate, size, frame rate), and whether
  // the link limits the picture.
  Q_PROPERTY(QString linkSummary READ linkSummary NOTIFY linkChanged)
  Q_PROPERTY(bool linkLimited READ linkLimited NOTIFY linkChanged)
  // Files and the clipboard (a SessionFeatures, above this layer).
  Q_PROPERTY(QObject* features READ featuresObject CONSTANT)
  Q_PROPERTY(QImage requesterAvatar READ requesterAvatar NOTIFY requesterAvatarChanged)
  Q_PROPERTY(bool approved READ approved NOTIFY approvedChanged)
  Q_PROPERTY(bool isWaitingApproval READ isWaitingApproval NOTIFY isWaitingApprovalChanged)
  Q_PROPERTY(QDateTime startedAt READ startedAt NOTIFY startedAtChanged)
  Q_PROPERTY(QString endReason READ endReason NOTIFY endReasonChanged)
  Q_PROPERTY(QDateTime lastStartedAt READ lastStartedAt NOTIFY lastStartedAtChanged)
  Q_PROPERTY(bool askUnattendedPassword READ askUnattendedPassword NOTIFY askUnattendedPasswordChanged)
  // Why the password is asked again, or why not yet: "Mot de passe
  // incorrect", or too many tries and when to try again; empty otherwise.
  Q_PROPERTY(QString passwordNotice READ passwordNotice NOTIFY passwordNoticeChanged)
  // When the host's server takes a password again after too many wrong
  // ones (invalid: now); the prompt comes back then by itself.
  Q_PROPERTY(QDateTime passwordRetryAt READ passwordRetryAt NOTIFY passwordNoticeChanged)
  // The server refuses every unattended password for the rest of the day
  // (too many wrong ones); hosts only.
  Q_PROPERTY(bool unattendedLocked READ unattendedLocked NOTIFY unattendedLockedChanged)
  Q_PROPERTY(QRectF displayedVideoRect READ displayedVideoRect NOTIFY displayedVideoRectChanged)
  Q_PROPERTY(bool hasLocalVideoTrack READ hasLocalVideoTrack NOTIFY localVideoTrackChanged)
  Q_PROPERTY(bool hasRemoteVideoTrack READ hasRemoteVideoTrack NOTIFY remoteVideoTrackChanged)

 public:
  static constexpr int kMaxLogLines = 200;
  static constexpr int kIceDownGraceMs = 2000;

  // The environment is borrowed and must outlive the session. Creates the
  // WebRTC factory at once.
  explicit RemoteSession(SessionEnvironment& environment, QObject* parent = nullptr);
  ~RemoteSession() override;
  RemoteSession(const RemoteSession&) = delete;
  RemoteSession& operator=(const RemoteSession&) = delete;

  // ---- published fields (main thread) ----
  bool running() const override { return running_; }
  QString status() const { return status_; }
  QString connectionState() const { return connectionState_; }
  QStringList logs() const { return logs_; }
  bool pendingJoin() const override { return pendingJoin_; }
  // Null when absent.
  QString requesterName() const override { return requesterName_; }
  QualityProfile currentQuality() const { return currentQuality_; }
  QString currentQualityRaw() const { return rawValue(currentQuality_); }
  QVariantList availableDisplays() const { return availableDisplays_; }
  int currentDisplayIndex() const override { return currentDisplayIndex_; }
  QSize remoteVideoSize() const { return remoteVideoSize_; }
  QString linkSummary() const { return linkSummary_; }
  bool linkLimited() const { return linkLimited_; }
  QImage requesterAvatar() const override { return requesterAvatar_; }
  bool approved() const override { return approved_; }
  bool isWaitingApproval() const { return isWaitingApproval_; }
  // Invalid when absent.
  QDateTime startedAt() const override { return startedAt_; }
  // Null when absent.
  QString endReason() const { return endReason_; }
  // Why the last session ended; None until then and once the screens have
  // shown it.
  EndCause endCause() const { return endCause_; }
  QDateTime lastStartedAt() const { return lastStartedAt_; }
  bool askUnattendedPassword() const { return askUnattendedPassword_; }
  QString passwordNotice() const { return passwordNotice_; }
  QDateTime passwordRetryAt() const { return passwordRetryAt_; }
  bool unattendedLocked() const { return unattendedLocked_; }
  QRectF displayedVideoRect() const { return displayedVideoRect_; }
  std::shared_ptr<rtc::VideoTrack> localVideoTrack() const override { return localVideoTrack_; }
  std::shared_ptr<rtc::VideoTrack> remoteVideoTrack() const { return remoteVideoTrack_; }
  bool hasLocalVideoTrack() const { return localVideoTrack_ != nullptr; }
  bool hasRemoteVideoTrack() const { return remoteVideoTrack_ != nullptr; }
  // The "control" channel exists and is open: input can reach the host.
  bool isControlChannelOpen() const { return negotiation_.isControlChannelOpen(); }
  // Files and the clipboard over the session's connection.
  ConnectionFeatures& features() override { return *features_; }
  QObject* featuresObject() const { return features_->object(); }
  // The library's counters of the current connection; `done` runs on the
  // main thread, not at all without a connection or when it goes first.
  void collectStats(std::function<void(const rtc::ConnectionStats&)> done) {
    negotiation_.collectStats(std::move(done));
  }

  // ---- lifecycle ----
  // Starts or restarts the host role for the room `sessionId`.
  Q_INVOKABLE void startHost(const QString& sessionId) override;
  // Starts the client role towards the room `sessionId`; joins 1 s later.
  Q_INVOKABLE void startClient(const QString& sessionId);
  // The local user ends the session with `reason` (sent to the peer).
  Q_INVOKABLE void stop(const QString& reason) override;
  // Ends the current session; a non-silent end tells the peer why. Any
  // thread. Nothing happens when the session has already ended.
  void endSession(const QString& reason, bool silent, EndCause cause) override;
  // Appends "[time] message" to the log and prints it. Any thread.
  void log(const QString& message) override;
  // Sets `status` on the main thread, asynchronously. Any thread.
  void setStatus(const QString& text) override;
  // A new generation: the client screen is shown again, and what an earlier
  // start left scheduled is ignored.
  Q_INVOKABLE void renewGeneration();
  // The screens have shown the end: the next end is a change again.
  Q_INVOKABLE void clearEndReason() {
    setEndReason(QString());
    setEndCause(EndCause::NotEnded);
  }

  // ---- host ----
  // Lets the pending requester in.
  Q_INVOKABLE void approve();
  // Turns the pending requester away; join requests are ignored for 1.5 s.
  Q_INVOKABLE void reject();
  // Asks the server to forget the clients it let in before (their device
  // keys get them past a room locked by guessing).
  Q_INVOKABLE void forgetKnownDevices();

  // ---- client ----
  // Answers the password prompt with a new join carrying the digest.
  Q_INVOKABLE void submitUnattendedPassword(const QString& password);
  // The person closed the password prompt without answering.
  Q_INVOKABLE void cancelPasswordPrompt() { setAskUnattendedPassword(false); }
  Q_INVOKABLE void requestQuality(const QString& rawProfile);
  Q_INVOKABLE void requestDisplaySwitch(int index);
  Q_INVOKABLE void requestHardRefresh();
  // Sends one control message if the channel is open; else drops it. Maps
  // that are not a valid control message are dropped.
  Q_INVOKABLE void sendControl(const QVariantMap& message);
  void sendControl(const ControlMessage& message);
  // Where the client view shows the picture (view coordinates).
  void setDisplayedVideoRect(const QRectF& rect) override;

 Q_SIGNALS:
  void runningChanged();
  void statusChanged();
  void connectionStateChanged();
  void logsChanged();
  void pendingJoinChanged();
  void requesterNameChanged();
  void currentQualityChanged();
  void availableDisplaysChanged();
  void currentDisplayIndexChanged();
  void remoteVideoSizeChanged();
  void linkChanged();
  void requesterAvatarChanged();
  void approvedChanged();
  void isWaitingApprovalChanged();
  void startedAtChanged();
  void endReasonChanged();
  void endCauseChanged();
  void lastStartedAtChanged();
  void askUnattendedPasswordChanged();
  void passwordNoticeChanged();
  void unattendedLockedChanged();
  void displayedVideoRectChanged();
  void localVideoTrackChanged();
  void remoteVideoTrackChanged();

 private:
  // ---- SessionCore: what the role may ask ----
  SessionEnvironment& environment() override { return environment_; }
  rtc::PeerConnectionFactory* rtcFactory() override { return factory_.get(); }
  Negotiation& negotiation() override { return negotiation_; }
  Epoch& epoch() override { return epoch_; }
  QString roomId() const override { return sessionId_; }
  void send(const QJsonObject& message) override;
  void sendPayload(const QJsonObject& payload) override;
  QUuid generation() const override { return generation_; }
  QUuid forgetLink() override;
  void openLink() override { connectSignaling(); }
  bool createPeerConnection() override;
  bool isEnding() const override { return isEnding_; }

  // ---- signaling ----
  void connectSignaling();
  void disconnectSignaling();
  void handleSignalingOpen();
  void handleSignalingMessage(const QJsonObject& message);
  void handlePayload(const incoming::Signal& signal);
  void handleEndFromServer(EndCause cause);
  // Both sides: who has come in, as "peer-joined" says.
  void peerJoined(const incoming::PeerJoined& joined);

  // ---- connection ----
  void applyIceState(rtc::IceConnectionState state);
  void iceDownTimerFired();
  void remoteTrackArrived(std::shared_ptr<rtc::VideoTrack> track);

  // ---- lifecycle ----
  // The role of `role`, made anew if the session had the other one.
  void useRole(Role role);
  void replaceRole(std::unique_ptr<SessionRole> role);
  // False when the session had already ended.
  bool end(const QString& reason, bool silent, EndCause cause);
  void setRunning(bool running);
  void teardown(const QString& reason, ConnectionFeatures::Cut cut);
  void resetAfterTeardown();
  // Runs `call` now when on the main thread, else queues it there.
  void onMain(std::function<void()> call);
  // Always queues `call` on the main thread; dropped if the session is gone.
  void postToMain(std::function<void()> call);
  bool isMainThread() const;

  // ---- published setters (main thread; emit only on change) ----
  void setStatusNow(const QString& text) override;
  void setConnectionState(const QString& label);
  void setPendingJoin(bool value) override;
  void setRequesterName(const QString& name) override;
  void setRequesterAvatar(const QImage& avatar) override;
  void setApproved(bool value) override;
  void setIsWaitingApproval(bool value) override;
  void setStartedAt(const QDateTime& time) override;
  void setEndReason(const QString& reason);
  void setEndCause(EndCause cause);
  void setLastStartedAt(const QDateTime& time);
  void setAskUnattendedPassword(bool value) override;
  void setPasswordNotice(const QString& notice, const QDateTime& retryAt) override;
  void setUnattendedLocked(bool value) override;
  // Takes the TURN servers an admission hands over; true when they changed
  // an existing connection's servers.
  bool acceptIceServers(const std::vector<rtc::IceServer>& servers);
  // The environment's configuration, with the server's TURN credentials.
  rtc::Configuration peerConfiguration();
  void setLocalVideoTrack(std::shared_ptr<rtc::VideoTrack> track) override;
  void setRemoteVideoTrack(std::shared_ptr<rtc::VideoTrack> track);
  void setCurrentQuality(QualityProfile profile) override;
  void setAvailableDisplays(const QVariantList& displays) override;
  void setCurrentDisplayIndex(int index) override;
  void setRemoteVideoSize(const QSize& size) override;
  void setLink(const QString& summary, bool limited) override;

  SessionEnvironment& environment_;

  // Published.
  bool running_ = false;
  QString status_ = QStringLiteral("Initialisation...");
  QString connectionState_ = QStringLiteral("déconnecté");
  std::shared_ptr<rtc::VideoTrack> localVideoTrack_;
  std::shared_ptr<rtc::VideoTrack> remoteVideoTrack_;
  QStringList logs_;
  bool pendingJoin_ = false;
  QString requesterName_;
  QualityProfile currentQuality_ = kDefaultQuality;
  QVariantList availableDisplays_;
  int currentDisplayIndex_ = 0;
  QSize remoteVideoSize_{0, 0};
  QString linkSummary_;
  bool linkLimited_ = false;
  QImage requesterAvatar_;
  bool approved_ = false;
  bool isWaitingApproval_ = false;
  QDateTime startedAt_;
  QString endReason_;
  EndCause endCause_ = EndCause::NotEnded;
  QDateTime lastStartedAt_;
  bool askUnattendedPassword_ = false;
  bool everConnected_ = false;  // ICE was up at least once in this session
  QString passwordNotice_;
  QDateTime passwordRetryAt_;
  bool unattendedLocked_ = false;
  std::vector<rtc::IceServer> serverIceServers_;  // for this session, from the server
  QRectF displayedVideoRect_;

  // Private session state.
  QString sessionId_;
  QUuid generation_ = QUuid::createUuid();  // identity of the signaling connection
  bool isTornDown_ = false;
  bool isEnding_ = false;
  QTimer iceDownTimer_;
  Epoch epoch_{*this};
  std::unique_ptr<rtc::PeerConnectionFactory> factory_;
  Negotiation negotiation_;  // closed before role_ goes: its channel feeds the role
  std::unique_ptr<ConnectionFeatures> features_;
  struct DeleteLater {
    void operator()(QObject* object) const;
  };
  std::unique_ptr<SignalingClient, DeleteLater> signalingClient_;
  std::unique_ptr<SessionRole> role_;
};

// Label and status text of an ICE connection state.
struct IceStateTexts {
  QString connectionState;
  QString status;
};
IceStateTexts iceStateTexts(rtc::IceConnectionState state);

}  // namespace lunor
