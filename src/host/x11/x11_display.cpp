// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/x11/x11_display.h"

#include <mutex>
#include <unordered_map>

#include <X11/Xlib.h>

namespace lunor {
namespace {

// One handler for the whole process, installed once: handlers are process
// wide, and swapping them per trap from two threads (input, screen size)
// could put Xlib's own back, which exits, in the middle of another's trap.
// Errors on a trapped connection are recorded for it; others go where they
// went before.
std::mutex trapsMutex;
std::unordered_map<Display*, bool> traps;  // trapped connection → an error arrived
XErrorHandler untrapped = nullptr;

int recordError(Display* display, XErrorEvent* event) {
  {
    std::lock_guard lock(trapsMutex);
    if (const auto trap = traps.find(display); trap != traps.end()) {
      trap->second = true;
      return 0;
    }
  }
  return untrapped ? untrapped(display, event) : 0;
}

}  // namespace

X11Connection::X11Connection(const QString& name) {
  const QByteArray utf8 = name.toLocal8Bit();
  display_ = XOpenDisplay(name.isEmpty() ? nullptr : utf8.constData());
}

X11Connection::~X11Connection() {
  if (display_) XCloseDisplay(display_);
}

X11ErrorTrap::X11ErrorTrap(Display* display) : display_(display) {
  static std::once_flag installed;
  std::call_once(installed, [] { untrapped = XSetErrorHandler(recordError); });
  std::lock_guard lock(trapsMutex);
  traps[display_] = false;
}

X11ErrorTrap::~X11ErrorTrap() {
  std::lock_guard lock(trapsMutex);
  traps.erase(display_);
}

bool X11ErrorTrap::failed() {
  XSync(display_, False);
  std::lock_guard lock(trapsMutex);
  return traps[display_];
}

}  // namespace lunor
