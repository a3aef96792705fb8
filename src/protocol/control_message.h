// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The messages of the "control" data channel: the client's pointer and
// keyboard actions, one compact JSON object each with its type in "t".
// Decoding checks every field, so what comes out can be replayed as is.

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include "protocol/input_types.h"

namespace lunor {

struct ControlMessage {
  enum class Type { Move, MouseDown, MouseUp, Drag, DoubleClick, Scroll, KeyDown, KeyUp, Modifier };

  Type type = Type::Move;
  double x = 0;                      // normalised, 0 at the picture's left edge
  double y = 0;                      // normalised, 0 at the picture's top edge
  int button = 0;                    // "b": 0 primary, 1 secondary, 2 middle
  double dx = 0;                     // scroll deltas, pixels as the client's
  double dy = 0;                     //   platform reports them
  std::optional<uint16_t> keyCode;   // macOS virtual key code
  char16_t character = 0;            // "key", typed when there is no keyCode
  lunor::Modifier modifier = lunor::Modifier::Shift;  // "k"
  bool down = false;                 // "d"
  int displayIndex = 0;              // the client's display; the host does not read it

  bool operator==(const ControlMessage&) const = default;
};

// The message in `bytes`, or nothing when it is not one to act on: not a
// JSON object, an unknown or missing "t", a "mod" without a known "k" and a
// boolean "d", a key message with neither a key code (0 to 65535) nor one
// character of at most U+FFFF. Numbers that are absent or not numbers count
// as 0, a "b" that is not an integer as 0; scroll deltas are bounded to what
// a signed 32-bit count of pixels holds.
std::optional<ControlMessage> decodeControlMessage(const QByteArray& bytes);
std::optional<ControlMessage> decodeControlMessage(const QJsonObject& object);

// The compact JSON of the message, with the fields its type carries.
QByteArray encodeControlMessage(const ControlMessage& message);

// Sent by the client once a connection's first picture is on its screen:
// the host stops sending key frames for it. A host that does not know it
// ignores it (an unknown type), and a client that never sends it gets a
// few key frames in the connection's first seconds.
inline constexpr char kPictureShownMessage[] = R"({"t":"picture"})";

// Every "t" a client sends on the channel: ControlMessage::Type's, in
// their order, then the picture's.
std::vector<QString> controlMessageTypeNames();

}  // namespace lunor
