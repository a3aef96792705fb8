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

class HostMedia;
class InjectionSequence;
class RemoteSession;
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

  // session is borrowed: it owns the role.
  explicit HostRole(RemoteSession& session);
  ~HostRole() override;

  // startHost: the room this host opens, again after every end.
  void start(const QString& roomId);
  void approve();
  void reject();

  Role role() const override { return Role::Host; }
  void signalingOpened() override;
  void signalingClosed() override;
  void handleMessage(const QString& type, const QJsonObject& message) override;
  void handlePayload(const QString& type, const QJsonObject& data) override;
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
  void handleJoinRequest(const QJsonObject& message);
  // The pending requester left before an answer: its prompts go, nothing else.
  void withdrawRequest();
  // Closes the request's panel and its notification.
  void dismissPrompts();
  void handlePeerJoined(const QJsonObject& message);
  void handleNotificationAction(const QString& clientId, JoinAction action);
  void sendOfferIfReady();
  void restartIce();
  void startCaptureIfNeeded(const QString& why);
  void showHud(std::function<void()> quit);
  void reconnectLater();
  void reconnect();

  RemoteSession& s_;
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
