// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// coturn on loopback for a benchmark, with the application's fixed TURN
// user, on a port of its own.

#include <QProcess>
#include <QTemporaryDir>

namespace lunor::bench {

class TurnServer {
 public:
  TurnServer() = default;
  ~TurnServer();
  TurnServer(const TurnServer&) = delete;
  TurnServer& operator=(const TurnServer&) = delete;

  // Starts it and waits until it serves; false (error() says why) if not.
  bool start();
  int port() const { return port_; }
  QString url() const { return QStringLiteral("turn:127.0.0.1:%1").arg(port_); }
  QString error() const { return error_; }

 private:
  QTemporaryDir scratch_;
  QProcess process_;
  int port_ = 0;
  QString error_;
};

}  // namespace lunor::bench
