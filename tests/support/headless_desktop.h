// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A GNOME Wayland desktop for a test, with nothing on a screen: a headless
// Mutter with virtual monitors, on a private session bus (its remote
// desktop, screen cast and display configuration answer there) with its own
// PipeWire and WirePlumber, in a runtime directory of its own. Software
// rendering: no GPU needed.

#include <memory>
#include <vector>

#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QTemporaryDir>

namespace lunor::test {

class HeadlessDesktop {
 public:
  // The virtual monitors' sizes, left to right.
  explicit HeadlessDesktop(const QList<QSize>& monitors = {QSize(1280, 720), QSize(1024, 768)});
  ~HeadlessDesktop();
  HeadlessDesktop(const HeadlessDesktop&) = delete;
  HeadlessDesktop& operator=(const HeadlessDesktop&) = delete;

  bool isRunning() const { return error_.isEmpty(); }
  QString error() const { return error_; }
  // What a process needs to live on this desktop: its runtime directory,
  // session bus, Wayland display, and a Wayland session type.
  QProcessEnvironment environment() const;
  // Only the desktop's own variables, to lay over an environment a process
  // already has (the rest of the test's, a signaling URL of its own).
  QProcessEnvironment sessionVariables() const;
  // A process of the test's on this desktop (the Wayland probe, say).
  std::unique_ptr<QProcess> launch(const QString& program, const QStringList& arguments = {}) const;
  // The compositor's process id, 0 when it is not running.
  qint64 compositorPid() const { return compositor_ ? compositor_->processId() : 0; }

 private:
  bool startProcess(QProcess& process, const QString& program, const QStringList& arguments,
                    const QProcessEnvironment& environment = {});

  QTemporaryDir runtime_;
  QString busAddress_;
  QString error_;
  std::vector<std::unique_ptr<QProcess>> processes_;  // in start order; stopped last first
  QProcess* compositor_ = nullptr;
};

}  // namespace lunor::test
