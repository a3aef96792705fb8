#pragma once

// Replays the client's pointer and keyboard actions as local input events.
// The full set of actions arrives with the injection work; the session spine
// only needs to let go of held modifiers when a session ends.

namespace lunor {

class ControlInjector {
 public:
  virtual ~ControlInjector() = default;
  // Releases every modifier key the injector has pressed; safe to call twice.
  virtual void releaseAllModifiers() = 0;
};

// For platforms (or sessions) with nothing to inject into.
class NullControlInjector final : public ControlInjector {
 public:
  void releaseAllModifiers() override {}
};

}  // namespace lunor
