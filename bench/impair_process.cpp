// SPDX-License-Identifier: GPL-3.0-or-later
#include "impair_process.h"

#include <csignal>

#include <QTest>

namespace lunor::bench {

QHash<QString, double> parseCounters(const QString& line) {
  QHash<QString, double> counters;
  for (const QString& pair : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    const qsizetype equals = pair.indexOf(QLatin1Char('='));
    if (equals > 0) counters.insert(pair.left(equals), pair.mid(equals + 1).toDouble());
  }
  return counters;
}

ImpairProcess::~ImpairProcess() { stop(); }

bool ImpairProcess::start(int turnPort, const QStringList& conditions) {
  process_.setProcessChannelMode(QProcess::SeparateChannels);
  process_.setStandardErrorFile(QProcess::nullDevice());
  process_.start(binary_,
                 QStringList{"--listen", "0", "--to", QStringLiteral("127.0.0.1:%1").arg(turnPort)} + conditions);
  if (!process_.waitForStarted(5000)) {
    error_ = binary_ + " did not start";
    return false;
  }
  const auto listening = nextLine(QStringLiteral("listening "));
  if (!listening) {
    error_ = binary_ + " did not listen";
    return false;
  }
  port_ = listening->section(QLatin1Char(':'), -1).toInt();
  return port_ > 0;
}

std::optional<QString> ImpairProcess::nextLine(const QString& prefix, int timeoutMs) {
  std::optional<QString> found;
  std::ignore = QTest::qWaitFor(
      [&] {
        while (process_.canReadLine()) {
          const QString line = QString::fromUtf8(process_.readLine()).trimmed();
          if (line.startsWith(prefix)) {
            found = line.mid(prefix.size());
            return true;
          }
        }
        return process_.state() == QProcess::NotRunning;
      },
      timeoutMs);
  return found;
}

QHash<QString, double> ImpairProcess::counters() {
  if (process_.state() != QProcess::Running) return {};
  ::kill(pid_t(process_.processId()), SIGUSR2);
  return parseCounters(nextLine(QStringLiteral("counters ")).value_or(QString()));
}

std::optional<std::pair<int64_t, int64_t>> ImpairProcess::blackout() {
  if (process_.state() != QProcess::Running) return std::nullopt;
  ::kill(pid_t(process_.processId()), SIGUSR1);
  const auto line = nextLine(QStringLiteral("blackout "));
  if (!line) return std::nullopt;
  return std::pair{line->section(QLatin1Char(' '), 0, 0).toLongLong(),
                   line->section(QLatin1Char(' '), 1, 1).toLongLong()};
}

QHash<QString, double> ImpairProcess::stop() {
  if (process_.state() == QProcess::NotRunning) return {};
  process_.terminate();
  auto last = parseCounters(nextLine(QStringLiteral("counters "), 5000).value_or(QString()));
  if (!process_.waitForFinished(5000)) {
    process_.kill();
    process_.waitForFinished(2000);
  }
  return last;
}

}  // namespace lunor::bench
