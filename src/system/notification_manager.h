// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QString>

namespace lunor {

enum class JoinAction { Approve, Reject };

// Desktop notifications for join requests, with Accept and Reject actions.
// Main thread only.
class NotificationManager {
 public:
  using ActionHandler = std::function<void(const QString& clientId, JoinAction action)>;
  virtual ~NotificationManager() = default;
  // Replaces the handler called when the user answers a join notification.
  // An empty handler stops delivery.
  virtual void setJoinActionHandler(ActionHandler handler) = 0;
  // Announces a join request from displayName (may be empty) with clientId.
  virtual void postJoinRequest(const QString& displayName, const QString& clientId) = 0;
  // The request of clientId is no longer waiting (the requester left):
  // its notification goes.
  virtual void withdrawJoinRequest(const QString& clientId) = 0;
};

class NullNotificationManager final : public NotificationManager {
 public:
  void setJoinActionHandler(ActionHandler) override {}
  void postJoinRequest(const QString&, const QString&) override {}
  void withdrawJoinRequest(const QString&) override {}
};

}  // namespace lunor
