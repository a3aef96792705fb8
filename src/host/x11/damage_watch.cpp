// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/x11/damage_watch.h"

#include <poll.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

namespace lunor {

struct DamageWatch::Impl {
  Display* display = nullptr;
  Damage damage = 0;
  int eventBase = 0;
  QRect monitor;

  ~Impl() {
    if (!display) return;
    if (damage) XDamageDestroy(display, damage);
    XCloseDisplay(display);
  }

  // Reads what came; true when some of it touched the monitor.
  bool drain() {
    bool touched = false;
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type != eventBase + XDamageNotify) continue;
      const auto& notify = reinterpret_cast<const XDamageNotifyEvent&>(event);
      const QRect area(notify.area.x, notify.area.y, notify.area.width, notify.area.height);
      if (area.intersects(monitor)) touched = true;
    }
    return touched;
  }
};

DamageWatch::DamageWatch(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

DamageWatch::~DamageWatch() = default;

std::unique_ptr<DamageWatch> DamageWatch::open(const QRect& monitor) {
  auto impl = std::make_unique<Impl>();
  impl->monitor = monitor;
  impl->display = XOpenDisplay(nullptr);
  if (!impl->display) return nullptr;
  int errorBase = 0;
  if (!XDamageQueryExtension(impl->display, &impl->eventBase, &errorBase)) return nullptr;
  // Every rectangle drawn, so that one outside the monitor can be told apart.
  impl->damage = XDamageCreate(impl->display, DefaultRootWindow(impl->display), XDamageReportRawRectangles);
  XSync(impl->display, False);
  return std::unique_ptr<DamageWatch>(new DamageWatch(std::move(impl)));
}

bool DamageWatch::waitForChange(std::chrono::milliseconds timeout) {
  if (impl_->drain()) return true;
  pollfd fd{ConnectionNumber(impl_->display), POLLIN, 0};
  if (poll(&fd, 1, static_cast<int>(std::max<int64_t>(0, timeout.count()))) <= 0) return false;
  return impl_->drain();
}

}  // namespace lunor
