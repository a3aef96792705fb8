#pragma once

// A thread of our own for calls that may block (a Secret Service that asks
// to unlock the keyring, a sound server that is slow to answer), so that
// they never hold up an event loop. Calls run one at a time, in order.

#include <functional>
#include <memory>

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QThread>

namespace lunor {

class WorkerThread final {
 public:
  explicit WorkerThread(const QString& name);
  // Waits for the call under way; calls queued behind it are dropped.
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Runs `call` on the worker's thread. Any thread.
  void post(std::function<void()> call);

  // Runs `work` on the worker's thread, then `done` with its result on the
  // thread of `context`. The context must outlive the worker (the worker is
  // one of its members): what the worker has posted to it goes with it.
  template <typename T>
  void run(QObject* context, std::function<T()> work, std::function<void(T)> done) {
    post([context, work = std::move(work), done = std::move(done)]() mutable {
      T value = work();
      QMetaObject::invokeMethod(
          context, [value = std::move(value), done = std::move(done)]() mutable { done(std::move(value)); },
          Qt::QueuedConnection);
    });
  }

 private:
  QThread thread_;
  std::unique_ptr<QObject> receiver_;  // lives on thread_: runs the calls
};

}  // namespace lunor
