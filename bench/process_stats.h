// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// CPU and memory of other processes, from /proc.

#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>

#include <unistd.h>

namespace lunor::bench {

// User plus system CPU seconds the process has used.
inline double processCpuSeconds(qint64 pid) {
  QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!file.open(QIODevice::ReadOnly)) return 0;
  const QByteArray text = file.readAll();
  const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
  if (fields.size() < 13) return 0;
  // Fields 14 and 15 of the line: utime and stime, in clock ticks.
  return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// Resident memory in MiB ("VmHWM:" for the peak).
inline double processRssMiB(qint64 pid, const QByteArray& key = "VmRSS:") {
  QFile file(QStringLiteral("/proc/%1/status").arg(pid));
  if (!file.open(QIODevice::ReadOnly)) return 0;
  // No size to go by in /proc: read it whole.
  for (const QByteArray& line : file.readAll().split('\n')) {
    if (line.startsWith(key)) return line.mid(key.size()).trimmed().split(' ').value(0).toDouble() / 1024;
  }
  return 0;
}

// The process and all its descendants.
inline QList<qint64> processTree(qint64 root) {
  QHash<qint64, QList<qint64>> children;
  for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    bool numeric = false;
    const qint64 pid = entry.toLongLong(&numeric);
    if (!numeric) continue;
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) continue;
    const QByteArray text = file.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() > 1) children[fields[1].toLongLong()].append(pid);
  }
  QList<qint64> tree{root};
  for (qsizetype i = 0; i < tree.size(); ++i) tree += children.value(tree[i]);
  return tree;
}

inline double treeCpuSeconds(qint64 root) {
  double sum = 0;
  for (qint64 pid : processTree(root)) sum += processCpuSeconds(pid);
  return sum;
}

}  // namespace lunor::bench
