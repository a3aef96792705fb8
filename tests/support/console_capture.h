// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMutex>
#include <QStringList>

#include "system/console_log.h"

namespace lunor::test {

// Collects console lines for the lifetime of the object.
class ConsoleCapture {
 public:
  ConsoleCapture() {
    previous_ = setConsoleSink([this](const QString& line) {
      QMutexLocker lock(&mutex_);
      lines_ << line;
    });
  }
  ~ConsoleCapture() { setConsoleSink(previous_); }

  QStringList lines() const {
    QMutexLocker lock(&mutex_);
    return lines_;
  }
  bool contains(const QString& line) const { return lines().contains(line); }

 private:
  mutable QMutex mutex_;
  QStringList lines_;
  ConsoleSink previous_;
};

}  // namespace lunor::test
