// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "system/event_sound.h"
#include "system/worker_thread.h"

namespace lunor {

// Event sounds through libcanberra, from the freedesktop sound theme
// ("message-new-instant" for a join request). The context is made and used
// on a thread of its own: opening it connects to the sound server.
class CanberraEventSound final : public EventSound {
 public:
  CanberraEventSound();
  ~CanberraEventSound() override;
  void joinRequest() override;

 private:
  struct Context;
  std::unique_ptr<Context> context_;  // used on worker_'s thread only
  WorkerThread worker_;               // last: stops before the context goes
};

}  // namespace lunor
