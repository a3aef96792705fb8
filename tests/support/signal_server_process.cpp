// SPDX-License-Identifier: GPL-3.0-or-later
#include "signal_server_process.h"

#include <tuple>
#include <QRegularExpression>
#include <QTest>

#include "child_process.h"

namespace lunor::test {

SignalServerProcess::SignalServerProcess(const QStringList& arguments) {
  process_.setProcessChannelMode(QProcess::MergedChannels);
  QStringList all{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--owners-db"),
                  QStringLiteral(":memory:")};
  all << arguments;
  dieWithTest(process_);
  process_.start(QStringLiteral(LUNOR_SIGNAL_BINARY), all);
  if (!process_.waitForStarted(10000)) return;
  static const QRegularExpression listening(QStringLiteral("event=listening .*port=(\\d+)"));
  std::ignore = QTest::qWaitFor(
      [this] {
        output_ += process_.readAll();
        const auto match = listening.match(QString::fromUtf8(output_));
        if (match.hasMatch()) port_ = static_cast<quint16>(match.captured(1).toUInt());
        return port_ != 0 || process_.state() == QProcess::NotRunning;
      },
      10000);
}

SignalServerProcess::~SignalServerProcess() {
  if (process_.state() != QProcess::NotRunning) {
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill();
  }
}

QUrl SignalServerProcess::url(const QString& scheme, const QString& host) const {
  return QUrl(QStringLiteral("%1://%2:%3/signal").arg(scheme, host).arg(port_));
}

QByteArray SignalServerProcess::output() {
  output_ += process_.readAll();
  return output_;
}

}  // namespace lunor::test
