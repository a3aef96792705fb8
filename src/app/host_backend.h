// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Which platform a host shares and drives: X11 (RandR and XTEST, also
// XWayland's windows) or a Wayland desktop through its compositor (GNOME's
// Mutter, or the desktop portal elsewhere: KDE Plasma and the like). Chosen
// from the session at start, unless the command line says.

#include <optional>

#include <QString>

namespace lunor {

enum class HostBackend { X11, Gnome, Portal };

// "x11", "gnome" or "portal"; nothing for other names.
std::optional<HostBackend> hostBackendFromName(const QString& name);
// How the log and the host screen name it.
QString describe(HostBackend backend);

// The backend for this session: `requested` when given; else, when the
// session is Wayland (XDG_SESSION_TYPE, WAYLAND_DISPLAY), GNOME's if
// Mutter's remote desktop answers on the session bus, the portal's if its
// RemoteDesktop interface does; else X11. `why` says what decided, for the
// log.
HostBackend chooseHostBackend(std::optional<HostBackend> requested, QString* why);

}  // namespace lunor
