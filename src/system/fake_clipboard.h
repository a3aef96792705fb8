// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "system/clipboard.h"

namespace lunor {

// An in-memory clipboard; tests change it as a local user would with
// userCopies(), and see what the session put there in `content`.
class FakeClipboard final : public Clipboard {
 public:
  ClipboardContent read() const override {
    ++reads;
    return content;
  }
  std::optional<QSize> imageSize() const override { return pngSize(content.png); }
  ClipboardContent write(const ClipboardContent& c) override {
    content = c;
    ++writes;
    Q_EMIT changed();  // as a real one does when we take it over
    return c;
  }
  void userCopies(const ClipboardContent& c) {
    content = c;
    Q_EMIT changed();
  }

  ClipboardContent content;
  int writes = 0;
  mutable int reads = 0;
};

}  // namespace lunor
