// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The input vocabulary of control messages: buttons and modifiers as the
// wire names them.

#include <optional>

#include <QString>

namespace lunor {

enum class MouseButton { Left, Right, Middle };

// The wire's button numbers: 1 secondary, 2 middle, anything else primary.
inline MouseButton mouseButtonFromWire(int b) {
  if (b == 1) return MouseButton::Right;
  if (b == 2) return MouseButton::Middle;
  return MouseButton::Left;
}

enum class Modifier { Shift, Alt, Ctrl, Cmd };

// "shift", "alt", "ctrl" or "cmd", matched exactly; nothing for other names.
std::optional<Modifier> modifierFromName(const QString& name);
QString modifierName(Modifier modifier);

}  // namespace lunor
