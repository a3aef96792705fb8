// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/console_log.h"

#include <cstdio>
#include <mutex>

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

void consoleLine(const QString& line) {
  std::lock_guard lock(sinkMutex());
  if (currentSink()) {
    currentSink()(line);
    return;
  }
  const QByteArray bytes = line.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

ConsoleSink setConsoleSink(ConsoleSink sink) {
  std::lock_guard lock(sinkMutex());
  ConsoleSink previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}

}  // namespace lunor
