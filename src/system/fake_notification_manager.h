// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPair>
#include <QStringList>

#include "system/notification_manager.h"

namespace lunor {

class FakeNotificationManager final : public NotificationManager {
 public:
  void setJoinActionHandler(ActionHandler h) override { handler = std::move(h); }
  void postJoinRequest(const QString& name, const QString& clientId) override {
    posted.append({name, clientId});
  }
  void withdrawJoinRequest(const QString& clientId) override { withdrawn.append(clientId); }
  // Simulates the user pressing a notification button.
  void answer(const QString& clientId, JoinAction action) {
    if (handler) handler(clientId, action);
  }
  ActionHandler handler;
  QList<QPair<QString, QString>> posted;
  QStringList withdrawn;
};

}  // namespace lunor
