// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <map>

#include "host/control_injector.h"
#include "host/wheel_clicks.h"
#include "host/x11/x11_display.h"

namespace lunor {

// Input through the XTEST extension on a private X connection. Key codes
// from the wire are macOS codes, mapped to the same physical key;
// characters without a key are typed through a spare keycode lent to them
// for the press. A double click presses the button once: X toolkits count
// clicks by their timing, so the client's own click before it makes the
// pair.
class ControlInjectorX11 final : public ControlInjector {
 public:
  ControlInjectorX11();
  ~ControlInjectorX11() override;

  // The X server answered and has XTEST.
  bool ready() const { return connection_.isOpen() && xtest_; }
  // Why input cannot be driven (French, for the person); empty when ready.
  QString problem() const;

  void movePointer(QPoint p) override;
  void button(MouseButton b, bool down, QPoint p) override;
  void drag(MouseButton b, QPoint p) override;
  void scroll(QPoint p, double dx, double dy) override;
  void doubleClick(MouseButton b) override;
  void setModifier(Modifier modifier, bool down) override;
  void keyEvent(uint16_t macKeyCode, bool down) override;
  void typeCharacter(char16_t c, bool down) override;
  void releaseAllModifiers() override;

 private:
  // The helpers below expect the connection's mutex to be held.
  void motion(QPoint p);
  void key(unsigned keycode, bool down);
  unsigned xKeycodeForMac(uint16_t macKeyCode) const;
  // Types c through the key (or a spare key) that makes it.
  void typeBySymbol(char16_t c, bool down);
  unsigned bindSpareKey(unsigned long keysym);
  void unbindSpareKey(unsigned keycode);

  X11Connection connection_;
  bool xtest_ = false;
  bool evdevKeycodes_ = true;
  WheelClicks vertical_;
  WheelClicks horizontal_;
  std::map<char16_t, unsigned> boundKeys_;  // characters typed through spare keys
  // The modifier flags the client holds, shared by every injector of the process.
  static std::atomic<uint32_t> sharedModifierState_;
};

}  // namespace lunor
