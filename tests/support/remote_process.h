// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The shipped lunor-remote as a test's process with XDG folders of its own.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

namespace lunor::test {

class RemoteProcess {
 public:
  // binary: the lunor-remote to run; server: the signaling server's URL;
  // display: the X server it uses (":N"; empty: none).
  RemoteProcess(QString binary, QUrl server, QString display);
  ~RemoteProcess();
  RemoteProcess(const RemoteProcess&) = delete;
  RemoteProcess& operator=(const RemoteProcess&) = delete;

  // What to set in the process's environment beyond its own XDG folders
  // (a Wayland desktop's, say); before start().
  void setEnvironment(const QProcessEnvironment& overrides) { overrides_ = overrides; }
  // Starts `lunor-remote arguments`, its earlier output forgotten.
  bool start(const QStringList& arguments);
  // Stores a profile with unattended access on and `password` as the
  // unattended password, before the process starts.
  void allowUnattended(const QString& password, const QString& firstName = QStringLiteral("Hôte"));
  // Starts it as a headless host with unattended access on and `password`
  // as the password; true once its room takes the password.
  bool startUnattendedHost(const QString& password);
  // Starts it as a headless client of `room`, `password` in a file of its
  // own (null: no password), then `more`.
  bool startClient(const QString& room, const QString& password, const QStringList& more = {});
  // A file in the process's folder holding `password`, for --password-file.
  QString passwordFile(const QString& password);
  // Waits for it to end, the event loop running (test peers answer their
  // pings meanwhile); its exit code, -1 on timeout.
  int exitCode(int timeoutMs = 30000);
  // Waits until the output holds `text`; false on timeout.
  bool waitForOutput(const QString& text, int timeoutMs = 20000);
  // The host's session ID, from its "ID de session" line; waits for it.
  QString roomId(int timeoutMs = 20000);
  QString output();
  // SIGTERM, and the exit code (-1 if it had to be killed).
  int stop();
  QProcess& process() { return process_; }
  // The process's own folder (its XDG folders are in it).
  QString folder() const { return home_.path(); }

 private:
  QString binary_;
  QUrl server_;
  QString display_;
  QTemporaryDir home_;
  QProcess process_;
  QByteArray output_;
  QProcessEnvironment overrides_;
};

}  // namespace lunor::test
