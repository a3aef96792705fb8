// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The stage before the injector that remembers what is held down: buttons,
// keys, typed characters and modifiers. When a session ends it lets go of
// everything still pressed, so a peer lost in the middle of a drag or a key
// press leaves nothing stuck on the host.

#include <set>

#include "host/control_injector.h"

namespace lunor {

class InputTracker final : public ControlInjector {
 public:
  // inner is borrowed and must outlive the tracker.
  explicit InputTracker(ControlInjector& inner) : inner_(inner) {}

  void movePointer(QPoint p) override;
  void button(MouseButton b, bool down, QPoint p) override;
  void drag(MouseButton b, QPoint p) override;
  void scroll(QPoint p, double dx, double dy) override;
  void doubleClick(MouseButton b) override;
  void setModifier(Modifier modifier, bool down) override;
  void keyEvent(uint16_t macKeyCode, bool down) override;
  void typeCharacter(char16_t c, bool down) override;
  void releaseAllModifiers() override;

  // Releases the characters, keys and buttons still held (at the last
  // pointer position), then every modifier. Nothing is held afterwards.
  void releaseAll();

 private:
  ControlInjector& inner_;
  QPoint pointer_;
  std::set<MouseButton> buttons_;
  std::set<uint16_t> keys_;
  std::set<char16_t> characters_;
};

}  // namespace lunor
