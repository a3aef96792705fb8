// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/worker_thread.h"

namespace lunor {

WorkerThread::WorkerThread(const QString& name)
    : thread_(std::make_unique<QThread>()), receiver_(std::make_unique<QObject>()) {
  thread_->setObjectName(name);
  receiver_->moveToThread(thread_.get());
  thread_->start();
}

WorkerThread::~WorkerThread() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->reporting = false;
  }
  thread_->quit();
  if (thread_->wait(kStopWaitMs)) {
    receiver_.reset();  // with the calls still queued for it
    return;
  }
  // Still in a call that does not return: it goes with the process.
  (void)thread_.release();
  (void)receiver_.release();
}

void WorkerThread::post(std::function<void()> call) {
  QMetaObject::invokeMethod(receiver_.get(), std::move(call), Qt::QueuedConnection);
}

}  // namespace lunor
