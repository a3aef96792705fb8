// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "system/status_area.h"

class QMenu;
class QSystemTrayIcon;

namespace lunor {

// The status area through Qt's system tray icon: a StatusNotifierItem on
// desktops that watch for them, else the X11 tray protocol. Needs a
// QApplication.
class StatusAreaTray final : public StatusArea {
 public:
  StatusAreaTray();
  ~StatusAreaTray() override;
  bool available() const override;
  void show(std::function<void()> open, std::function<void()> quit) override;

 private:
  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<QSystemTrayIcon> icon_;
};

}  // namespace lunor
