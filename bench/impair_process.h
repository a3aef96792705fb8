// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// lunor-impair as a process of a benchmark: started in front of a TURN
// server with a scenario's conditions, asked for its counters and for
// blackouts through signals, and read back through its stdout.

#include <optional>
#include <utility>

#include <QHash>
#include <QProcess>
#include <QStringList>

namespace lunor::bench {

class ImpairProcess {
 public:
  explicit ImpairProcess(QString binary) : binary_(std::move(binary)) {}
  ~ImpairProcess();
  ImpairProcess(const ImpairProcess&) = delete;
  ImpairProcess& operator=(const ImpairProcess&) = delete;

  // Starts it in front of the TURN server on turnPort, with lunor-impair's
  // condition arguments; false (error() says why) when it does not listen.
  bool start(int turnPort, const QStringList& conditions);
  // The TURN URL through it.
  QString url() const { return QStringLiteral("turn:127.0.0.1:%1").arg(port_); }
  // Its counters now, by name ("down_in", "up_nack", …); empty if it does
  // not answer.
  QHash<QString, double> counters();
  // Starts a blackout of the length it was given; its start and end on the
  // monotonic clock (µs), or nothing if it does not answer.
  std::optional<std::pair<int64_t, int64_t>> blackout();
  // Ends it; its last counters.
  QHash<QString, double> stop();
  QString error() const { return error_; }

 private:
  // The next line of its stdout that starts with prefix, the lines before
  // it skipped; nothing after timeoutMs.
  std::optional<QString> nextLine(const QString& prefix, int timeoutMs = 3000);

  QString binary_;
  QProcess process_;
  int port_ = 0;
  QString error_;
};

// The counters of a line "counters key=value …".
QHash<QString, double> parseCounters(const QString& line);

}  // namespace lunor::bench
