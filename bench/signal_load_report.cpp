// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-signal-load: time, figures and their printing, and the servers
// with their logs.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>

#include "signal_load.h"

namespace lunor::bench::load {
namespace {

// The events a healthy run has plenty of; the others are worth a look.
bool isRoutine(const QString& event) {
  static const QStringList routine{"listening",    "connected", "disconnected", "room-created", "room-closed",
                                   "join-request", "admitted",  "stopped",      "cluster-joined"};
  return routine.contains(event);
}

}  // namespace

QFile* logCopy = nullptr;

qint64 nowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
  if (done()) return true;
  QEventLoop loop;
  QTimer check;
  check.setInterval(2);
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  check.start();
  loop.exec();
  return done();
}

void pause(int ms) { waitFor([] { return false; }, ms); }

Spread spreadOf(std::vector<double> values) {
  Spread s;
  s.samples = qsizetype(values.size());
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  auto at = [&](double p) { return values[size_t(std::lround(p * double(values.size() - 1)))]; };
  s.p50 = at(0.5);
  s.p95 = at(0.95);
  s.p99 = at(0.99);
  s.max = values.back();
  return s;
}

QJsonObject toJson(const Spread& s) {
  return {{"p50", s.p50}, {"p95", s.p95}, {"p99", s.p99}, {"max", s.max}, {"samples", s.samples}};
}

QString fixed(double value, int decimals) { return QString::number(value, 'f', decimals); }

QString describe(const Spread& s) {
  return QStringLiteral("p50 %1 · p95 %2 · p99 %3 · max %4 ms (%5 samples)")
      .arg(fixed(s.p50, 2), fixed(s.p95, 2), fixed(s.p99, 2), fixed(s.max, 2))
      .arg(s.samples);
}

QString counts(const QHash<QString, int>& byName) {
  QStringList parts;
  for (auto it = byName.begin(); it != byName.end(); ++it) {
    if (it.value() > 0) parts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
  }
  parts.sort();
  return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
}

QJsonObject toJson(const QHash<QString, int>& byName) {
  QJsonObject object;
  for (auto it = byName.begin(); it != byName.end(); ++it) {
    if (it.value() > 0) object[it.key()] = it.value();
  }
  return object;
}

QHash<QString, int> minus(QHash<QString, int> after, const QHash<QString, int>& before) {
  for (auto it = before.begin(); it != before.end(); ++it) after[it.key()] -= it.value();
  return after;
}

void line(const QString& label, const QString& value) {
  // Padded here, not by printf: the labels have arrows and printf counts bytes.
  std::printf("  %s %s\n", qPrintable(label.leftJustified(40)), qPrintable(value));
}

QString verdict(bool met) { return met ? QStringLiteral("met") : QStringLiteral("NOT met"); }

// ---- the server's log ----

QMap<QString, qint64> logEvents(const QByteArray& log) {
  static const QRegularExpression event(QStringLiteral(" event=(\\S+)(?:.* repeated=(\\d+))?"));
  QMap<QString, qint64> events;
  for (auto it = event.globalMatch(QString::fromUtf8(log)); it.hasNext();) {
    const auto match = it.next();
    events[match.captured(1)] += match.hasCaptured(2) ? match.captured(2).toLongLong() : 1;
  }
  return events;
}

QString unusual(const QMap<QString, qint64>& events) {
  QStringList parts;
  for (auto it = events.begin(); it != events.end(); ++it) {
    if (!isRoutine(it.key())) parts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
  }
  return parts.isEmpty() ? QStringLiteral("nothing unusual") : parts.join(QStringLiteral(", "));
}

QJsonObject toJson(const QMap<QString, qint64>& events) {
  QJsonObject object;
  for (auto it = events.begin(); it != events.end(); ++it) object[it.key()] = it.value();
  return object;
}

std::optional<Server> startServer(const QStringList& extra) {
  Server server;
  server.process = std::make_unique<test::SignalServerProcess>(kServerFlags + extra);
  if (!server.process->isListening()) {
    const QByteArray output = server.newLog();
    std::printf("  lunor-signal did not start: %s\n", output.trimmed().right(300).constData());
    return std::nullopt;
  }
  return server;
}

}  // namespace lunor::bench::load
