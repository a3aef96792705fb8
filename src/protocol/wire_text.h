// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Text as it reaches us in bytes, and the one shape of the secrets' digests
// and keys that travel.

#include <cstdint>
#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace lunor {

// The bytes as text, only when they are valid UTF-8.
std::optional<QString> utf8Text(const QByteArray& bytes);

// True for exactly 64 lowercase hexadecimal characters: password digests,
// owner keys and device keys.
bool isHex64(QStringView text);

// The bytes of strict Base64 text (with its padding) when they are exactly
// `size` bytes long; nothing otherwise.
std::optional<QByteArray> base64Bytes(const QString& text, int size);

// Bidirectional embeddings, overrides, isolates and marks: in a name they
// can make the text around them read backwards ("facture\u202Efdp.desktop"
// shows as "facturepdf.desktop"), so names from a peer go without them.
constexpr bool isBidiControl(char16_t u) {
  return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F || u == 0x061C;
}

// A size as the log and the peers' refusals say it: "12.3 Mio".
QString mebibytes(int64_t bytes);

}  // namespace lunor
