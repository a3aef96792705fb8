// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Tells when the machine is about to sleep. The platform's monitor emits
// aboutToSleep() on the main thread; a platform without the information
// never does.

#include <QObject>

namespace lunor {

class SleepMonitor : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  ~SleepMonitor() override = default;

 Q_SIGNALS:
  void aboutToSleep();
};

// Never emits: for tests, and where the platform cannot say.
class NullSleepMonitor final : public SleepMonitor {
 public:
  using SleepMonitor::SleepMonitor;
  // Tests play the system's part.
  void simulateSleep() { Q_EMIT aboutToSleep(); }
};

}  // namespace lunor
