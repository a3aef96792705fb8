// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/unix_signals.h"

#include <csignal>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

namespace lunor {
namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  // Only async-signal-safe work here; the event loop does the rest.
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

void quitOnTerminationSignals(QCoreApplication& app) {
  onTerminationSignals(app, [&app] { app.quit(); });
}

void onTerminationSignals(QCoreApplication& app, std::function<void()> handler) {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
  auto signals = std::make_shared<int>(0);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, handler, signals] {
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::read(signalPipe[0], &byte, 1);
    if (++*signals > 1 || !handler) {
      app.quit();
      return;
    }
    handler();
  });
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

void failWritesPastFileSizeLimit() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace lunor
