// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>

namespace lunor::signal {

// Milliseconds since the first call; never goes back.
inline qint64 monotonicMs() {
  static const QElapsedTimer clock = [] {
    QElapsedTimer t;
    t.start();
    return t;
  }();
  return clock.elapsed();
}

}  // namespace lunor::signal
