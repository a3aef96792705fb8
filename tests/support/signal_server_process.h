// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs the real lunor-signal binary on a free loopback port for a test.

#include <QProcess>
#include <QStringList>
#include <QUrl>

namespace lunor::test {

class SignalServerProcess {
 public:
  // Starts the binary with extra arguments and waits until it listens.
  explicit SignalServerProcess(const QStringList& arguments = {});
  ~SignalServerProcess();

  bool isListening() const { return port_ != 0; }
  quint16 port() const { return port_; }
  QUrl url(const QString& scheme = QStringLiteral("ws"),
           const QString& host = QStringLiteral("127.0.0.1")) const;
  QByteArray output();
  QProcess& process() { return process_; }

 private:
  QProcess process_;
  QByteArray output_;
  quint16 port_ = 0;
};

}  // namespace lunor::test
