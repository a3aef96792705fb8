// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>

#include "system/sleep_monitor.h"

namespace lunor {

// logind's PrepareForSleep(true) on the system bus (org.freedesktop.login1).
// Without a system bus or logind, it stays silent.
class LogindSleepMonitor final : public SleepMonitor {
  Q_OBJECT
 public:
  explicit LogindSleepMonitor(QDBusConnection bus = QDBusConnection::systemBus(), QObject* parent = nullptr);
  bool isListening() const { return listening_; }

 private Q_SLOTS:
  void prepareForSleep(bool starting);

 private:
  bool listening_ = false;
};

}  // namespace lunor
