#pragma once

// The client side of a session: joining the host's room, the password
// prompt, answering the host's offers, the host's display list and
// geometry, and the client's requests (quality, display, hard refresh).
// Main thread.

#include <array>
#include <optional>

#include <QObject>
#include <QTimer>
#include <QUuid>

#include "session/session_role.h"

namespace lunor {

class RemoteSession;

class ClientRole final : public QObject, public SessionRole {
  Q_OBJECT

 public:
  static constexpr int kJoinDelayMs = 1000;
  // How long the host's person may take to answer (they may be reading).
  static constexpr int kApprovalTimeoutMs = 60'000;
  // Waits before each new try when the signaling server cannot be reached
  // before the session has started; after the last, the client gives up.
  static constexpr std::array<int, 5> kReconnectDelaysMs{1000, 2000, 4000, 8000, 16000};

  // session is borrowed: it owns the role.
  explicit ClientRole(RemoteSession& session);

  // Sends the join 1 s from now, unless the generation has changed by then.
  void scheduleJoin(const QUuid& generation);
  void submitPassword(const QString& password);
  void requestQuality(const QString& rawProfile);
  void requestDisplaySwitch(int index);
  void requestHardRefresh();

  Role role() const override { return Role::Client; }
  void signalingOpened() override;
  void signalingClosed() override;
  void handleMessage(const QString& type, const QJsonObject& message) override;
  void handlePayload(const QString& type, const QJsonObject& data) override;
  // The client never interprets channel traffic.
  Negotiation::ControlReceiver controlReceiver() override { return {}; }
  void connectionCreated() override;
  void connected() override;
  QString departureReason() const override;
  void stopping() override;
  void ending(const QString&, const QDateTime&) override {}
  void tearingDown() override;
  void ended() override {}

 private:
  void sendJoin(const std::optional<QString>& passwordHash);
  void endWith(const char* reason, EndCause cause);
  void reconnect();

  RemoteSession& s_;
  QTimer joinTimer_;
  QUuid joinGeneration_;
  QTimer approvalTimer_;
  QTimer reconnectTimer_;
  size_t reconnectAttempt_ = 0;  // tries since the server last answered
  QUuid reconnectGeneration_;    // the signaling connection that failed
  QString deviceKey_;            // from the admission, until the session is up
};

}  // namespace lunor
