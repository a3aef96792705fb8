// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The host's session: its room, join requests and their approval, the
// shared picture (HostMedia) and the replay of the client's input
// (InjectionSequence). The application holds one for its whole life; it
// starts again after every end, so the join cooldown outlasts an end.
// Main thread, as its base says.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "host/host_proof.h"
#include "host/password_budget.h"
#include "host/screen_resizer.h"
#include "session/session.h"
#include "session/session_environment.h"
#include "session/session_panels.h"
#include "system/notification_manager.h"

namespace lunor {

class HostEnvironment;
class HostMedia;
class SessionFeatures;
class InjectionSequence;
class WorkerThread;

class HostSession final : public Session {
  Q_OBJECT
  // A client asks to come in and waits for an answer.
  Q_PROPERTY(bool pendingJoin READ pendingJoin NOTIFY pendingJoinChanged)
  // The client is let in (by a person or the password).
  Q_PROPERTY(bool approved READ approved NOTIFY approvedChanged)
  // The server refuses every unattended password for the rest of the day
  // (too many wrong ones).
  Q_PROPERTY(bool unattendedLocked READ unattendedLocked NOTIFY unattendedLockedChanged)
  Q_PROPERTY(bool hasLocalVideoTrack READ hasLocalVideoTrack NOTIFY localVideoTrackChanged)

 public:
  static constexpr int kRestartDelayMs = 600;
  static constexpr int kDelayedCreateMs = 200;
  static constexpr int kMaxReconnectDelayMs = 30'000;
  static constexpr std::chrono::milliseconds kRejectCooldown{1500};
  static constexpr std::chrono::milliseconds kEndCooldown{2000};
  static constexpr int kEndCountdownSeconds = 10;
  // A client let in to prove the password has this long to do it.
  static constexpr int kProofDeadlineMs = 120'000;

  // Both are borrowed and must outlive the session.
  HostSession(SessionEnvironment& environment, HostEnvironment& platform, QObject* parent = nullptr);
  ~HostSession() override;

  bool pendingJoin() const { return pendingJoin_; }
  bool approved() const { return approved_; }
  bool unattendedLocked() const { return unattendedLocked_; }
  std::shared_ptr<rtc::VideoTrack> localVideoTrack() const { return localVideoTrack_; }
  bool hasLocalVideoTrack() const { return localVideoTrack_ != nullptr; }

  // Starts or restarts hosting the room `roomId`.
  Q_INVOKABLE void startHost(const QString& roomId);
  // This host shares a desktop of its own (a separate session), which its
  // clients are told.
  void setSeparateSession(bool separate) { separateSession_ = separate; }
  // The separate session's screen, sized to a client's view when it asks
  // (none: the screen keeps its size).
  void setScreenResizer(std::unique_ptr<ScreenResizer> resizer) { resizer_ = std::move(resizer); }
  // A burst of requests (a window being dragged larger) is one change.
  static constexpr int kResizeSettleMs = 300;
  static constexpr int kResizeEveryMs = 1000;
  // Asked before each opening of the room: a reason when another host of
  // this computer's holds the ID now; then this one waits and asks again.
  void setRoomYield(std::function<QString()> yield) { roomYield_ = std::move(yield); }
  static constexpr int kYieldRetryMs = 5000;
  // Lets the pending requester in.
  Q_INVOKABLE void approve();
  // Turns the pending requester away; join requests are ignored for 1.5 s.
  Q_INVOKABLE void reject();
  // The host is going away (the application quits): a client in session
  // hears it, with the local person's name.
  void leave(const QString& localName);
  // Forgets the clients let in before, here and on the server (their device
  // keys get them past a day of wrong passwords spent by others).
  Q_INVOKABLE void forgetKnownDevices();

 Q_SIGNALS:
  void pendingJoinChanged();
  void approvedChanged();
  void unattendedLockedChanged();
  void localVideoTrackChanged();

 private:
  // ---- the base's hooks
  void signalingOpened() override;
  void signalingClosed() override;
  void handle(const incoming::Message& message) override;
  void handle(const incoming::Payload& payload) override;
  Negotiation::ControlReceiver controlReceiver() override;
  void connectionCreated() override;
  QString departureReason() const override;
  bool peerLeftEndsSession(const QString& clientId) override;
  void settleWaiting() override;
  void ending(const QString& reason, const QDateTime& startedAt) override;
  void tearingDown() override;
  void ended() override;
  void resetFields() override;

  void setPendingJoin(bool value);
  void setApproved(bool value);
  void setUnattendedLocked(bool value);
  void setLocalVideoTrack(std::shared_ptr<rtc::VideoTrack> track);

  void sendCreate();
  // Sends the "create" with what the secret store gave (the owner key,
  // nothing when it could not be read; the unattended digest, if any).
  void announce(QJsonObject create, const std::optional<QString>& key, const QString& how);
  // The "create" for the password kept (none: no unattended access).
  void announceRoom(const std::optional<QString>& password, const std::optional<QString>& key, const QString& how);
  void handleJoinRequest(const signaling::JoinRequest& request);
  // The code both people may compare: this host's half to a requester that
  // committed to its own, then the requester's half, checked, on the panel.
  void offerCode(const signaling::JoinRequest& request);
  void handleJoinReveal(const signaling::CodePart& part);
  // The pending requester left before an answer: its prompts go, nothing else.
  void withdrawRequest();
  // The session's clipboard and files.
  SessionFeatures& sessionFeatures();
  // Closes the request's panel and its notification.
  void dismissPrompts();
  // The client asks for the screen to fit its view.
  void screenSizeAsked(QSize asked);
  void applyScreenSize();
  void handlePeerJoined(const incoming::PeerJoined& joined);
  // The client was let in by the server to prove the password here: the
  // connection comes up with the channel "proof" only.
  void beginProof(const signaling::PeerJoined& peer);
  void proofChannelOpened() override;
  void proofMessage(const QByteArray& text) override;
  void admitProved();
  std::unique_ptr<HostProof> makeProof();
  // The offers after the first: the profile's codec and bandwidth, no log.
  Negotiation::OfferRewrite offerRewrite();
  void handleNotificationAction(const QString& clientId, JoinAction action);
  void sendOfferIfReady();
  void restartIce();
  void startCaptureIfNeeded(const QString& why);
  void showHud(std::function<void()> quit);
  void reconnectLater();
  void reconnect();

  // Ends the session for a client whose picture cannot come: the reason
  // goes to the client, the log and the host's status.
  void endWithoutPicture(const QString& why);

  HostEnvironment& platform_;
  // Published.
  bool pendingJoin_ = false;
  bool approved_ = false;
  bool unattendedLocked_ = false;
  std::shared_ptr<rtc::VideoTrack> localVideoTrack_;

  std::unique_ptr<HostMedia> media_;
  std::unique_ptr<InjectionSequence> input_;
  QString roomId_;               // null until the first start
  QString requesterId_;          // null when absent
  QString admittedId_;           // the client let in; null when none
  Clock::TimePoint cooldownUntil_{};
  JoinRequestPrompt prompt_;     // the request's panel, as last shown
  struct DoorCode {
    QByteArray commit;             // the requester's commitment
    QByteArray nonce;              // ours
    QByteArray clientFingerprint;  // the requester's certificate, once revealed
    QString code;
  } door_;
  bool shouldMakeOfferWhenReady_ = false;
  bool hasSentInitialOffer_ = false;
  bool renegotiateForTrack_ = false;  // the first offer went without the picture
  bool pictureAnswerAwaited_ = false;  // ...and the one that adds it is out
  // The password's proof: the budget outlives the sessions; the secrets
  // come from the store with each "create".
  PasswordBudget budget_{environment().clock()};
  HostProof::Secrets proofSecrets_;
  bool sentDigest_ = false;  // the last "create" gave the server the password's digest
  std::unique_ptr<HostProof> proof_;
  bool proving_ = false;
  bool proofOpened_ = false;  // the hello went on this connection
  bool proofSecretsReady_ = true;    // the password read again for this proof
  bool proofChannelWaiting_ = false;  // "proof" opened before it was
  ClockTimer proofDeadline_{environment().clock()};
  // The client's input is taken only once it is let in (read on the
  // library's thread).
  std::shared_ptr<std::atomic<bool>> inputOpen_ = std::make_shared<std::atomic<bool>>(false);
  int reconnectDelayMs_ = 1000;  // next wait before an idle host reconnects
  ClockTimer restartTimer_{environment().clock()};
  ClockTimer reconnectTimer_{environment().clock()};
  std::optional<Epoch::Ticket> reconnectLink_;  // the link after the one that failed
  bool separateSession_ = false;
  std::function<QString()> roomYield_;
  std::unique_ptr<ScreenResizer> resizer_;
  QSize askedScreenSize_;    // the last request, fitted to the profile
  QSize appliedScreenSize_;  // what this host last set
  Clock::TimePoint lastResize_{};
  bool resizeRefusalSaid_ = false;
  ClockTimer resizeTimer_{environment().clock()};
  // Last: its thread stops before anything it reports to goes.
  std::unique_ptr<WorkerThread> secrets_;
};

}  // namespace lunor
