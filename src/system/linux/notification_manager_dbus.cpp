// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/linux/notification_manager_dbus.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include "system/console_log.h"
#include "system/system_log.h"

namespace lunor {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr int kCallTimeoutMs = 2000;
constexpr int kAuthorized = 3;
constexpr uint kClosedByUser = 2;

}  // namespace

DBusNotificationManager::DBusNotificationManager(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

QString DBusNotificationManager::titleFor(const QString& displayName) {
  if (displayName.isEmpty()) return QStringLiteral("Nouvelle demande de connexion");
  return displayName + QStringLiteral(" souhaite se connecter");
}

void DBusNotificationManager::setJoinActionHandler(ActionHandler handler) {
  handler_ = std::move(handler);
}

void DBusNotificationManager::ensureConfigured() {
  bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
               SLOT(onActionInvoked(uint, QString)));
  bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
               SLOT(onNotificationClosed(uint, uint)));
  queryAuthorization([](int status) {
    consoleLine(lcSystem(), QStringLiteral("🟡 [Notif] requestAuthorization → granted=%1")
                                .arg(status == kAuthorized ? "true" : "false"));
  });
  configured_ = true;
}

void DBusNotificationManager::queryAuthorization(std::function<void(int status)> done) {
  if (!bus_.isConnected()) {
    done(0);
    return;
  }
  // Asynchronous: the main thread never waits for the desktop's service.
  const QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, done = std::move(done)] {
    watcher->deleteLater();
    const QDBusPendingReply<QStringList> reply = *watcher;
    if (reply.isError()) {
      done(0);
      return;
    }
    const QStringList capabilities = reply.value();
    consoleLine(lcSystem(),
                QStringLiteral("🔎 [Notif] Settings -> capabilities=") + capabilities.join(QLatin1Char(',')));
    done(capabilities.contains(QStringLiteral("actions")) ? kAuthorized : 1);
  });
}

void DBusNotificationManager::postJoinRequest(const QString& displayName, const QString& clientId) {
  if (!configured_) {
    consoleLine(lcSystem(), QStringLiteral("🟠 [Notif] ensureConfigured → reconfigure"));
    ensureConfigured();
  }
  withdrawn_.remove(clientId);  // asking again
  // Until the service has answered, a second request from the same client
  // would not know the first notification's number and would add a second
  // notification: it waits and replaces the first instead.
  if (auto it = inFlight_.find(clientId); it != inFlight_.end()) {
    *it = displayName;
    return;
  }
  inFlight_.insert(clientId, std::nullopt);
  queryAuthorization([this, displayName, clientId](int status) {
    if (status != kAuthorized) {
      consoleLine(lcSystem(), QStringLiteral("🟥 [Notif] not authorized (status=%1) → pas d’envoi").arg(status));
      finished(clientId);
      return;
    }
    post(displayName, clientId);
  });
}

void DBusNotificationManager::finished(const QString& clientId) {
  const std::optional<QString> again = inFlight_.take(clientId);
  if (withdrawn_.remove(clientId)) {
    close(clientId);
    return;
  }
  if (again) postJoinRequest(*again, clientId);
}

void DBusNotificationManager::withdrawJoinRequest(const QString& clientId) {
  if (inFlight_.contains(clientId)) {
    // Its number is not known yet: closed once the service has answered.
    withdrawn_.insert(clientId);
    return;
  }
  close(clientId);
}

void DBusNotificationManager::close(const QString& clientId) {
  const uint id = notificationByClient_.take(clientId);
  if (id == 0) return;
  clientByNotification_.remove(id);
  consoleLine(lcSystem(), QStringLiteral("ℹ️ [Notif] retirée id=join-request-") + clientId);
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
  call << id;
  bus_.asyncCall(call, kCallTimeoutMs);
}

void DBusNotificationManager::post(const QString& displayName, const QString& clientId) {
  QDBusMessage notify =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  const QStringList actions{QLatin1String(kAcceptAction), QStringLiteral("Accepter"),
                            QLatin1String(kRejectAction), QStringLiteral("Refuser"),
                            QStringLiteral("default"), QString()};
  const QVariantMap hints{
      {QStringLiteral("urgency"), QVariant::fromValue(uchar(2))},
      // The session plays the join's sound itself (notifications or not).
      {QStringLiteral("suppress-sound"), true},
      {QStringLiteral("x-lunor-category"), QLatin1String(kCategory)},
      {QStringLiteral("x-lunor-client-id"), clientId},
      {QStringLiteral("x-lunor-display-name"), displayName.isNull() ? QString(QLatin1String("")) : displayName}};
  notify << QStringLiteral("Lunor Remote") << notificationByClient_.value(clientId, 0u) << QString()
         << titleFor(displayName)
         << QStringLiteral("Appuie sur Accepter pour autoriser le contrôle à distance.") << actions
         << hints << 0;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(notify, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, clientId] {
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    if (reply.isError()) {
      consoleLine(lcSystem(), QStringLiteral("🟥 [Notif] add(join) failed: ") + reply.error().message());
      finished(clientId);
      return;
    }
    const uint id = reply.value();
    if (const uint previous = notificationByClient_.value(clientId, 0); previous != id) {
      clientByNotification_.remove(previous);
    }
    notificationByClient_.insert(clientId, id);
    clientByNotification_.insert(id, clientId);
    consoleLine(lcSystem(), QStringLiteral("🟢 [Notif] add(join) OK id=join-request-") + clientId);
    finished(clientId);
  });
}

void DBusNotificationManager::onActionInvoked(uint id, const QString& actionKey) {
  if (!clientByNotification_.contains(id)) return;  // another application's notification
  const QString clientId = clientByNotification_.value(id);
  if (actionKey == QLatin1String(kAcceptAction)) {
    consoleLine(lcSystem(), QStringLiteral("🟢 [Notif] Action: ACCEPT → ") + clientId);
    if (handler_) handler_(clientId, JoinAction::Approve);
  } else if (actionKey == QLatin1String(kRejectAction)) {
    consoleLine(lcSystem(), QStringLiteral("🟠 [Notif] Action: REJECT → ") + clientId);
    if (handler_) handler_(clientId, JoinAction::Reject);
  } else if (actionKey == QLatin1String("default")) {
    consoleLine(lcSystem(),
                QStringLiteral("ℹ️ [Notif] tap banner (default) → ignore accept; on peut focus l’app si besoin"));
  }
}

void DBusNotificationManager::onNotificationClosed(uint id, uint reason) {
  const auto it = clientByNotification_.find(id);
  if (it == clientByNotification_.end()) return;
  if (reason == kClosedByUser) consoleLine(lcSystem(), QStringLiteral("ℹ️ [Notif] dismiss"));
  notificationByClient_.remove(it.value());
  clientByNotification_.erase(it);
}

}  // namespace lunor
