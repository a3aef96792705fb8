// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QSet>

#include "system/notification_manager.h"

namespace lunor {

// Join-request notifications through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus), with the actions
// "Accepter" and "Refuser". A later request from the same client replaces
// the earlier notification. Without a service that supports actions nothing
// is posted; the in-app prompt remains. Lines go to the console (lunor.system).
class DBusNotificationManager final : public QObject, public NotificationManager {
  Q_OBJECT
 public:
  static constexpr char kAcceptAction[] = "REMOTE_JOIN_ACCEPT";
  static constexpr char kRejectAction[] = "REMOTE_JOIN_REJECT";
  static constexpr char kCategory[] = "REMOTE_JOIN_REQUEST";

  explicit DBusNotificationManager(QDBusConnection bus = QDBusConnection::sessionBus(),
                                   QObject* parent = nullptr);

  // Subscribes to the service's signals and checks what it supports.
  void ensureConfigured();
  bool isConfigured() const { return configured_; }

  void setJoinActionHandler(ActionHandler handler) override;
  void postJoinRequest(const QString& displayName, const QString& clientId) override;
  void withdrawJoinRequest(const QString& clientId) override;

  static QString titleFor(const QString& displayName);

 private Q_SLOTS:
  void onActionInvoked(uint id, const QString& actionKey);
  void onNotificationClosed(uint id, uint reason);

 private:
  // Calls `done` with 3 when the service answers and supports actions, 1
  // when it lacks them, 0 when no service answers (the platform's numbers).
  void queryAuthorization(std::function<void(int status)> done);
  void post(const QString& displayName, const QString& clientId);
  // The post for clientId is done (shown or not); sends a request that came
  // meanwhile, which now replaces the notification instead of adding one.
  void finished(const QString& clientId);
  // Closes the notification shown for clientId, if there is one.
  void close(const QString& clientId);

  QDBusConnection bus_;
  bool configured_ = false;
  ActionHandler handler_;
  QHash<uint, QString> clientByNotification_;
  QHash<QString, uint> notificationByClient_;
  // Clients whose post awaits the service's answer, with the display name
  // of a request that came in the meantime, if one did.
  QHash<QString, std::optional<QString>> inFlight_;
  // Clients whose request was withdrawn while its post was in flight.
  QSet<QString> withdrawn_;
};

}  // namespace lunor
