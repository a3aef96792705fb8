// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Input on a Wayland desktop, through the compositor's remote-desktop
// session: the pointer at absolute positions in the shared stream's pixels,
// buttons as evdev codes, the wheel in whole clicks, keys as evdev codes of
// the same physical key (our key table), characters with no key of their
// own as keysyms.

#include <atomic>

#include "host/control_injector.h"
#include "host/wheel_clicks.h"

namespace lunor {

class RemoteDesktopSession;

class ControlInjectorWayland final : public ControlInjector {
 public:
  // session is borrowed and must outlive the injector.
  explicit ControlInjectorWayland(RemoteDesktopSession& session) : session_(session) {}

  PointerSpace pointerSpace() const override { return PointerSpace::Display; }
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
  void key(uint16_t macKeyCode, bool down);
  // Puts the pointer at p before a button goes down or up there: the
  // compositor gives the surface under it the pointer only on its next
  // frame, and a button that comes sooner reaches no surface at all.
  void pointerTo(QPoint p);

  static constexpr int kEnterWaitMs = 40;

  RemoteDesktopSession& session_;
  WheelClicks vertical_;
  WheelClicks horizontal_;
  std::atomic<uint32_t> modifiers_{0};  // the flags of the modifiers held
  QPoint pointer_{-1, -1};             // where the pointer was last sent
};

}  // namespace lunor
