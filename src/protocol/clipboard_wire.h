// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Clipboard contents between the two sides, on the ordered data channel
// "clipboard" (opened only when both announced the feature): a header
//   {"t":"clip","id":7,"text":12,"html":0,"png":0}
// giving each part's size in bytes, then the parts' bytes in that order
// (UTF-8 text, UTF-8 HTML, a PNG file) as binary messages of at most 16 KiB.
// Sizes are checked against the limits before any byte is kept, a picture's
// dimensions before it is decoded.

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QSize>
#include <QString>

#include "protocol/peer_features.h"

namespace lunor {

struct ClipboardContent {
  QString text;
  QString html;    // only beside text, where the source offers it
  QByteArray png;  // a picture, as a PNG file

  bool empty() const { return text.isEmpty() && html.isEmpty() && png.isEmpty(); }
  // Tells one content from another (SHA-256 of the parts).
  QByteArray digest() const;
  bool operator==(const ClipboardContent&) const = default;
};

struct WireMessage {
  QByteArray data;
  bool binary = false;
};

constexpr int kClipboardChunkBytes = 16 * 1024;

// Why `content` may not travel within `limits` (French, for the log), or
// nothing when it may. A picture counts by its decoded size (4 bytes a pixel).
std::optional<QString> clipboardRefusal(const ClipboardContent& content, const PeerFeatures& limits);
// The same for a picture of `size`, `encodedBytes` long as PNG (0: not
// encoded yet).
std::optional<QString> imageRefusal(QSize size, int64_t encodedBytes, const PeerFeatures& limits);

std::vector<WireMessage> encodeClipboard(const ClipboardContent& content, uint32_t id);

// The width and height a PNG file declares, or nothing when it is not one.
std::optional<QSize> pngSize(const QByteArray& png);

// Puts a content back together from the channel's messages, one at a time.
class ClipboardAssembler {
 public:
  enum class Outcome { Pending, Complete, Refused };
  struct Result {
    Outcome outcome = Outcome::Pending;
    ClipboardContent content;  // when Complete
    QString reason;            // when Refused
  };

  explicit ClipboardAssembler(const PeerFeatures& limits) : limits_(limits) {}

  // A header starts a content (dropping one unfinished); the bytes that
  // follow fill it; a refused content's bytes are passed over quietly.
  Result take(const QByteArray& data, bool binary);

 private:
  Result finish();

  PeerFeatures limits_;
  int64_t textBytes_ = 0, htmlBytes_ = 0, pngBytes_ = 0;
  QByteArray received_;
  int64_t expected_ = 0;  // bytes still to come for the current content
  bool refused_ = false;  // ...which are passed over
};

}  // namespace lunor
