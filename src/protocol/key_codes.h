// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// macOS virtual key codes, as they travel in control messages, and how they
// land on a Linux keyboard (US ANSI layout).

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include <Qt>

#include "protocol/input_types.h"

namespace lunor {

struct LinuxKey {
  uint16_t evdev;        // Linux input event code (X keycode = evdev + 8)
  unsigned long keysym;  // what the key types on a US layout, unshifted
  const char* domCode;   // the browser's name of the physical key (KeyboardEvent.code)
};

// Every macOS key code of the table with its key, in no particular order
// (the web client's table is generated from it).
std::vector<std::pair<uint16_t, LinuxKey>> macKeyTable();

// The physical key of a macOS virtual key code; nothing for codes with no
// Linux key (Fn, unassigned codes).
std::optional<LinuxKey> macKeyToLinux(uint16_t macKeyCode);

// The macOS key code of the physical key with this Linux input event code;
// nothing for keys with no macOS code. The inverse of macKeyToLinux.
std::optional<uint16_t> macKeyForEvdev(uint16_t evdev);

// The macOS key code that types `c` on a US ANSI keyboard; 0 (the A key) for
// characters not in the table. Expects lower case.
uint16_t macKeyCodeForCharacter(char16_t c);

struct ModifierKey {
  uint16_t macKeyCode;
  uint32_t flag;  // the platform's event flag mask
};
ModifierKey modifierKey(Modifier modifier);

// Whether `c` (lower case) has a key of its own in the US ANSI table.
bool hasMacKeyCode(char16_t c);

// The macOS virtual key code of the physical key with this X keycode (what
// Qt reports as the native scan code under xcb); nothing for keys with no
// macOS code.
std::optional<uint16_t> macKeyForXKeycode(uint32_t xKeycode);

// Modifier flags as the wire's peers know them (the macOS event flags).
namespace modifier_flags {
inline constexpr uint32_t kShift = 0x20000;
inline constexpr uint32_t kCtrl = 0x40000;
inline constexpr uint32_t kAlt = 0x80000;
inline constexpr uint32_t kCmd = 0x100000;
}  // namespace modifier_flags

// The flags of Qt's keyboard modifiers (Linux's Super key is the command key).
uint32_t modifierFlagsOf(Qt::KeyboardModifiers modifiers);
// The flag a Qt modifier key stands for; 0 for other keys.
uint32_t modifierFlagOfQtKey(int qtKey);

// The keysym (X's and the Wayland compositors' name of a symbol) that types
// one UTF-16 character, the few control characters a client sends among
// them; 0 (no symbol) when there is none.
uint32_t keysymForCharacter(char16_t c);

// Key-up order when every modifier is let go: command, right command,
// control, right control, option, right option, shift, right shift, function.
inline constexpr std::array<uint16_t, 9> kModifierReleaseOrder{55, 54, 59, 62, 58, 61, 56, 60, 63};

}  // namespace lunor
