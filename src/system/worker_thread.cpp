#include "system/worker_thread.h"

namespace lunor {

WorkerThread::WorkerThread(const QString& name) : receiver_(std::make_unique<QObject>()) {
  thread_.setObjectName(name);
  receiver_->moveToThread(&thread_);
  thread_.start();
}

WorkerThread::~WorkerThread() {
  thread_.quit();
  thread_.wait();
  receiver_.reset();  // with the calls still queued for it
}

void WorkerThread::post(std::function<void()> call) {
  QMetaObject::invokeMethod(receiver_.get(), std::move(call), Qt::QueuedConnection);
}

}  // namespace lunor
