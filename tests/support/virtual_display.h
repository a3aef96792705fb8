// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private Xvnc on a free display: one 1920x1080 monitor, or 2560x1440 at
// (0, 0) and 1920x1080 at (2560, 0) on one output. Sets $DISPLAY meanwhile.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace lunor::test {

class VirtualDisplay {
 public:
  // extraArguments go to Xvnc ("-extension", "XTEST" takes XTEST away).
  explicit VirtualDisplay(bool twoMonitors = true, const QStringList& extraArguments = {});
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  bool isRunning() const { return !name_.isEmpty(); }
  // ":N"
  const QString& name() const { return name_; }
  // What went wrong when it is not running.
  const QString& error() const { return error_; }
  qint64 pid() const { return server_.processId(); }

 private:
  QProcess server_;
  QString name_;
  QString error_;
  QByteArray previousDisplay_;
};

// Runs an X client (xrandr, say) on $DISPLAY and waits for it; false when
// it fails.
bool runOnDisplay(const QString& program, const QStringList& arguments);

}  // namespace lunor::test
