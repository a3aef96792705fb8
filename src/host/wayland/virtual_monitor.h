// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The separate session's screen on Wayland: a monitor the compositor makes
// for as long as a client watches (Mutter's RecordVirtual), at the size
// asked, and takes away when it leaves. The windows wait without a monitor
// in between and come back on the next. It is the one display there is;
// its size is the settings' until a client asks for another, and a new
// size takes effect at the capture's next start.

#include <mutex>

#include <QSize>

#include "host/screen_resizer.h"
#include "host/wayland/wayland_display_list.h"

namespace lunor {

class VirtualMonitor final : public WaylandDisplayList {
 public:
  static constexpr uint32_t kDisplayId = 1;
  // What a remote-desktop session is asked to share for it.
  static inline const QString kConnector = QStringLiteral("lunor-virtual");

  explicit VirtualMonitor(QSize size) : size_(size) {}

  std::vector<DisplayDescription> displays() override {
    const QSize now = size();
    return {{kDisplayId, now.width(), now.height(), QRect(QPoint(0, 0), now)}};
  }
  uint32_t mainDisplayId() override { return kDisplayId; }
  QString connectorOf(uint32_t displayId) const override {
    return displayId == kDisplayId ? kConnector : QString();
  }

  QSize size() const {
    std::lock_guard lock(mutex_);
    return size_;
  }
  void setSize(QSize size) {
    std::lock_guard lock(mutex_);
    if (!size.isEmpty()) size_ = size;
  }

 private:
  mutable std::mutex mutex_;
  QSize size_;
};

// Resizing it is asking the next capture for that size.
class VirtualMonitorResizer final : public ScreenResizer {
 public:
  explicit VirtualMonitorResizer(VirtualMonitor& monitor) : monitor_(monitor) {}
  bool resize(QSize size) override {
    if (size.isEmpty()) return false;
    monitor_.setSize(size);
    return true;
  }

 private:
  VirtualMonitor& monitor_;
};

}  // namespace lunor
