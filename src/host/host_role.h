// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The host side of a session: the room, join requests and their approval,
// the shared picture (HostMedia) and the replay of the client's input
// (InjectionSequence). One per host session; it lives across the session's
// restarts, so the join cooldown outlasts an end. Main thread.

#include <chrono>
#include <memory>

#include <QObject>
#include <QTimer>
#include <QUuid>

#include "session/session_role.h"
#include "system/notification_manager.h"

namespace lunor {

class HostEnvironment;
class HostMedia;
class SessionFeatures;
class InjectionSequence;
class WorkerThread;

class HostRole final : public QObject, public SessionRole {
  Q_OBJECT

 public:
  static constexpr int kRestartDelayMs = 600;
  static constexpr int kDelayedCreateMs = 200;
  static constexpr int kMaxReconnectDelayMs = 30'000;
  static constexpr std::chrono::milliseconds kRejectCooldown{1500};
  static constexpr std::chrono::milliseconds kEndCooldown{2000};
  static constexpr int kEndCountdownSeconds = 10;

  // Both are borrowed: the session owns the role; the platform outlives it.
  HostRole(SessionCore& session, HostEnvironment& platform);
  ~HostRole() override;

  Role role() const override { return Role::Host; }
  // startHost: the room this host opens, again after every end.
  void starting(const QString& roomId) override;
  void signalingOpened() override;
  void signalingClosed() override;
  void handle(const incoming::Message& message) override;
  void handle(const incoming::Payload& payload) override;
  void approve() override;
  void reject() override;
  void forgetKnownDevices() override;
  Negotiation::ControlReceiver controlReceiver() override;
  void connectionCreated() override;
  void connected() override {}
  QString departureReason() const override;
  bool peerLeftEndsSession(const QString& clientId) override;
  void ending(const QString& reason, const QDateTime& startedAt) override;
  void tearingDown() override;
  void ended() override;

 private:
  void sendCreate();
  // Sends the "create" with what the secret store gave (the owner key,
  // nothing when it could not be read; the unattended digest, if any).
  void announce(QJsonObject create, const std::optional<QString>& key, const QString& how);
  void handleJoinRequest(const signaling::JoinRequest& request);
  // The pending requester left before an answer: its prompts go, nothing else.
  void withdrawRequest();
  // The session's clipboard and files.
  SessionFeatures& features();
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

  SessionCore& s_;
  HostEnvironment& platform_;
  std::unique_ptr<HostMedia> media_;
  std::unique_ptr<InjectionSequence> input_;
  QString roomId_;               // null until the first start
  QString requesterId_;          // null when absent
  QString admittedId_;           // the client let in; null when none
  std::chrono::steady_clock::time_point cooldownUntil_{};
  bool shouldMakeOfferWhenReady_ = false;
  bool hasSentInitialOffer_ = false;
  int reconnectDelayMs_ = 1000;  // next wait before an idle host reconnects
  QTimer restartTimer_;
  QTimer reconnectTimer_;
  QUuid reconnectGeneration_;  // the signaling connection that failed
  // Last: its thread stops before anything it reports to goes.
  std::unique_ptr<WorkerThread> secrets_;
};

}  // namespace lunor
