// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one guard for late work: delayed calls, library events, answers from
// other threads. An epoch belongs to an object (its context); whoever
// schedules work keeps a ticket of the current epoch, and the work runs, on
// the context's thread, only while that epoch is still current. The owner
// renews the epoch when what the work was for is over (a session's peer
// connection, its signaling link); an epoch never renewed is the object's
// lifetime, since the epoch goes stale with its object. Work queued before
// a renewal therefore changes nothing after it, whatever object now sits at
// the same address, and work that arrives once the object is gone is dropped.
//
// The one thread check goes with it: LUNOR_REQUIRE_THREAD at every entry point
// that must run on the object's thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include <QMetaObject>
#include <QObject>
#include <QThread>

namespace lunor {

// Asserts (in checking builds) that the caller runs on `object`'s thread.
#define LUNOR_REQUIRE_THREAD(object) \
  Q_ASSERT_X(QThread::currentThread() == (object)->thread(), Q_FUNC_INFO, "called off its object's thread")

class Epoch final {
  struct State {
    std::atomic<uint64_t> current{1};
    std::mutex mutex;            // guards context
    QObject* context = nullptr;  // null once the epoch is gone
  };

 public:
  // What a callback keeps: one epoch, and the way back to the main thread.
  class Ticket {
   public:
    uint64_t value() const { return value_; }
    // Whether this epoch is still the current one. Any thread.
    bool isCurrent() const { return state_->current.load() == value_; }
    // Runs `work` on the session's thread, later, if this epoch is still
    // current then. Any thread.
    void post(std::function<void()> work) const {
      std::lock_guard lock(state_->mutex);
      if (!state_->context) return;
      QMetaObject::invokeMethod(
          state_->context,
          [state = state_, value = value_, work = std::move(work)] {
            if (state->current.load() == value) work();
          },
          Qt::QueuedConnection);
    }

   private:
    friend class Epoch;
    Ticket(std::shared_ptr<State> state, uint64_t value) : state_(std::move(state)), value_(value) {}
    std::shared_ptr<State> state_;
    uint64_t value_;
  };

  // context: the object whose thread runs the work (the session). Borrowed;
  // the epoch must go before it.
  explicit Epoch(QObject& context) : state_(std::make_shared<State>()) { state_->context = &context; }
  ~Epoch() {
    std::lock_guard lock(state_->mutex);
    state_->context = nullptr;
    ++state_->current;  // every ticket is stale once its object has gone
  }
  Epoch(const Epoch&) = delete;
  Epoch& operator=(const Epoch&) = delete;

  Ticket ticket() const { return Ticket(state_, state_->current.load()); }
  bool isCurrent(const Ticket& ticket) const { return ticket.value_ == state_->current.load(); }
  // Main thread. The new epoch's ticket.
  Ticket renew() { return Ticket(state_, ++state_->current); }

 private:
  std::shared_ptr<State> state_;
};

}  // namespace lunor
