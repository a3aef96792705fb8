// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What each side of a session can do beyond the basic protocol, announced
// once on the "control" channel as soon as it opens:
//   {"t":"features","v":1,"features":["clipboard","files"],"clipboardText":1048576,
//    "clipboardImage":16777216}
// A host that shares a desktop of its own rather than the physical screen
// adds "session":"separate" (not a feature both sides need: the client only
// tells its person).
// A peer that does not know the message ignores it (the host ignores unknown
// types, the client every message on its channel), so a feature is used only
// when both sides announced it, within the smaller of the two limits.

#include <cstdint>
#include <optional>

#include <QByteArray>
#include <QJsonObject>
#include <QSize>

namespace lunor {

struct PeerFeatures {
  static constexpr int64_t kClipboardTextMax = 1 << 20;    // bytes of text, and of HTML
  static constexpr int64_t kClipboardImageMax = 16 << 20;  // bytes of the decoded picture

  bool clipboard = false;
  bool files = false;  // files sent on channels of their own
  bool separateSession = false;  // the host's side: its desktop is one of its own
  int64_t clipboardTextMax = kClipboardTextMax;
  int64_t clipboardImageMax = kClipboardImageMax;

  bool operator==(const PeerFeatures&) const = default;
};

// Ours: everything this build can do.
PeerFeatures ourFeatures();

QByteArray encodePeerFeatures(const PeerFeatures& features);
// The announcement in `object`, or nothing when it is not one ("t" other
// than "features"). Unknown feature names are skipped; a limit that is
// missing, not a positive integer or above ours counts as ours.
std::optional<PeerFeatures> decodePeerFeatures(const QJsonObject& object);

// What the two sides may use together, and whether either shares a
// separate session.
PeerFeatures commonFeatures(const PeerFeatures& ours, const PeerFeatures& theirs);

// The client of a host that shares a desktop of its own may ask for that
// desktop's size to fit its view, in pixels, on the same channel:
//   {"t":"screenSize","w":1600,"h":900}
// The host decides what it makes of it (the physical screen never changes).
inline constexpr int kScreenSizeMax = 16384;
QByteArray encodeScreenSizeRequest(QSize size);
// The size asked in `object`, or nothing when it is not such a request or a
// side is not a whole number from 1 to kScreenSizeMax.
std::optional<QSize> decodeScreenSizeRequest(const QJsonObject& object);

}  // namespace lunor
