// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/console_log.h"

#include <cstdio>
#include <mutex>

#include <QLoggingCategory>

namespace lunor {
namespace {

std::mutex& sinkMutex() {
  static std::mutex mutex;
  return mutex;
}

ConsoleSink& currentSink() {
  static ConsoleSink sink;
  return sink;
}

}  // namespace

void consoleLine(const QLoggingCategory& category, const QString& line) {
  if (!category.isInfoEnabled()) return;
  std::lock_guard lock(sinkMutex());
  if (currentSink()) {
    currentSink()(line);
    return;
  }
  // One write with its end, so that another write to standard output cannot
  // come between the line and its end.
  const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
  std::fflush(stdout);
}

ConsoleSink setConsoleSink(ConsoleSink sink) {
  std::lock_guard lock(sinkMutex());
  ConsoleSink previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}

}  // namespace lunor
