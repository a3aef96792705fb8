// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/injection_sequence.h"

#include <pthread.h>

#include "host/control_injector.h"
#include "rtc/playout_room.h"

namespace lunor {

InjectionSequence::InjectionSequence(std::unique_ptr<ControlInjector> injector, DisplayList& displays,
                                     uint32_t displayId, Hooks hooks)
    : injector_(std::move(injector)),
      tracker_(*injector_),
      mapper_(displays),
      displayId_(displayId),
      hooks_(std::move(hooks)),
      thread_([this] { run(); }) {}

InjectionSequence::~InjectionSequence() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void InjectionSequence::post(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
  }
  wake_.notify_one();
}

void InjectionSequence::run() {
  pthread_setname_np(pthread_self(), "lunor-input");
  for (;;) {
    std::function<void()> work;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and everything ran
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
  }
}

void InjectionSequence::receive(const std::string& text, const Epoch::Ticket& arrival) {
  auto message = decodeControlMessage(QByteArray::fromStdString(text));
  if (!message) return;
  rtc::noteViewerInput();  // its pictures go without playout room while the viewer drives
  {
    std::lock_guard lock(mutex_);
    if (queue_.size() >= kMaxQueued) {
      // Faster than anything can be injected: what comes now is dropped, and
      // said once in the log.
      if (!std::exchange(floodLogged_, true) && hooks_.log) {
        hooks_.log(QStringLiteral("⚠️ Trop d’événements de contrôle en attente : les suivants sont ignorés"));
      }
      return;
    }
    floodLogged_ = false;
  }
  post([this, message = *message, arrival] { apply(message, arrival); });
}

void InjectionSequence::setDisplay(uint32_t displayId) {
  post([this, displayId] { displayId_ = displayId; });
}

void InjectionSequence::centrePointer() {
  post([this] { tracker_.movePointer(map(0.5, 0.5)); });
}

void InjectionSequence::releaseAll() {
  post([this] { tracker_.releaseAll(); });
}

QPoint InjectionSequence::map(double x, double y) const {
  return injector_->pointerSpace() == ControlInjector::PointerSpace::Display ? mapper_.displayPixel(displayId_, x, y)
                                                                              : mapper_.hostPixel(displayId_, x, y);
}

void InjectionSequence::apply(const ControlMessage& message, const Epoch::Ticket& arrival) {
  using Type = ControlMessage::Type;
  // Its connection has ended: what the client still had queued is not done
  // (the end's releaseAll() comes after it).
  if (!arrival.isCurrent()) return;
  if (hooks_.mayControl && !hooks_.mayControl()) {
    if (hooks_.log) {
      hooks_.log(QStringLiteral(
          "⚠️ Autorise l'app dans Confidentialité > Accessibilité pour contrôler le Mac."));
    }
    return;
  }
  const MouseButton button = mouseButtonFromWire(message.button);
  switch (message.type) {
    case Type::Move:
      tracker_.movePointer(map(message.x, message.y));
      break;
    case Type::MouseDown:
    case Type::MouseUp: {
      const bool down = message.type == Type::MouseDown;
      tracker_.button(button, down, map(message.x, message.y));
      if (hooks_.buttonEdge) hooks_.buttonEdge(down, arrival);
      break;
    }
    case Type::Drag:
      tracker_.drag(button, map(message.x, message.y));
      break;
    case Type::DoubleClick:
      tracker_.doubleClick(button);
      if (hooks_.log) hooks_.log(QStringLiteral("🔴 Double-clic exécuté"));
      break;
    case Type::Scroll:
      tracker_.scroll(map(message.x, message.y), message.dx, message.dy);
      break;
    case Type::KeyDown:
    case Type::KeyUp:
      if (message.keyCode) {
        tracker_.keyEvent(*message.keyCode, message.down);
      } else {
        tracker_.typeCharacter(message.character, message.down);
      }
      break;
    case Type::Modifier:
      tracker_.setModifier(message.modifier, message.down);
      break;
  }
}

}  // namespace lunor
