// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private redis-server on a free loopback port, nothing written to disk.

#include <tuple>

#include <QProcess>
#include <QTcpServer>
#include <QTest>
#include "child_process.h"

namespace lunor::test {

class RedisServerProcess {
 public:
  // extraArguments go to redis-server ("--requirepass", "secret").
  explicit RedisServerProcess(const QStringList& extraArguments = {}) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    port_ = probe.serverPort();
    probe.close();
    process_.setProcessChannelMode(QProcess::MergedChannels);
    dieWithTest(process_);
    process_.start(QStringLiteral("redis-server"),
                   QStringList{QStringLiteral("--port"), QString::number(port_), QStringLiteral("--bind"),
                               QStringLiteral("127.0.0.1"), QStringLiteral("--save"), QString(),
                               QStringLiteral("--appendonly"), QStringLiteral("no")} +
                       extraArguments);
    if (!process_.waitForStarted(5000)) {
      port_ = 0;
      return;
    }
    std::ignore = QTest::qWaitFor(
        [this] {
          output_ += process_.readAll();
          return output_.contains("Ready to accept connections") || process_.state() == QProcess::NotRunning;
        },
        10000);
    if (!output_.contains("Ready to accept connections")) port_ = 0;
  }
  ~RedisServerProcess() {
    process_.kill();
    process_.waitForFinished(5000);
  }
  bool isReady() const { return port_ != 0; }
  QString url() const { return QStringLiteral("redis://127.0.0.1:%1").arg(port_); }
  QByteArray output() { return output_ += process_.readAll(); }

 private:
  QProcess process_;
  QByteArray output_;
  quint16 port_ = 0;
};

}  // namespace lunor::test
