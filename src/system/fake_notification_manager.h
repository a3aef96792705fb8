#pragma once

#include "system/notification_manager.h"

namespace lunor {

class FakeNotificationManager final : public NotificationManager {
 public:
  void setJoinActionHandler(ActionHandler h) override { handler = std::move(h); }
  // Simulates the user pressing a notification button.
  void answer(const QString& clientId, JoinAction action) {
    if (handler) handler(clientId, action);
  }
  ActionHandler handler;
};

}  // namespace lunor
