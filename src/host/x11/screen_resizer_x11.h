// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "host/screen_resizer.h"
#include "host/x11/x11_display.h"

namespace lunor {

// The X server's screen through RandR: its first output shows a mode of the
// asked size, made when the server has none (Xvnc takes any; Xvfb's screen
// keeps its size, and says so by refusing). Any thread.
class ScreenResizerX11 final : public ScreenResizer {
 public:
  ScreenResizerX11() = default;
  bool isAvailable() const { return connection_.isOpen(); }
  bool resize(QSize size) override;

 private:
  X11Connection connection_;
  unsigned long madeMode_ = 0;  // the RandR mode made here and shown now (RRMode); 0: none
};

}  // namespace lunor
