// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/input_tracker.h"

namespace lunor {

void InputTracker::movePointer(QPoint p) {
  pointer_ = p;
  inner_.movePointer(p);
}

void InputTracker::button(MouseButton b, bool down, QPoint p) {
  pointer_ = p;
  if (down) {
    buttons_.insert(b);
  } else {
    buttons_.erase(b);
  }
  inner_.button(b, down, p);
}

void InputTracker::drag(MouseButton b, QPoint p) {
  pointer_ = p;
  inner_.drag(b, p);
}

void InputTracker::scroll(QPoint p, double dx, double dy) {
  pointer_ = p;
  inner_.scroll(p, dx, dy);
}

void InputTracker::doubleClick(MouseButton b) {
  // Counted as a press: where the platform presses only, the client's
  // release that follows (or releaseAll) lets it go; elsewhere the extra
  // release is harmless.
  buttons_.insert(b);
  inner_.doubleClick(b);
}

void InputTracker::setModifier(Modifier modifier, bool down) { inner_.setModifier(modifier, down); }

void InputTracker::keyEvent(uint16_t macKeyCode, bool down) {
  if (down) {
    keys_.insert(macKeyCode);
  } else {
    keys_.erase(macKeyCode);
  }
  inner_.keyEvent(macKeyCode, down);
}

void InputTracker::typeCharacter(char16_t c, bool down) {
  if (down) {
    characters_.insert(c);
  } else {
    characters_.erase(c);
  }
  inner_.typeCharacter(c, down);
}

void InputTracker::releaseAllModifiers() { inner_.releaseAllModifiers(); }

void InputTracker::releaseAll() {
  for (char16_t c : std::exchange(characters_, {})) inner_.typeCharacter(c, false);
  for (uint16_t key : std::exchange(keys_, {})) inner_.keyEvent(key, false);
  for (MouseButton b : std::exchange(buttons_, {})) inner_.button(b, false, pointer_);
  inner_.releaseAllModifiers();
}

}  // namespace lunor
