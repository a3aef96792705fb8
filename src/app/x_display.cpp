// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/x_display.h"

#include <X11/Xlib.h>

namespace lunor {

bool xServerAnswers() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  XCloseDisplay(display);
  return true;
}

}  // namespace lunor
