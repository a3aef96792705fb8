// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private dbus-daemon for the duration of a test.

#include <tuple>

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QTest>
#include "child_process.h"

namespace lunor::test {

class PrivateBus {
 public:
  PrivateBus() {
    dieWithTest(daemon);
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!daemon.waitForStarted(10000)) return;
    std::ignore = QTest::qWaitFor([&] { return daemon.canReadLine(); }, 10000);
    address = QString::fromUtf8(daemon.readLine()).trimmed();
  }
  ~PrivateBus() {
    daemon.terminate();
    daemon.waitForFinished(3000);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  QDBusConnection connect(const QString& name) { return QDBusConnection::connectToBus(address, name); }

  QProcess daemon;
  QString address;
};

}  // namespace lunor::test
