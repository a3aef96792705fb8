// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/host_backend.h"

#include <QDBusConnection>

#include "host/wayland/mutter_remote_desktop.h"
#include "host/wayland/portal_remote_desktop.h"
#include "system/session_bus.h"

namespace lunor {

std::optional<HostBackend> hostBackendFromName(const QString& name) {
  if (name == QLatin1String("x11")) return HostBackend::X11;
  if (name == QLatin1String("gnome")) return HostBackend::Gnome;
  if (name == QLatin1String("portal")) return HostBackend::Portal;
  return std::nullopt;
}

QString describe(HostBackend backend) {
  switch (backend) {
    case HostBackend::Gnome:
      return QStringLiteral("Wayland (GNOME)");
    case HostBackend::Portal:
      return QStringLiteral("Wayland (portail)");
    case HostBackend::X11:
      break;
  }
  return QStringLiteral("X11");
}

HostBackend chooseHostBackend(std::optional<HostBackend> requested, QString* why) {
  if (requested) {
    if (why) *why = QStringLiteral("demandé en ligne de commande");
    return *requested;
  }
  const bool wayland = qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
                       !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
  if (!wayland) {
    if (why) *why = QStringLiteral("session X11");
    return HostBackend::X11;
  }
  if (sessionBusExists() && MutterRemoteDesktop::isAvailable(QDBusConnection::sessionBus())) {
    if (why) *why = QStringLiteral("session Wayland, le bureau à distance de GNOME répond");
    return HostBackend::Gnome;
  }
  if (sessionBusExists() && PortalRemoteDesktop::isAvailable(QDBusConnection::sessionBus())) {
    if (why) *why = QStringLiteral("session Wayland, le bureau à distance du portail de bureau répond");
    return HostBackend::Portal;
  }
  if (why) *why = QStringLiteral("session Wayland sans bureau à distance reconnu : seules les fenêtres XWayland");
  return HostBackend::X11;
}

}  // namespace lunor
