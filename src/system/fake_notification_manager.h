#pragma once

#include <QList>
#include <QPair>

#include "system/notification_manager.h"

namespace lunor {

class FakeNotificationManager final : public NotificationManager {
 public:
  void setJoinActionHandler(ActionHandler h) override { handler = std::move(h); }
  void postJoinRequest(const QString& name, const QString& clientId) override {
    posted.append({name, clientId});
  }
  // Simulates the user pressing a notification button.
  void answer(const QString& clientId, JoinAction action) {
    if (handler) handler(clientId, action);
  }
  ActionHandler handler;
  QList<QPair<QString, QString>> posted;
};

}  // namespace lunor
