// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The server's log: one "key=value" line per event on standard output,
// with the time first. Never passwords, digests, names or pictures.
//
// Logging never blocks the event loop: lines go to a queue that a thread of
// its own writes out; when the queue is full lines are dropped and counted
// (the count is logged once the queue drains). Repeats of one event from one
// address are summarised: the first is logged, the next ones are counted
// and reported as one "repeated" line per window.

#include <QList>
#include <QPair>
#include <QString>

namespace lunor::signal {

using LogFields = QList<QPair<QString, QString>>;

void logEvent(const QString& event, const LogFields& fields = {});

struct LogPolicy {
  int queueLines = 65536;
  qint64 repeatWindowMs = 10'000;
};

// Applies a policy (before the first event), for tests and flags.
void setLogPolicy(const LogPolicy& policy);
// Reports the repeats still counted and waits (up to timeoutMs) for the
// writer to empty its queue; for shutdown and tests.
void flushLog(int timeoutMs = 2000);
// Reports the repeat windows that have ended; the server calls it each second.
void expireLogRepeats();
// Lines dropped so far because the queue was full.
qint64 droppedLogLines();

}  // namespace lunor::signal
