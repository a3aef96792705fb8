// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// An event dispatcher on Linux's epoll, for the signaling server's main
// thread. Qt's own dispatchers hand every registered socket to poll() on
// each pass of the event loop: with ten thousand idle connections a pass
// costs milliseconds whatever is happening, and every message waits for it.
// Here a pass costs what is ready, not what is open.
//
// Timers are kept in milliseconds whatever their type; socket notifiers are
// level-triggered, like poll().

#include <QAbstractEventDispatcher>
#include <QHash>
#include <QList>

#include <map>

namespace lunor::signal {

class EpollEventDispatcher final : public QAbstractEventDispatcher {
  Q_OBJECT
 public:
  explicit EpollEventDispatcher(QObject* parent = nullptr);
  ~EpollEventDispatcher() override;

  // False when the kernel refused an epoll or an eventfd descriptor.
  bool isValid() const { return epoll_ >= 0 && wake_ >= 0; }

  bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
  void registerSocketNotifier(QSocketNotifier* notifier) override;
  void unregisterSocketNotifier(QSocketNotifier* notifier) override;
  void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject* object) override;
  bool unregisterTimer(int timerId) override;
  bool unregisterTimers(QObject* object) override;
  QList<TimerInfo> registeredTimers(QObject* object) const override;
  int remainingTime(int timerId) override;
  void wakeUp() override;
  void interrupt() override;

 private:
  struct Watch {
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
    QSocketNotifier* exception = nullptr;
    quint32 events = 0;  // what epoll watches now
  };
  struct Timer {
    int id = 0;
    qint64 interval = 0;
    Qt::TimerType type = Qt::CoarseTimer;
    QObject* object = nullptr;
    qint64 due = 0;       // monotonic ms
    bool firing = false;  // being delivered: a nested loop does not deliver it again
  };

  void updateWatch(int fd, Watch& watch);
  void unschedule(const Timer& timer);
  // Milliseconds until the next timer is due; -1 without timers.
  int nextTimeout() const;
  int activateTimers();
  void activate(int fd, quint32 events);

  int epoll_ = -1;
  int wake_ = -1;  // an eventfd: posted events and interrupt() write to it
  QAtomicInt interrupted_;
  QAtomicInt wakeUps_;
  QList<QSocketNotifier*> pending_;  // ready, not yet told
  QHash<int, Watch> watches_;
  QHash<int, Timer> timers_;
  std::multimap<qint64, int> schedule_;  // due time → timer id
};

}  // namespace lunor::signal
