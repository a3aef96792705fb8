// SPDX-License-Identifier: GPL-3.0-or-later
#include "event_log.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include <QDateTime>
#include <QHash>

#include "monotonic_clock.h"

namespace lunor::signal {
namespace {

QString quoted(const QString& value) {
  if (!value.isEmpty() && !value.contains(QLatin1Char(' ')) && !value.contains(QLatin1Char('"')) &&
      !value.contains(QLatin1Char('='))) {
    return value;
  }
  QString escaped = value;
  escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
  escaped.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
  return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QByteArray format(const QString& event, const LogFields& fields) {
  QString line = QStringLiteral("ts=") + QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) +
                 QStringLiteral(" event=") + event;
  for (const auto& [key, value] : fields) line += QLatin1Char(' ') + key + QLatin1Char('=') + quoted(value);
  line += QLatin1Char('\n');
  return line.toUtf8();
}

// The writer: a bounded queue and the thread that empties it into stdout.
class Writer {
 public:
  Writer() : thread_([this] { run(); }) {}
  ~Writer() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    // The thread may be stuck in a write nobody reads: do not wait for it.
    thread_.detach();
  }

  void setCapacity(int lines) {
    std::lock_guard lock(mutex_);
    capacity_ = static_cast<size_t>(std::max(1, lines));
  }
  void push(QByteArray line) {
    {
      std::lock_guard lock(mutex_);
      if (queue_.size() >= capacity_) {
        ++dropped_;
        ++droppedUnreported_;
        return;
      }
      queue_.push_back(std::move(line));
    }
    wake_.notify_one();
  }
  qint64 dropped() {
    std::lock_guard lock(mutex_);
    return dropped_;
  }
  void waitEmpty(int timeoutMs) {
    std::unique_lock lock(mutex_);
    drained_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return queue_.empty() && !writing_; });
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty() && stopping_) return;
      std::deque<QByteArray> batch;
      batch.swap(queue_);
      const qint64 lost = droppedUnreported_;
      droppedUnreported_ = 0;
      writing_ = true;
      lock.unlock();
      if (lost > 0) {
        const QByteArray note = format(QStringLiteral("log-lines-dropped"), {{"count", QString::number(lost)}});
        std::fwrite(note.constData(), 1, static_cast<size_t>(note.size()), stdout);
      }
      for (const QByteArray& line : batch) std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
      std::fflush(stdout);
      lock.lock();
      writing_ = false;
      if (queue_.empty()) drained_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable drained_;
  std::deque<QByteArray> queue_;
  size_t capacity_ = 65536;
  qint64 dropped_ = 0;
  qint64 droppedUnreported_ = 0;
  bool writing_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

Writer& writer() {
  static Writer* instance = new Writer;  // outlives static destruction: late events still log
  return *instance;
}

// Repeats of one event from one address within a window.
struct Repeats {
  struct Entry {
    qint64 windowStart = 0;
    int count = 0;  // beyond the first
    LogFields fields;
    QString event;
  };
  QHash<QString, Entry> entries;
  qint64 windowMs = 10'000;

  void report(Entry& entry) {
    if (entry.count == 0) return;
    LogFields fields = entry.fields;
    fields.append({QStringLiteral("repeated"), QString::number(entry.count)});
    writer().push(format(entry.event, fields));
    entry.count = 0;
  }
  // Reports and forgets the windows that have ended.
  void expire(qint64 now) {
    for (auto it = entries.begin(); it != entries.end();) {
      if (now - it->windowStart >= windowMs) {
        report(*it);
        it = entries.erase(it);
      } else {
        ++it;
      }
    }
  }
};

std::mutex repeatsMutex;
Repeats& repeats() {
  static Repeats* instance = new Repeats;
  return *instance;
}

}  // namespace

void setLogPolicy(const LogPolicy& policy) {
  writer().setCapacity(policy.queueLines);
  std::lock_guard lock(repeatsMutex);
  repeats().windowMs = policy.repeatWindowMs;
}

void logEvent(const QString& event, const LogFields& fields) {
  QString address;
  for (const auto& [key, value] : fields) {
    if (key == QLatin1String("address")) address = value;
  }
  if (!address.isEmpty()) {
    std::lock_guard lock(repeatsMutex);
    Repeats& r = repeats();
    const qint64 now = monotonicMs();
    if (r.entries.size() > 4096) r.expire(now);
    const QString key = event + QLatin1Char('|') + address;
    auto it = r.entries.find(key);
    if (it != r.entries.end() && now - it->windowStart < r.windowMs) {
      ++it->count;
      it->fields = {{QStringLiteral("address"), address}};
      return;
    }
    if (it != r.entries.end()) r.report(*it);
    r.entries.insert(key, {now, 0, {}, event});
  }
  writer().push(format(event, fields));
}

void expireLogRepeats() {
  std::lock_guard lock(repeatsMutex);
  repeats().expire(monotonicMs());
}

void flushLog(int timeoutMs) {
  {
    std::lock_guard lock(repeatsMutex);
    Repeats& r = repeats();
    for (auto& entry : r.entries) r.report(entry);
    r.entries.clear();
  }
  writer().waitEmpty(timeoutMs);
}

qint64 droppedLogLines() { return writer().dropped(); }

}  // namespace lunor::signal
