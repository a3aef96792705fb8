// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The host's replay of the client's actions. Every control message goes, in
// arrival order, through one thread of ours and the stages of the input
// chain: decoded (on arrival, on the library's thread), mapped onto the
// shared display, tracked (what is held down), injected. Nothing waits on
// the library's threads, and a modifier can never overtake the click it
// was pressed for.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <QString>

#include "host/coordinate_mapper.h"
#include "host/input_tracker.h"
#include "protocol/control_message.h"
#include "session/epoch.h"

namespace lunor {

class ControlInjector;
class DisplayList;

class InjectionSequence final {
 public:
  // Called on the sequence's thread.
  struct Hooks {
    // Whether this program may drive the computer; asked for every message.
    std::function<bool()> mayControl;
    std::function<void(const QString& line)> log;
    // A button went down (true) or up (false), for a message that arrived
    // during the connection epoch `arrival`.
    std::function<void(bool down, const Epoch::Ticket& arrival)> buttonEdge;
  };

  // displays is borrowed and must outlive the sequence. Messages are mapped
  // onto the display `displayId` until setDisplay().
  InjectionSequence(std::unique_ptr<ControlInjector> injector, DisplayList& displays,
                    uint32_t displayId, Hooks hooks);
  // Runs what is queued, then stops.
  ~InjectionSequence();
  InjectionSequence(const InjectionSequence&) = delete;
  InjectionSequence& operator=(const InjectionSequence&) = delete;

  // One message of the "control" channel, as text, with the epoch of the
  // connection it came on. Any thread; returns at once. Messages that do
  // not decode are dropped without a log; so are those whose connection has
  // ended by the time their turn comes (a client cannot act after its end),
  // and those past kMaxQueued waiting (a flood).
  void receive(const std::string& text, const Epoch::Ticket& arrival);
  static constexpr size_t kMaxQueued = 10'000;
  // Maps the messages queued from now on onto another display. Any thread.
  void setDisplay(uint32_t displayId);
  // Moves the pointer to the centre of the current display. Any thread.
  void centrePointer();
  // Once what is queued has run, releases every button, key and modifier
  // still held. Any thread.
  void releaseAll();

 private:
  void post(std::function<void()> work);
  void run();
  void apply(const ControlMessage& message, const Epoch::Ticket& arrival);
  QPoint map(double x, double y) const;

  std::unique_ptr<ControlInjector> injector_;
  InputTracker tracker_;
  CoordinateMapper mapper_;
  uint32_t displayId_;  // the sequence's thread
  const Hooks hooks_;

  std::mutex mutex_;  // guards the queue and stopping_
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  bool floodLogged_ = false;  // guarded by mutex_: the flood was said
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace lunor
