// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/key_codes.h"

#include <unordered_map>

namespace lunor {
namespace {

// X keysyms used below (from X11/keysymdef.h).
constexpr unsigned long kReturn = 0xff0d, kTab = 0xff09, kBackSpace = 0xff08, kEscape = 0xff1b,
                        kDelete = 0xffff, kHome = 0xff50, kLeft = 0xff51, kUp = 0xff52,
                        kRight = 0xff53, kDown = 0xff54, kPageUp = 0xff55, kPageDown = 0xff56,
                        kEnd = 0xff57, kInsert = 0xff63, kMenu = 0xff67, kNumLock = 0xff7f,
                        kKpEnter = 0xff8d, kKpMultiply = 0xffaa, kKpAdd = 0xffab,
                        kKpSubtract = 0xffad, kKpDecimal = 0xffae, kKpDivide = 0xffaf,
                        kKp0 = 0xffb0, kKpEqual = 0xffbd, kF1 = 0xffbe, kShiftL = 0xffe1,
                        kShiftR = 0xffe2, kControlL = 0xffe3, kControlR = 0xffe4,
                        kCapsLock = 0xffe5, kAltL = 0xffe9, kAltR = 0xffea, kSuperL = 0xffeb,
                        kSuperR = 0xffec;

const std::unordered_map<uint16_t, LinuxKey>& table() {
  static const std::unordered_map<uint16_t, LinuxKey> keys = {
      // Letters.
      {0, {30, 'a', "KeyA"}}, {1, {31, 's', "KeyS"}}, {2, {32, 'd', "KeyD"}}, {3, {33, 'f', "KeyF"}},
      {4, {35, 'h', "KeyH"}}, {5, {34, 'g', "KeyG"}}, {6, {44, 'z', "KeyZ"}}, {7, {45, 'x', "KeyX"}},
      {8, {46, 'c', "KeyC"}}, {9, {47, 'v', "KeyV"}}, {11, {48, 'b', "KeyB"}}, {12, {16, 'q', "KeyQ"}},
      {13, {17, 'w', "KeyW"}}, {14, {18, 'e', "KeyE"}}, {15, {19, 'r', "KeyR"}}, {16, {21, 'y', "KeyY"}},
      {17, {20, 't', "KeyT"}}, {31, {24, 'o', "KeyO"}}, {32, {22, 'u', "KeyU"}}, {34, {23, 'i', "KeyI"}},
      {35, {25, 'p', "KeyP"}}, {37, {38, 'l', "KeyL"}}, {38, {36, 'j', "KeyJ"}}, {40, {37, 'k', "KeyK"}},
      {45, {49, 'n', "KeyN"}}, {46, {50, 'm', "KeyM"}},
      // Digits and punctuation.
      {18, {2, '1', "Digit1"}}, {19, {3, '2', "Digit2"}}, {20, {4, '3', "Digit3"}}, {21, {5, '4', "Digit4"}},
      {22, {7, '6', "Digit6"}}, {23, {6, '5', "Digit5"}}, {24, {13, '=', "Equal"}}, {25, {10, '9', "Digit9"}},
      {26, {8, '7', "Digit7"}}, {27, {12, '-', "Minus"}}, {28, {9, '8', "Digit8"}}, {29, {11, '0', "Digit0"}},
      {30, {27, ']', "BracketRight"}}, {33, {26, '[', "BracketLeft"}}, {39, {40, '\'', "Quote"}},
      {41, {39, ';', "Semicolon"}}, {42, {43, '\\', "Backslash"}}, {43, {51, ',', "Comma"}}, {44, {53, '/', "Slash"}},
      {47, {52, '.', "Period"}}, {50, {41, '`', "Backquote"}}, {10, {86, '<', "IntlBackslash"}},
      // Editing and whitespace.
      {36, {28, kReturn, "Enter"}}, {48, {15, kTab, "Tab"}}, {49, {57, ' ', "Space"}},
      {51, {14, kBackSpace, "Backspace"}}, {53, {1, kEscape, "Escape"}}, {117, {111, kDelete, "Delete"}},
      {114, {110, kInsert, "Insert"}}, {110, {127, kMenu, "ContextMenu"}},
      // Modifiers.
      {55, {125, kSuperL, "MetaLeft"}}, {54, {126, kSuperR, "MetaRight"}}, {56, {42, kShiftL, "ShiftLeft"}},
      {60, {54, kShiftR, "ShiftRight"}}, {58, {56, kAltL, "AltLeft"}}, {61, {100, kAltR, "AltRight"}},
      {59, {29, kControlL, "ControlLeft"}}, {62, {97, kControlR, "ControlRight"}}, {57, {58, kCapsLock, "CapsLock"}},
      // Navigation.
      {115, {102, kHome, "Home"}}, {119, {107, kEnd, "End"}}, {116, {104, kPageUp, "PageUp"}},
      {121, {109, kPageDown, "PageDown"}}, {123, {105, kLeft, "ArrowLeft"}}, {124, {106, kRight, "ArrowRight"}},
      {125, {108, kDown, "ArrowDown"}}, {126, {103, kUp, "ArrowUp"}},
      // Function keys F1-F20.
      {122, {59, kF1, "F1"}}, {120, {60, kF1 + 1, "F2"}}, {99, {61, kF1 + 2, "F3"}}, {118, {62, kF1 + 3, "F4"}},
      {96, {63, kF1 + 4, "F5"}}, {97, {64, kF1 + 5, "F6"}}, {98, {65, kF1 + 6, "F7"}}, {100, {66, kF1 + 7, "F8"}},
      {101, {67, kF1 + 8, "F9"}}, {109, {68, kF1 + 9, "F10"}}, {103, {87, kF1 + 10, "F11"}},
      {111, {88, kF1 + 11, "F12"}}, {105, {183, kF1 + 12, "F13"}}, {107, {184, kF1 + 13, "F14"}},
      {113, {185, kF1 + 14, "F15"}}, {106, {186, kF1 + 15, "F16"}}, {64, {187, kF1 + 16, "F17"}},
      {79, {188, kF1 + 17, "F18"}}, {80, {189, kF1 + 18, "F19"}}, {90, {190, kF1 + 19, "F20"}},
      // Keypad.
      {82, {82, kKp0, "Numpad0"}}, {83, {79, kKp0 + 1, "Numpad1"}}, {84, {80, kKp0 + 2, "Numpad2"}},
      {85, {81, kKp0 + 3, "Numpad3"}}, {86, {75, kKp0 + 4, "Numpad4"}}, {87, {76, kKp0 + 5, "Numpad5"}},
      {88, {77, kKp0 + 6, "Numpad6"}}, {89, {71, kKp0 + 7, "Numpad7"}}, {91, {72, kKp0 + 8, "Numpad8"}},
      {92, {73, kKp0 + 9, "Numpad9"}}, {65, {83, kKpDecimal, "NumpadDecimal"}},
      {67, {55, kKpMultiply, "NumpadMultiply"}}, {69, {78, kKpAdd, "NumpadAdd"}}, {71, {69, kNumLock, "NumLock"}},
      {75, {98, kKpDivide, "NumpadDivide"}}, {76, {96, kKpEnter, "NumpadEnter"}},
      {78, {74, kKpSubtract, "NumpadSubtract"}}, {81, {117, kKpEqual, "NumpadEqual"}},
      // Media keys.
      {72, {115, 0x1008ff13, "AudioVolumeUp"}}, {73, {114, 0x1008ff11, "AudioVolumeDown"}},
      {74, {113, 0x1008ff12, "AudioVolumeMute"}},
  };
  return keys;
}

}  // namespace

std::vector<std::pair<uint16_t, LinuxKey>> macKeyTable() { return {table().begin(), table().end()}; }

std::optional<LinuxKey> macKeyToLinux(uint16_t macKeyCode) {
  const auto& keys = table();
  auto it = keys.find(macKeyCode);
  if (it == keys.end()) return std::nullopt;
  return it->second;
}

namespace {

const std::unordered_map<char16_t, uint16_t>& characterTable() {
  static const std::unordered_map<char16_t, uint16_t> characters = [] {
    std::unordered_map<char16_t, uint16_t> map;
    auto add = [&](const char16_t* chars, std::initializer_list<uint16_t> codes) {
      auto code = codes.begin();
      for (const char16_t* p = chars; *p && code != codes.end(); ++p, ++code) map[*p] = *code;
    };
    add(u"asdfhgzxcv", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    add(u"bqweryt", {11, 12, 13, 14, 15, 16, 17});
    add(u"123465=97-80", {18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29});
    add(u"]ou[ip", {30, 31, 32, 33, 34, 35});
    add(u"lj'k;\\,/nm.", {37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47});
    map[u'\r'] = 36;
    map[u'\t'] = 48;
    map[u' '] = 49;
    map[u'`'] = 50;
    map[0x7F] = 51;
    map[0x1B] = 53;
    map[0xF700] = 126;
    map[0xF701] = 125;
    map[0xF702] = 123;
    map[0xF703] = 124;
    return map;
  }();
  return characters;
}

}  // namespace

std::optional<uint16_t> macKeyForEvdev(uint16_t evdev) {
  static const std::unordered_map<uint16_t, uint16_t> inverse = [] {
    std::unordered_map<uint16_t, uint16_t> map;
    for (const auto& [mac, key] : table()) map.emplace(key.evdev, mac);
    return map;
  }();
  auto it = inverse.find(evdev);
  if (it == inverse.end()) return std::nullopt;
  return it->second;
}

uint16_t macKeyCodeForCharacter(char16_t c) {
  auto it = characterTable().find(c);
  return it == characterTable().end() ? 0 : it->second;
}

bool hasMacKeyCode(char16_t c) { return characterTable().contains(c); }

ModifierKey modifierKey(Modifier modifier) {
  switch (modifier) {
    case Modifier::Shift: return {56, 0x20000};
    case Modifier::Alt: return {58, 0x80000};
    case Modifier::Ctrl: return {59, 0x40000};
    case Modifier::Cmd: return {55, 0x100000};
  }
  return {56, 0x20000};
}

std::optional<uint16_t> macKeyForXKeycode(uint32_t xKeycode) {
  if (xKeycode < 8 || xKeycode > 255) return std::nullopt;
  return macKeyForEvdev(static_cast<uint16_t>(xKeycode - 8));
}

uint32_t keysymForCharacter(char16_t c) {
  switch (c) {
    case u'\r': return 0xFF0D;  // Return
    case u'\t': return 0xFF09;  // Tab
    case 0x7F: return 0xFF08;    // BackSpace
    case 0x1B: return 0xFF1B;    // Escape
    case 0xF700: return 0xFF52;  // Up
    case 0xF701: return 0xFF54;  // Down
    case 0xF702: return 0xFF51;  // Left
    case 0xF703: return 0xFF53;  // Right
    default: break;
  }
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return 0;
  if (c < 0x100) return c;
  return 0x01000000u | c;
}

uint32_t modifierFlagsOf(Qt::KeyboardModifiers modifiers) {
  using namespace modifier_flags;
  uint32_t flags = 0;
  if (modifiers & Qt::MetaModifier) flags |= kCmd;
  if (modifiers & Qt::ShiftModifier) flags |= kShift;
  if (modifiers & Qt::AltModifier) flags |= kAlt;
  if (modifiers & Qt::ControlModifier) flags |= kCtrl;
  return flags;
}

uint32_t modifierFlagOfQtKey(int qtKey) {
  using namespace modifier_flags;
  switch (qtKey) {
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R: return kCmd;
    case Qt::Key_Shift: return kShift;
    case Qt::Key_Alt:
    case Qt::Key_AltGr: return kAlt;
    case Qt::Key_Control: return kCtrl;
    default: return 0;
  }
}

}  // namespace lunor
