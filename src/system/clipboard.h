// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The local clipboard (on X11 the CLIPBOARD selection): what it holds, what
// to put in it, and a signal when someone else changed it.

#include <memory>
#include <optional>

#include <QObject>
#include <QSize>
#include <QString>

#include "protocol/clipboard_wire.h"

namespace lunor {

class Clipboard : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;
  ~Clipboard() override = default;

  // Text (and its HTML where the source offers it), or a picture as PNG;
  // empty when it holds neither.
  virtual ClipboardContent read() const = 0;
  // The size of the picture it holds, if it holds one: asked before read(),
  // which encodes the picture as PNG (a large screenshot takes a while).
  virtual std::optional<QSize> imageSize() const = 0;
  // Replaces what the clipboard holds. Returns the content as read() will
  // give it back (a picture is re-encoded), so that it can be recognised.
  virtual ClipboardContent write(const ClipboardContent& content) = 0;
  // What this desktop does not let us do, said plainly (empty: nothing).
  virtual QString limitation() const { return {}; }

 Q_SIGNALS:
  // Main thread.
  void changed();
};

// The desktop's clipboard through Qt, or one of the process's own when it
// has no graphical session.
std::unique_ptr<Clipboard> createClipboard();

}  // namespace lunor
