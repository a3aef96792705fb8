// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/linux/sleep_monitor_logind.h"

namespace lunor {

LogindSleepMonitor::LogindSleepMonitor(QDBusConnection bus, QObject* parent) : SleepMonitor(parent) {
  if (!bus.isConnected()) return;
  listening_ = bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                           this, SLOT(prepareForSleep(bool)));
}

void LogindSleepMonitor::prepareForSleep(bool starting) {
  // false comes on waking up.
  if (starting) Q_EMIT aboutToSleep();
}

}  // namespace lunor
