// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one lifetime guard for late work of a session's connection. The epoch
// is renewed each time a peer connection is made or closed; every library
// observer and completion carries a ticket of the epoch it was made for, and
// its work runs on the session's thread only while that epoch is current.
// Library events queued before a teardown therefore change nothing after it,
// whatever object now sits at the same address; and work that arrives once
// the session is gone is dropped.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include <QMetaObject>
#include <QObject>

namespace lunor {

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
  }
  Epoch(const Epoch&) = delete;
  Epoch& operator=(const Epoch&) = delete;

  Ticket ticket() const { return Ticket(state_, state_->current.load()); }
  bool isCurrent(const Ticket& ticket) const { return ticket.value_ == state_->current.load(); }
  // Main thread.
  void renew() { ++state_->current; }

 private:
  std::shared_ptr<State> state_;
};

}  // namespace lunor
