// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The last stage of the host's input chain: posts local input events on the
// shared display. Positions are pixels, already mapped onto the shared
// display by the stage before (CoordinateMapper), in the injector's
// pointerSpace(). Every call comes
// from the one injection sequence of the session, in the order the client
// acted, so implementations need no locking of their own.

#include <cstdint>

#include <QPoint>

#include "protocol/input_types.h"

namespace lunor {

class ControlInjector {
 public:
  // Where the positions given to the injector are: the desktop's pixels, or
  // the shared display's own (its picture's: 0,0 at its top left).
  enum class PointerSpace { Desktop, Display };

  virtual ~ControlInjector() = default;

  virtual PointerSpace pointerSpace() const { return PointerSpace::Desktop; }

  virtual void movePointer(QPoint p) = 0;
  // Moves to p, then presses or releases the button.
  virtual void button(MouseButton b, bool down, QPoint p) = 0;
  // Moves to p with the button held.
  virtual void drag(MouseButton b, QPoint p) = 0;
  // Moves to p, then scrolls by the client's deltas, in pixels as its
  // platform reports them: dy > 0 turns the wheel down (the view goes down
  // the document), dx > 0 turns it left.
  virtual void scroll(QPoint p, double dx, double dy) = 0;
  // A double click at the pointer's current position. Platforms whose
  // toolkits count clicks by timing press the button only: it becomes the
  // second click of the pair the client sends around it, and the client's
  // next release lets it go.
  virtual void doubleClick(MouseButton b) = 0;
  virtual void setModifier(Modifier modifier, bool down) = 0;
  // keyCode: the macOS virtual key code carried on the wire.
  virtual void keyEvent(uint16_t macKeyCode, bool down) = 0;
  // Types one UTF-16 character (not a surrogate).
  virtual void typeCharacter(char16_t c, bool down) = 0;
  // Releases every modifier key and clears the shared modifier state; safe
  // to call twice.
  virtual void releaseAllModifiers() = 0;
};

// For platforms (or sessions) with nothing to inject into.
class NullControlInjector final : public ControlInjector {
 public:
  void movePointer(QPoint) override {}
  void button(MouseButton, bool, QPoint) override {}
  void drag(MouseButton, QPoint) override {}
  void scroll(QPoint, double, double) override {}
  void doubleClick(MouseButton) override {}
  void setModifier(Modifier, bool) override {}
  void keyEvent(uint16_t, bool) override {}
  void typeCharacter(char16_t, bool) override {}
  void releaseAllModifiers() override {}
};

}  // namespace lunor
