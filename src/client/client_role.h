// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The client side of a session: joining the host's room, the password
// prompt, answering the host's offers, the host's display list and
// geometry, and the client's requests (quality, display, hard refresh).
// Main thread.

#include <memory>
#include <optional>
#include <vector>

#include <QObject>
#include <QTimer>
#include <QUuid>

#include "client/link_gauge.h"
#include "session/session_role.h"

namespace lunor {

class ClientRole final : public QObject, public SessionRole {
  Q_OBJECT

 public:
  static constexpr int kJoinDelayMs = 1000;
  static constexpr int kLinkIntervalMs = 2000;

  // session is borrowed: it owns the role.
  explicit ClientRole(SessionCore& session);
  ~ClientRole() override;

  Role role() const override { return Role::Client; }
  // Sends the join 1 s from now, unless the session's link has changed by then.
  void starting(const QString& roomId) override;
  void signalingOpened() override {}
  void signalingClosed() override;
  void handle(const incoming::Message& message) override;
  void handle(const incoming::Payload& payload) override;
  void submitPassword(const QString& password) override;
  void requestQuality(const QString& rawProfile) override;
  void requestDisplaySwitch(int index) override;
  void requestHardRefresh() override;
  // The client never interprets channel traffic.
  Negotiation::ControlReceiver controlReceiver() override { return {}; }
  void connectionCreated() override;
  void connected() override;
  // Tells the host once the connection's first picture is here.
  void remoteTrackArrived(const std::shared_ptr<rtc::VideoTrack>& track) override;
  QString departureReason() const override;
  void stopping() override;
  void ending(const QString&, const QDateTime&) override {}
  void tearingDown() override;
  void ended() override {}

 private:
  void sendJoin(const std::optional<QString>& passwordHash);
  void endWith(const char* reason, EndCause cause);
  void reconnect();
  void passwordDenied(const incoming::UnattendedDenied& denied);
  void stopWatchingPicture();
  // Tells the host the first picture is here, once the control channel is open.
  void sayPicture();

  SessionCore& s_;
  QTimer joinTimer_;
  QUuid joinGeneration_;
  QTimer approvalTimer_;
  QTimer reconnectTimer_;
  QTimer passwordRetryTimer_;  // the prompt back once the server takes passwords again
  // Sees the first frame of the host's track, then tells the host.
  class FirstPicture;
  std::unique_ptr<FirstPicture> firstPicture_;
  std::shared_ptr<rtc::VideoTrack> watchedTrack_;
  bool pictureToSay_ = false;  // the first picture came; the host has not heard yet
  std::vector<int> reconnectDelaysMs_;  // the waits before each new try
  size_t reconnectAttempt_ = 0;  // tries since the server last answered a message
  QUuid reconnectGeneration_;    // the signaling connection that failed
  QString deviceKey_;            // from the admission, until the session is up
  bool admitted_ = false;        // the server let this client in
  // The link indicator: the receiver's counters every few seconds.
  QTimer linkTimer_;
  LinkGauge linkGauge_;
  int linkContext_ = 0;  // a new one for each profile or display asked
};

}  // namespace lunor
