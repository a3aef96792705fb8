#include "host/x11/display_list_x11.h"

#include <algorithm>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace lunor {

DisplayListX11::DisplayListX11() = default;

std::vector<DisplayDescription> DisplayListX11::displays() {
  std::vector<DisplayDescription> result;
  if (!connection_.isOpen()) return result;
  std::lock_guard lock(connection_.mutex());
  Display* display = connection_.display();
  int count = 0;
  XRRMonitorInfo* monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
  if (!monitors || count <= 0) {
    if (monitors) XRRFreeMonitors(monitors);
    // No RandR monitors: the whole root window is the one display.
    Screen* screen = DefaultScreenOfDisplay(display);
    result.push_back({1, WidthOfScreen(screen), HeightOfScreen(screen),
                      QRect(0, 0, WidthOfScreen(screen), HeightOfScreen(screen))});
    return result;
  }
  for (int i = 0; i < count; ++i) {
    const XRRMonitorInfo& m = monitors[i];
    result.push_back({static_cast<uint32_t>(m.name), m.width, m.height, QRect(m.x, m.y, m.width, m.height)});
  }
  XRRFreeMonitors(monitors);
  // The server lists monitors in no useful order; left to right (then top to
  // bottom) is stable and reads as "Écran 1, Écran 2" the way they stand.
  std::stable_sort(result.begin(), result.end(), [](const auto& a, const auto& b) {
    return a.bounds.x() != b.bounds.x() ? a.bounds.x() < b.bounds.x() : a.bounds.y() < b.bounds.y();
  });
  return result;
}

uint32_t DisplayListX11::mainDisplayId() {
  if (!connection_.isOpen()) return 0;
  uint32_t primary = 0;
  {
    std::lock_guard lock(connection_.mutex());
    Display* display = connection_.display();
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
    for (int i = 0; i < count; ++i) {
      if (monitors[i].primary) primary = static_cast<uint32_t>(monitors[i].name);
    }
    if (monitors) XRRFreeMonitors(monitors);
  }
  if (primary != 0) return primary;
  const auto all = displays();
  return all.empty() ? 0 : all.front().id;
}

}  // namespace lunor
