// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/wayland/control_injector_wayland.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include <QChar>

#include "host/wayland/remote_desktop_session.h"
#include "protocol/key_codes.h"

namespace lunor {
namespace {

// evdev's pointer buttons.
constexpr int kButtonLeft = 0x110, kButtonRight = 0x111, kButtonMiddle = 0x112;

int evdevButton(MouseButton b) {
  switch (b) {
    case MouseButton::Right: return kButtonRight;
    case MouseButton::Middle: return kButtonMiddle;
    case MouseButton::Left: break;
  }
  return kButtonLeft;
}

}  // namespace

void ControlInjectorWayland::movePointer(QPoint p) {
  pointer_ = p;
  session_.pointerMotion(p.x(), p.y());
}

void ControlInjectorWayland::pointerTo(QPoint p) {
  if (p == pointer_) return;
  movePointer(p);
  std::this_thread::sleep_for(std::chrono::milliseconds(kEnterWaitMs));  // our own input thread
}

void ControlInjectorWayland::button(MouseButton b, bool down, QPoint p) {
  pointerTo(p);
  session_.pointerButton(evdevButton(b), down);
}

void ControlInjectorWayland::drag(MouseButton, QPoint p) { movePointer(p); }

void ControlInjectorWayland::scroll(QPoint p, double dx, double dy) {
  movePointer(p);
  // Wheel up for −dy > 0, left for dx > 0, as on X11; the compositor's
  // steps go down and right.
  const int up = vertical_.add(-dy);
  const int left = horizontal_.add(dx);
  if (up != 0) session_.pointerWheel(/*horizontal=*/false, -up);
  if (left != 0) session_.pointerWheel(/*horizontal=*/true, -left);
}

void ControlInjectorWayland::doubleClick(MouseButton b) {
  // Toolkits count clicks by their timing: the client's own click before
  // this press makes the pair, and its next release lets it go.
  session_.pointerButton(evdevButton(b), true);
}

void ControlInjectorWayland::key(uint16_t macKeyCode, bool down) {
  if (const auto physical = macKeyToLinux(macKeyCode)) session_.keyboardKeycode(physical->evdev, down);
}

void ControlInjectorWayland::setModifier(Modifier modifier, bool down) {
  const ModifierKey mac = modifierKey(modifier);
  if (down) {
    modifiers_ |= mac.flag;
  } else {
    modifiers_ &= ~mac.flag;
  }
  key(mac.macKeyCode, down);
}

void ControlInjectorWayland::keyEvent(uint16_t macKeyCode, bool down) { key(macKeyCode, down); }

void ControlInjectorWayland::typeCharacter(char16_t c, bool down) {
  if (QChar::isSurrogate(c)) return;
  const char16_t lower = QChar(c).toLower().unicode();
  if (modifiers_.load() != 0 && hasMacKeyCode(lower)) {
    // With a modifier held, shortcuts resolve by key, not by character.
    key(macKeyCodeForCharacter(lower), down);
    return;
  }
  if (const uint32_t keysym = keysymForCharacter(c)) session_.keyboardKeysym(keysym, down);
}

void ControlInjectorWayland::releaseAllModifiers() {
  for (uint16_t mac : kModifierReleaseOrder) key(mac, false);
  modifiers_ = 0;
}

}  // namespace lunor
