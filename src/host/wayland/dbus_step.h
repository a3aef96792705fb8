// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One step of a start over D-Bus: the call is made without waiting, and its
// reply goes on only while the start it belongs to is still the current one.

#include <functional>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QObject>

namespace lunor {

// `current` says whether the reply still matters (no start or stop since);
// `failed` gets "Method : error" for an error reply, `next` any other reply.
// Both on `context`'s thread.
inline void callStep(const QDBusConnection& bus, const QDBusMessage& message, int timeoutMs, QObject* context,
                     std::function<bool()> current, std::function<void(const QString& why)> failed,
                     std::function<void(const QDBusMessage& reply)> next) {
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, timeoutMs), context);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                   [watcher, method = message.member(), current = std::move(current), failed = std::move(failed),
                    next = std::move(next)] {
                     watcher->deleteLater();
                     if (!current()) return;
                     const QDBusMessage reply = watcher->reply();
                     if (reply.type() == QDBusMessage::ErrorMessage) {
                       failed(method + QStringLiteral(" : ") + reply.errorMessage());
                       return;
                     }
                     next(reply);
                   });
}

}  // namespace lunor
