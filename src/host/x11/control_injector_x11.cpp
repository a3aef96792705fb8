// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/x11/control_injector_x11.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <tuple>

#include "protocol/key_codes.h"

namespace lunor {
namespace {

// X pointer buttons.
constexpr unsigned kLeft = 1, kMiddle = 2, kRight = 3;
constexpr unsigned kWheelUp = 4, kWheelDown = 5, kWheelLeft = 6, kWheelRight = 7;

unsigned xButton(MouseButton b) {
  switch (b) {
    case MouseButton::Right: return kRight;
    case MouseButton::Middle: return kMiddle;
    case MouseButton::Left: break;
  }
  return kLeft;
}

}  // namespace

std::atomic<uint32_t> ControlInjectorX11::sharedModifierState_{0};

ControlInjectorX11::ControlInjectorX11() {
  if (!connection_.isOpen()) return;
  int event = 0, error = 0, major = 0, minor = 0;
  xtest_ = XTestQueryExtension(connection_.display(), &event, &error, &major, &minor);
  // Servers with evdev key numbering put Home at 110 and Up at 111.
  evdevKeycodes_ = XKeysymToKeycode(connection_.display(), XK_Home) == 110 &&
                   XKeysymToKeycode(connection_.display(), XK_Up) == 111;
}

ControlInjectorX11::~ControlInjectorX11() { releaseAllModifiers(); }

QString ControlInjectorX11::problem() const {
  if (!connection_.isOpen()) return QStringLiteral("Aucun serveur X joignable : la souris et le clavier ne peuvent pas être pilotés");
  if (!xtest_) {
    return QStringLiteral("Le serveur X n’a pas l’extension XTEST : la souris et le clavier ne peuvent pas être pilotés");
  }
  return {};
}

// ------------------------------------------------------------------ pointer --

void ControlInjectorX11::motion(QPoint p) {
  XTestFakeMotionEvent(connection_.display(), -1, p.x(), p.y(), CurrentTime);
}

void ControlInjectorX11::movePointer(QPoint p) {
  if (!ready()) return;
  std::lock_guard lock(connection_.mutex());
  motion(p);
  XFlush(connection_.display());
}

void ControlInjectorX11::button(MouseButton b, bool down, QPoint p) {
  if (!ready()) return;
  std::lock_guard lock(connection_.mutex());
  motion(p);
  XTestFakeButtonEvent(connection_.display(), xButton(b), down ? True : False, CurrentTime);
  XFlush(connection_.display());
}

void ControlInjectorX11::drag(MouseButton, QPoint p) {
  // A motion while the button is held is a drag for X.
  movePointer(p);
}

void ControlInjectorX11::scroll(QPoint p, double dx, double dy) {
  if (!ready()) return;
  std::lock_guard lock(connection_.mutex());
  motion(p);
  // Wheel up for −dy > 0 (the view scrolls up), wheel left for dx > 0.
  const int up = vertical_.add(-dy);
  const int left = horizontal_.add(dx);
  auto press = [&](unsigned button, int times) {
    for (int i = 0; i < times; ++i) {
      XTestFakeButtonEvent(connection_.display(), button, True, CurrentTime);
      XTestFakeButtonEvent(connection_.display(), button, False, CurrentTime);
    }
  };
  press(up > 0 ? kWheelUp : kWheelDown, std::abs(up));
  press(left > 0 ? kWheelLeft : kWheelRight, std::abs(left));
  XFlush(connection_.display());
}

void ControlInjectorX11::doubleClick(MouseButton b) {
  if (!ready()) return;
  std::lock_guard lock(connection_.mutex());
  XTestFakeButtonEvent(connection_.display(), xButton(b), True, CurrentTime);
  XFlush(connection_.display());
}

// --------------------------------------------------------------------- keys --

unsigned ControlInjectorX11::xKeycodeForMac(uint16_t macKeyCode) const {
  const auto key = macKeyToLinux(macKeyCode);
  if (!key) return 0;
  if (evdevKeycodes_) return key->evdev + 8;
  // Other numberings: find the key by what it types on a US layout.
  return key->keysym ? XKeysymToKeycode(connection_.display(), key->keysym) : 0;
}

void ControlInjectorX11::key(unsigned keycode, bool down) {
  if (keycode < 8 || keycode > 255) return;
  XTestFakeKeyEvent(connection_.display(), keycode, down ? True : False, CurrentTime);
}

void ControlInjectorX11::setModifier(Modifier modifier, bool down) {
  if (!ready()) return;
  const ModifierKey mac = modifierKey(modifier);
  std::lock_guard lock(connection_.mutex());
  const unsigned keycode = xKeycodeForMac(mac.macKeyCode);
  if (keycode == 0) return;
  if (down) {
    sharedModifierState_ |= mac.flag;
  } else {
    sharedModifierState_ &= ~mac.flag;
  }
  key(keycode, down);
  XFlush(connection_.display());
}

void ControlInjectorX11::keyEvent(uint16_t macKeyCode, bool down) {
  if (!ready()) return;
  std::lock_guard lock(connection_.mutex());
  const unsigned keycode = xKeycodeForMac(macKeyCode);
  if (keycode == 0) return;  // no such key here: dropped
  key(keycode, down);
  XFlush(connection_.display());
}

void ControlInjectorX11::typeCharacter(char16_t c, bool down) {
  if (!ready() || QChar::isSurrogate(c)) return;
  std::lock_guard lock(connection_.mutex());
  const char16_t lower = QChar(c).toLower().unicode();
  if (sharedModifierState_.load() != 0 && hasMacKeyCode(lower)) {
    // With a modifier held, shortcuts resolve by key, not by character.
    key(xKeycodeForMac(macKeyCodeForCharacter(lower)), down);
  } else {
    // A character with no key of its own is typed as itself, with whatever
    // modifiers are held: Ctrl+é stays Ctrl+é.
    typeBySymbol(c, down);
  }
  XFlush(connection_.display());
}

void ControlInjectorX11::typeBySymbol(char16_t c, bool down) {
  Display* display = connection_.display();
  const KeySym sym = keysymForCharacter(c);
  if (sym == NoSymbol) return;
  unsigned keycode = XKeysymToKeycode(display, sym);
  bool shift = false;
  if (keycode != 0) {
    if (XkbKeycodeToKeysym(display, keycode, 0, 0) == sym) {
      shift = false;
    } else if (XkbKeycodeToKeysym(display, keycode, 0, 1) == sym) {
      shift = true;
    } else {
      keycode = 0;  // on a level we cannot reach plainly
    }
  }

  if (keycode == 0) {
    // No key types it: lend a spare key the character for this press.
    if (down) {
      keycode = bindSpareKey(sym);
      if (keycode == 0) return;
      boundKeys_[c] = keycode;
    } else {
      auto it = boundKeys_.find(c);
      if (it == boundKeys_.end()) return;
      keycode = it->second;
    }
  }

  const unsigned shiftKey = XKeysymToKeycode(display, XK_Shift_L);
  if (down) {
    if (shift) key(shiftKey, true);
    key(keycode, true);
  } else {
    key(keycode, false);
    if (shift) key(shiftKey, false);
    if (auto it = boundKeys_.find(c); it != boundKeys_.end() && it->second == keycode) {
      XSync(display, False);  // the release is processed before the key is taken back
      unbindSpareKey(keycode);
      boundKeys_.erase(it);
    }
  }
}

unsigned ControlInjectorX11::bindSpareKey(KeySym sym) {
  Display* display = connection_.display();
  int minKeycode = 0, maxKeycode = 0;
  XDisplayKeycodes(display, &minKeycode, &maxKeycode);
  int perKeycode = 0;
  KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode),
                                    maxKeycode - minKeycode + 1, &perKeycode);
  if (!map) return 0;
  unsigned spare = 0;
  // From the top: low keycodes belong to real keys.
  for (int code = maxKeycode; code >= minKeycode && spare == 0; --code) {
    bool empty = true;
    for (int i = 0; i < perKeycode; ++i) {
      if (map[(code - minKeycode) * perKeycode + i] != NoSymbol) empty = false;
    }
    bool taken = false;
    for (const auto& [character, bound] : boundKeys_) taken |= bound == static_cast<unsigned>(code);
    if (empty && !taken) spare = static_cast<unsigned>(code);
  }
  XFree(map);
  if (spare == 0) return 0;
  KeySym symbols[2] = {sym, sym};
  X11ErrorTrap trap(display);
  XChangeKeyboardMapping(display, static_cast<int>(spare), 2, symbols, 1);
  if (trap.failed()) return 0;
  return spare;
}

void ControlInjectorX11::unbindSpareKey(unsigned keycode) {
  KeySym none[2] = {NoSymbol, NoSymbol};
  X11ErrorTrap trap(connection_.display());
  XChangeKeyboardMapping(connection_.display(), static_cast<int>(keycode), 2, none, 1);
  std::ignore = trap.failed();
}

void ControlInjectorX11::releaseAllModifiers() {
  if (!ready()) return;
  std::lock_guard lock(connection_.mutex());
  for (uint16_t mac : kModifierReleaseOrder) key(xKeycodeForMac(mac), false);
  for (const auto& [character, keycode] : boundKeys_) {
    key(keycode, false);
    unbindSpareKey(keycode);
  }
  boundKeys_.clear();
  sharedModifierState_ = 0;
  XFlush(connection_.display());
}

}  // namespace lunor
