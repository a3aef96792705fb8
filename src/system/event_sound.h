// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The desktop's event sounds.

namespace lunor {

class EventSound {
 public:
  virtual ~EventSound() = default;
  // The sound of an incoming join request. Returns at once; nothing is
  // heard where there is no sound server. Main thread.
  virtual void joinRequest() = 0;
};

class NullEventSound final : public EventSound {
 public:
  void joinRequest() override {}
};

// Counts what it was asked to play.
class FakeEventSound final : public EventSound {
 public:
  void joinRequest() override { ++joinRequests; }
  int joinRequests = 0;
};

}  // namespace lunor
