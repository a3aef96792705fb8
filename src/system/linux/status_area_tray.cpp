// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/linux/status_area_tray.h"

#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace lunor {

StatusAreaTray::StatusAreaTray() = default;

StatusAreaTray::~StatusAreaTray() {
  icon_.reset();  // before the menu it shows
}

bool StatusAreaTray::available() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void StatusAreaTray::show(std::function<void()> open, std::function<void()> quit) {
  menu_ = std::make_unique<QMenu>();
  QObject::connect(menu_->addAction(QStringLiteral("Ouvrir")), &QAction::triggered, menu_.get(),
                   [open = std::move(open)] { open(); });
  QObject::connect(menu_->addAction(QStringLiteral("Quitter")), &QAction::triggered, menu_.get(),
                   [quit = std::move(quit)] { quit(); });
  icon_ = std::make_unique<QSystemTrayIcon>(
      QIcon::fromTheme(QStringLiteral("lunor-remote"), QIcon(QStringLiteral(":/qt/qml/Lunor/Ui/icons/lunor-remote.svg"))));
  icon_->setToolTip(QStringLiteral("Lunor Remote"));
  icon_->setContextMenu(menu_.get());
  // A click on the icon opens the window as "Ouvrir" does.
  QObject::connect(icon_.get(), &QSystemTrayIcon::activated, menu_.get(),
                   [action = menu_->actions().front()](QSystemTrayIcon::ActivationReason reason) {
                     if (reason == QSystemTrayIcon::Trigger) action->trigger();
                   });
  icon_->show();
}

}  // namespace lunor
