// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The host's session: its room, join requests and their approval, the
// shared picture (HostMedia) and the replay of the client's input
// (InjectionSequence). The application holds one for its whole life; it
// starts again after every end, so the join cooldown outlasts an end.
// Main thread, as its base says.

#include <chrono>
#include <memory>

#include <optional>

#include "session/session.h"
#include "session/session_environment.h"
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
  // Lets the pending requester in.
  Q_INVOKABLE void approve();
  // Turns the pending requester away; join requests are ignored for 1.5 s.
  Q_INVOKABLE void reject();
  // The host is going away (the application quits): a client in session
  // hears it, with the local person's name.
  void leave(const QString& localName);
  // Asks the server to forget the clients it let in before (their device
  // keys get them past a room locked by guessing).
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
  void handleJoinRequest(const signaling::JoinRequest& request);
  // The pending requester left before an answer: its prompts go, nothing else.
  void withdrawRequest();
  // The session's clipboard and files.
  SessionFeatures& sessionFeatures();
  // Closes the request's panel and its notification.
  void dismissPrompts();
  void handlePeerJoined(const incoming::PeerJoined& joined);
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
  bool shouldMakeOfferWhenReady_ = false;
  bool hasSentInitialOffer_ = false;
  int reconnectDelayMs_ = 1000;  // next wait before an idle host reconnects
  ClockTimer restartTimer_{environment().clock()};
  ClockTimer reconnectTimer_{environment().clock()};
  std::optional<Epoch::Ticket> reconnectLink_;  // the link after the one that failed
  // Last: its thread stops before anything it reports to goes.
  std::unique_ptr<WorkerThread> secrets_;
};

}  // namespace lunor
