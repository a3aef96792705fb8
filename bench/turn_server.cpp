// SPDX-License-Identifier: GPL-3.0-or-later
#include "turn_server.h"

#include <QCoreApplication>
#include <QTest>

#include "session/service_config.h"

namespace lunor::bench {

TurnServer::~TurnServer() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.terminate();
  if (!process_.waitForFinished(5000)) process_.kill();
  process_.waitForFinished(2000);
}

bool TurnServer::start() {
  // Below the kernel's ephemeral range, away from the tests' ports (theirs
  // follow their own process numbers) and the standard 3478.
  port_ = 32000 - 300 * int(QCoreApplication::applicationPid() % 40);
  process_.setProcessChannelMode(QProcess::MergedChannels);
  // Loopback only, no TLS, relayed ports just above its own.
  const QStringList arguments{"-oL", "turnserver", "-n",
                              "--listening-ip=127.0.0.1", "--relay-ip=127.0.0.1",
                              QString("--listening-port=%1").arg(port_),
                              QString("--min-port=%1").arg(port_ + 1), QString("--max-port=%1").arg(port_ + 200),
                              "--realm=lunor", "--no-tls", "--no-dtls", "--no-cli", "--allow-loopback-peers",
                              "--log-file=stdout", "--simple-log",
                              "--pidfile", scratch_.filePath("turn.pid"), "--db", scratch_.filePath("turndb"),
                              "--lt-cred-mech", QString("--user=%1:%2").arg(kTurnUsername, kTurnCredential)};
  process_.start("stdbuf", arguments);
  if (!process_.waitForStarted(10000)) {
    error_ = "stdbuf did not start";
    return false;
  }
  QByteArray log;
  const bool serving = QTest::qWaitFor(
      [&] {
        log += process_.readAll();
        return log.contains("Total General servers") || process_.state() == QProcess::NotRunning;
      },
      10000);
  if (!serving || !log.contains("Total General servers")) {
    error_ = "coturn (turnserver) did not start (scripts/install-deps.sh): " + QString::fromUtf8(log.right(400));
    return false;
  }
  return true;
}

}  // namespace lunor::bench
