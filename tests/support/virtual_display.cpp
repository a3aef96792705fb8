// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual_display.h"

#include <QTest>

#include "child_process.h"

namespace lunor::test {
namespace {

bool run(const QString& program, const QStringList& arguments, const QString& display, QString* error) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display);
  process.setProcessEnvironment(env);
  process.setProcessChannelMode(QProcess::MergedChannels);
  dieWithTest(process);
  process.start(program, arguments);
  if (!process.waitForFinished(15000) || process.exitCode() != 0) {
    *error = program + " " + arguments.join(' ') + ": " + QString::fromLocal8Bit(process.readAll());
    return false;
  }
  return true;
}

}  // namespace

bool runOnDisplay(const QString& program, const QStringList& arguments) {
  QString error;
  if (run(program, arguments, qEnvironmentVariable("DISPLAY"), &error)) return true;
  qWarning().noquote() << error;
  return false;
}

VirtualDisplay::VirtualDisplay(bool twoMonitors, const QStringList& extraArguments) {
  previousDisplay_ = qgetenv("DISPLAY");
  // The server picks a free display itself and writes its number on stdout
  // once clients can connect: it takes the lock the X way, clears locks and
  // sockets left by servers that died, and skips a display another test is
  // taking at the same moment.
  // With two monitors the one output spans both, so the pointer can reach
  // the second: monitors without an output of their own confine it.
  dieWithTest(server_);
  server_.start("Xvnc", QStringList{"-displayfd", "1", "-geometry", twoMonitors ? "4480x1440" : "1920x1080", "-depth",
                                    "24", "-SecurityTypes", "None", "-localhost", "-rfbport", "-1", "-AlwaysShared"} +
                            extraArguments);
  if (!server_.waitForStarted(10000)) {
    error_ = "Xvnc did not start: " + server_.errorString();
    return;
  }
  QByteArray number;
  const bool said = QTest::qWaitFor(
      [&] {
        number += server_.readAllStandardOutput();
        return number.contains('\n') || server_.state() == QProcess::NotRunning;
      },
      30000);
  bool ok = false;
  const int display = number.trimmed().toInt(&ok);
  if (!said || !ok) {
    error_ = "Xvnc gave no display: " + QString::fromLocal8Bit(number + server_.readAllStandardError());
    return;
  }
  name_ = ":" + QString::number(display);
  if (twoMonitors &&
      (!run("xrandr", {"--setmonitor", "LEFT", "2560/677x1440/381+0+0", "VNC-0"}, name_, &error_) ||
       !run("xrandr", {"--setmonitor", "RIGHT", "1920/508x1080/286+2560+0", "none"}, name_, &error_))) {
    name_.clear();
    return;
  }
  qputenv("DISPLAY", name_.toLocal8Bit());
}

VirtualDisplay::~VirtualDisplay() {
  if (previousDisplay_.isEmpty()) {
    qunsetenv("DISPLAY");
  } else {
    qputenv("DISPLAY", previousDisplay_);
  }
  if (server_.state() != QProcess::NotRunning) {
    server_.terminate();
    if (!server_.waitForFinished(5000)) server_.kill();
  }
}

}  // namespace lunor::test
