// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A thread of our own for calls that may block (a Secret Service that asks
// to unlock the keyring, a sound server that is slow to answer), so that
// they never hold up an event loop. Calls run one at a time, in order.

#include <functional>
#include <memory>
#include <mutex>

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QThread>

namespace lunor {

class WorkerThread final {
 public:
  // How long the destructor waits for a call under way.
  static constexpr int kStopWaitMs = 2000;

  explicit WorkerThread(const QString& name);
  // Calls queued behind the one under way are dropped, and nothing is
  // reported any more. The call under way gets kStopWaitMs to return; one
  // that does not (a keyring prompt nobody answers) is left to finish with
  // the process rather than holding up its exit.
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Runs `call` on the worker's thread. Any thread.
  void post(std::function<void()> call);

  // Runs `work` on the worker's thread, then `done` with its result on the
  // thread of `context`, unless the worker has gone by then. The context
  // must outlive the worker (the worker is one of its members).
  template <typename T>
  void run(QObject* context, std::function<T()> work, std::function<void(T)> done) {
    post([shared = shared_, context, work = std::move(work), done = std::move(done)]() mutable {
      T value = work();
      std::lock_guard lock(shared->mutex);
      if (!shared->reporting) return;
      QMetaObject::invokeMethod(
          context, [value = std::move(value), done = std::move(done)]() mutable { done(std::move(value)); },
          Qt::QueuedConnection);
    });
  }

 private:
  struct Shared {
    std::mutex mutex;       // guards reporting
    bool reporting = true;  // false once the worker's owner is going
  };
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  std::unique_ptr<QThread> thread_;
  std::unique_ptr<QObject> receiver_;  // lives on thread_: runs the calls
};

}  // namespace lunor
