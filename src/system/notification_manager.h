#pragma once

#include <functional>

#include <QString>

namespace lunor {

enum class JoinAction { Approve, Reject };

// Desktop notifications for join requests, with Accept and Reject actions.
class NotificationManager {
 public:
  using ActionHandler = std::function<void(const QString& clientId, JoinAction action)>;
  virtual ~NotificationManager() = default;
  // Replaces the handler called (on the main thread) when the user answers a
  // join notification. An empty handler stops delivery.
  virtual void setJoinActionHandler(ActionHandler handler) = 0;
};

class NullNotificationManager final : public NotificationManager {
 public:
  void setJoinActionHandler(ActionHandler) override {}
};

}  // namespace lunor
