// SPDX-License-Identifier: GPL-3.0-or-later
#include "epoll_dispatcher.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>

#include "monotonic_clock.h"

namespace lunor::signal {
namespace {

constexpr int kMaxEventsPerPass = 512;

}  // namespace

EpollEventDispatcher::EpollEventDispatcher(QObject* parent) : QAbstractEventDispatcher(parent) {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epoll_ < 0 || wake_ < 0) return;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = wake_;
  epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
}

EpollEventDispatcher::~EpollEventDispatcher() {
  if (wake_ >= 0) ::close(wake_);
  if (epoll_ >= 0) ::close(epoll_);
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
  interrupted_.storeRelaxed(0);
  Q_EMIT awake();
  QCoreApplication::sendPostedEvents();

  const bool wait = flags.testFlag(QEventLoop::WaitForMoreEvents) && !interrupted_.loadRelaxed();
  if (wait) Q_EMIT aboutToBlock();
  if (interrupted_.loadRelaxed()) return false;

  // Anything posted meanwhile has written to wake_: the wait ends at once.
  epoll_event events[kMaxEventsPerPass];
  const int ready = epoll_wait(epoll_, events, kMaxEventsPerPass, wait ? nextTimeout() : 0);
  int handled = 0;
  for (int i = 0; i < std::max(ready, 0); ++i) {
    const int fd = events[i].data.fd;
    if (fd == wake_) {
      eventfd_t count = 0;
      eventfd_read(wake_, &count);
      wakeUps_.storeRelease(0);
      continue;
    }
    if (flags.testFlag(QEventLoop::ExcludeSocketNotifiers)) continue;
    auto it = watches_.constFind(fd);
    if (it == watches_.cend()) continue;
    const quint32 e = events[i].events;
    if (it->read && (e & (EPOLLIN | EPOLLHUP | EPOLLERR))) pending_ << it->read;
    if (it->write && (e & (EPOLLOUT | EPOLLHUP | EPOLLERR))) pending_ << it->write;
    if (it->exception && (e & EPOLLPRI)) pending_ << it->exception;
  }
  // One at a time from the member list: a notifier unregistered by an
  // earlier one's handler (its socket closed, its descriptor maybe reused)
  // has been taken out of it.
  while (!pending_.isEmpty()) {
    QSocketNotifier* notifier = pending_.takeFirst();
    QEvent event(QEvent::SockAct);
    QCoreApplication::sendEvent(notifier, &event);
    ++handled;
  }
  if (!flags.testFlag(QEventLoop::X11ExcludeTimers)) handled += activateTimers();
  return handled > 0;
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier* notifier) {
  const int fd = static_cast<int>(notifier->socket());
  Watch& watch = watches_[fd];
  switch (notifier->type()) {
    case QSocketNotifier::Read: watch.read = notifier; break;
    case QSocketNotifier::Write: watch.write = notifier; break;
    case QSocketNotifier::Exception: watch.exception = notifier; break;
  }
  updateWatch(fd, watch);
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier) {
  pending_.removeAll(notifier);
  const int fd = static_cast<int>(notifier->socket());
  auto it = watches_.find(fd);
  if (it == watches_.end()) return;
  if (it->read == notifier) it->read = nullptr;
  if (it->write == notifier) it->write = nullptr;
  if (it->exception == notifier) it->exception = nullptr;
  updateWatch(fd, *it);
}

void EpollEventDispatcher::updateWatch(int fd, Watch& watch) {
  const quint32 wanted = (watch.read ? EPOLLIN : 0u) | (watch.write ? EPOLLOUT : 0u) |
                         (watch.exception ? EPOLLPRI : 0u);
  if (wanted == watch.events && wanted != 0) return;
  epoll_event event{};
  event.events = wanted;
  event.data.fd = fd;
  if (wanted == 0) {
    // A descriptor already closed has left the set by itself: ENOENT, EBADF.
    if (watch.events != 0) epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, &event);
    watches_.remove(fd);
    return;
  }
  int result = epoll_ctl(epoll_, watch.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &event);
  // The same number on a new descriptor (the old one closed while watched), or the reverse.
  if (result < 0 && errno == EEXIST) result = epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
  if (result < 0 && errno == ENOENT) result = epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
  if (result < 0) {
    qWarning("epoll_ctl on descriptor %d failed: %s", fd, strerror(errno));
    return;
  }
  watch.events = wanted;
}

void EpollEventDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject* object) {
  Timer timer;
  timer.id = timerId;
  timer.interval = std::max<qint64>(0, interval);
  timer.type = timerType;
  timer.object = object;
  timer.due = monotonicMs() + timer.interval;
  timers_.insert(timerId, timer);
  schedule_.emplace(timer.due, timerId);
}

void EpollEventDispatcher::unschedule(const Timer& timer) {
  auto [first, last] = schedule_.equal_range(timer.due);
  for (auto it = first; it != last; ++it) {
    if (it->second == timer.id) {
      schedule_.erase(it);
      return;
    }
  }
}

bool EpollEventDispatcher::unregisterTimer(int timerId) {
  auto it = timers_.find(timerId);
  if (it == timers_.end()) return false;
  unschedule(*it);
  timers_.erase(it);
  return true;
}

bool EpollEventDispatcher::unregisterTimers(QObject* object) {
  QList<int> ids;
  for (const Timer& timer : std::as_const(timers_)) {
    if (timer.object == object) ids << timer.id;
  }
  for (int id : ids) unregisterTimer(id);
  return !ids.isEmpty();
}

QList<QAbstractEventDispatcher::TimerInfo> EpollEventDispatcher::registeredTimers(QObject* object) const {
  QList<TimerInfo> infos;
  for (const Timer& timer : timers_) {
    if (timer.object == object) infos.append(TimerInfo(timer.id, static_cast<int>(timer.interval), timer.type));
  }
  return infos;
}

int EpollEventDispatcher::remainingTime(int timerId) {
  auto it = timers_.constFind(timerId);
  if (it == timers_.cend()) return -1;
  return static_cast<int>(std::clamp<qint64>(it->due - monotonicMs(), 0, INT_MAX));
}

int EpollEventDispatcher::nextTimeout() const {
  // A timer being delivered (a nested loop in its handler) is not due again
  // until its handler returns: waiting for it would spin.
  for (const auto& [due, id] : schedule_) {
    if (timers_.value(id).firing) continue;
    return static_cast<int>(std::clamp<qint64>(due - monotonicMs(), 0, INT_MAX));
  }
  return -1;
}

int EpollEventDispatcher::activateTimers() {
  const qint64 now = monotonicMs();
  // The timers due now, each delivered at most once in this pass.
  QList<int> due;
  for (auto it = schedule_.begin(); it != schedule_.end() && it->first <= now; ++it) due << it->second;
  int fired = 0;
  for (int id : due) {
    auto it = timers_.find(id);
    if (it == timers_.end() || it->firing || it->due > now) continue;
    unschedule(*it);
    // The next time keeps the period; a timer that fell behind starts again from now.
    it->due = it->due + it->interval > now ? it->due + it->interval : now + it->interval;
    schedule_.emplace(it->due, id);
    it->firing = true;
    QObject* object = it->object;
    QTimerEvent event(id);
    QCoreApplication::sendEvent(object, &event);
    ++fired;
    // The handler may have stopped it, or stopped and started one under the same ID.
    if (auto again = timers_.find(id); again != timers_.end()) again->firing = false;
  }
  return fired;
}

void EpollEventDispatcher::wakeUp() {
  // Any thread; one write until the loop has read it.
  if (wakeUps_.testAndSetAcquire(0, 1)) eventfd_write(wake_, 1);
}

void EpollEventDispatcher::interrupt() {
  interrupted_.storeRelaxed(1);
  wakeUp();
}

}  // namespace lunor::signal
