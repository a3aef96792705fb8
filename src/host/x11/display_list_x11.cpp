// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/x11/display_list_x11.h"

#include <algorithm>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace lunor {

DisplayListX11::DisplayListX11() {
  if (!connection_.isOpen()) return;
  Display* display = connection_.display();
  int errorBase = 0;
  if (XRRQueryExtension(display, &randrEventBase_, &errorBase)) {
    XRRSelectInput(display, DefaultRootWindow(display),
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  } else {
    randrEventBase_ = -1;
  }
  // Monitors set or removed (xrandr --setmonitor) come as a ConfigureNotify
  // of the root window, not as a RandR event.
  XSelectInput(display, DefaultRootWindow(display), StructureNotifyMask);
}

void DisplayListX11::refreshIfChanged() {
  Display* display = connection_.display();
  // Reads what the server has already sent, without waiting for more.
  while (XEventsQueued(display, QueuedAfterReading) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    XRRUpdateConfiguration(&event);
    stale_ = true;
  }
  if (stale_) reload();
}

void DisplayListX11::reload() {
  stale_ = false;
  cached_.clear();
  primary_ = 0;
  Display* display = connection_.display();
  int count = 0;
  XRRMonitorInfo* monitors = randrEventBase_ >= 0
                                 ? XRRGetMonitors(display, DefaultRootWindow(display), True, &count)
                                 : nullptr;
  if (!monitors || count <= 0) {
    if (monitors) XRRFreeMonitors(monitors);
    // No RandR monitors: the whole root window is the one display.
    Screen* screen = DefaultScreenOfDisplay(display);
    cached_.push_back({1, WidthOfScreen(screen), HeightOfScreen(screen),
                       QRect(0, 0, WidthOfScreen(screen), HeightOfScreen(screen))});
    return;
  }
  for (int i = 0; i < count; ++i) {
    const XRRMonitorInfo& m = monitors[i];
    const auto id = static_cast<uint32_t>(m.name);
    cached_.push_back({id, m.width, m.height, QRect(m.x, m.y, m.width, m.height)});
    if (m.primary) primary_ = id;
  }
  XRRFreeMonitors(monitors);
  // The server lists monitors in no useful order; left to right (then top to
  // bottom) is stable and reads as "Écran 1, Écran 2" the way they stand.
  std::stable_sort(cached_.begin(), cached_.end(), [](const auto& a, const auto& b) {
    return a.bounds.x() != b.bounds.x() ? a.bounds.x() < b.bounds.x() : a.bounds.y() < b.bounds.y();
  });
}

std::vector<DisplayDescription> DisplayListX11::displays() {
  if (!connection_.isOpen()) return {};
  std::lock_guard lock(connection_.mutex());
  refreshIfChanged();
  return cached_;
}

uint32_t DisplayListX11::mainDisplayId() {
  if (!connection_.isOpen()) return 0;
  std::lock_guard lock(connection_.mutex());
  refreshIfChanged();
  if (primary_ != 0) return primary_;
  return cached_.empty() ? 0 : cached_.front().id;
}

}  // namespace lunor
