// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What hosting needs from the platform beyond what every session does: the
// shared screen, its displays, and the input that drives them. Borrowed by
// the host's side of a session; must outlive it.

#include <memory>

#include "host/display_list.h"
#include "host/screen_capturer.h"
#include "rtc/peer_connection.h"

namespace lunor {

class ControlInjector;

class HostEnvironment {
 public:
  virtual ~HostEnvironment() = default;
  // The last stage of the host's input chain.
  virtual std::unique_ptr<ControlInjector> createControlInjector() = 0;
  // A capturer feeding `source`.
  virtual std::unique_ptr<ScreenCapturer> createScreenCapturer(std::shared_ptr<rtc::VideoSource> source) = 0;
  // The displays as they are now (identifier, pixel size, desktop bounds).
  // Any thread.
  virtual DisplayList& displays() = 0;
  // Whether this program may drive the mouse and keyboard. Any thread.
  virtual bool mayControlComputer() = 0;
  // Why sharing the screen now would wait for a person at this computer
  // (a dialog of the desktop's choosing the screen); empty when it would
  // not. A client nobody let in (the unattended password) is turned away
  // with it rather than kept waiting for nobody. Main thread.
  virtual QString captureNeedsPerson() { return {}; }
};

}  // namespace lunor
