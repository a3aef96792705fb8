// SPDX-License-Identifier: GPL-3.0-or-later
// The server's epoll event dispatcher, under the Qt machinery that runs on
// it: timers, socket notifiers, posted events from other threads, nested
// loops and deferred deletes.

#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include <QElapsedTimer>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QtTest>

#include "epoll_dispatcher.h"

using lunor::signal::EpollEventDispatcher;

class EpollDispatcherTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void installed() {
    QVERIFY(qobject_cast<EpollEventDispatcher*>(QAbstractEventDispatcher::instance()));
  }

  void timersFireInOrderAndRepeat() {
    QStringList fired;
    QTimer::singleShot(60, this, [&] { fired << "60"; });
    QTimer::singleShot(20, this, [&] { fired << "20"; });
    QTimer::singleShot(0, this, [&] { fired << "0"; });
    QTimer repeating;
    int ticks = 0;
    connect(&repeating, &QTimer::timeout, this, [&] { ++ticks; });
    repeating.start(10);
    QTRY_COMPARE(fired, (QStringList{"0", "20", "60"}));
    QTRY_VERIFY(ticks >= 5);
    repeating.stop();
    const int stopped = ticks;
    QTest::qWait(50);
    QCOMPARE(ticks, stopped);
  }

  void timerStoppedInItsOwnHandlerAndOneRestartedThere() {
    QTimer once, restarted;
    int onceCount = 0, restartCount = 0;
    connect(&once, &QTimer::timeout, this, [&] { ++onceCount; once.stop(); });
    connect(&restarted, &QTimer::timeout, this, [&] {
      if (++restartCount < 3) restarted.start(5);
    });
    restarted.setSingleShot(true);
    once.start(5);
    restarted.start(5);
    QTRY_COMPARE(restartCount, 3);
    QTest::qWait(30);
    QCOMPARE(onceCount, 1);
    QCOMPARE(restartCount, 3);
    QCOMPARE(once.remainingTime(), -1);
  }

  // A nested loop inside a timer's handler does not deliver that timer again.
  void nestedLoopDoesNotReenterATimer() {
    QTimer timer;
    int depth = 0, deepest = 0, count = 0;
    connect(&timer, &QTimer::timeout, this, [&] {
      ++count;
      deepest = std::max(deepest, ++depth);
      if (count == 1) QTest::qWait(50);
      --depth;
    });
    timer.start(5);
    QTRY_VERIFY(count >= 3);
    timer.stop();
    QCOMPARE(deepest, 1);
  }

  void socketNotifiersFollowTheDescriptor() {
    int pair[2];
    QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    QSocketNotifier reader(pair[0], QSocketNotifier::Read);
    QSocketNotifier writer(pair[0], QSocketNotifier::Write);
    int reads = 0, writes = 0;
    connect(&reader, &QSocketNotifier::activated, this, [&] {
      char buffer[64];
      while (::read(pair[0], buffer, sizeof buffer) > 0) ++reads;
    });
    connect(&writer, &QSocketNotifier::activated, this, [&] {
      ++writes;
      writer.setEnabled(false);  // writable all the time: told once, then off
    });
    QTRY_COMPARE(writes, 1);
    QCOMPARE(reads, 0);
    QCOMPARE(::write(pair[1], "x", 1), 1);
    QTRY_COMPARE(reads, 1);
    reader.setEnabled(false);
    QCOMPARE(::write(pair[1], "y", 1), 1);
    QTest::qWait(30);
    QCOMPARE(reads, 1);
    reader.setEnabled(true);
    QTRY_COMPARE(reads, 2);
    QCOMPARE(writes, 1);
    ::close(pair[1]);
    ::close(pair[0]);
  }

  // Two ready descriptors; the first one's handler deletes the second's
  // notifier: it is not told.
  void notifierDeletedByAnEarlierHandlerIsNotTold() {
    int a[2], b[2];
    QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, a), 0);
    QCOMPARE(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, b), 0);
    auto* first = new QSocketNotifier(a[0], QSocketNotifier::Read, this);
    auto* second = new QSocketNotifier(b[0], QSocketNotifier::Read, this);
    QPointer<QSocketNotifier> firstAlive(first), secondAlive(second);
    int told = 0;
    char byte;
    connect(first, &QSocketNotifier::activated, this, [&] {
      ++told;
      std::ignore = ::read(a[0], &byte, 1);
      delete secondAlive.data();
    });
    connect(second, &QSocketNotifier::activated, this, [&] {
      ++told;
      std::ignore = ::read(b[0], &byte, 1);
      delete firstAlive.data();
    });
    QCOMPARE(::write(a[1], "x", 1), 1);
    QCOMPARE(::write(b[1], "x", 1), 1);
    QTRY_VERIFY(told >= 1);
    QTest::qWait(30);
    QCOMPARE(told, 1);
    delete firstAlive.data();
    delete secondAlive.data();
    for (int fd : {a[0], a[1], b[0], b[1]}) ::close(fd);
  }

  void eventsPostedFromAnotherThreadWakeTheLoop() {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    // Nothing else wakes this loop before the fallback, 5 s away.
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    std::thread poster([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    poster.join();
    QVERIFY(clock.elapsed() < 4000);
  }

  void deferredDeleteRuns() {
    QPointer<QObject> doomed = new QObject;
    doomed->deleteLater();
    QTRY_VERIFY(doomed.isNull());
  }
};

int main(int argc, char** argv) {
  QCoreApplication::setEventDispatcher(new EpollEventDispatcher);
  QCoreApplication app(argc, argv);
  EpollDispatcherTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "epoll_dispatcher_test.moc"
