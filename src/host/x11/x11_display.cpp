// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/x11/x11_display.h"

#include <atomic>

#include <X11/Xlib.h>

namespace lunor {
namespace {

std::atomic<bool> trappedError{false};

int recordError(Display*, XErrorEvent*) {
  trappedError = true;
  return 0;
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
  trappedError = false;
  previous_ = reinterpret_cast<int (*)(Display*, void*)>(XSetErrorHandler(recordError));
}

X11ErrorTrap::~X11ErrorTrap() {
  XSetErrorHandler(reinterpret_cast<int (*)(Display*, XErrorEvent*)>(previous_));
}

bool X11ErrorTrap::failed() {
  XSync(display_, False);
  return trappedError.load();
}

}  // namespace lunor
