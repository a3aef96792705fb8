// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The displays of a Wayland desktop, each also under the name its
// remote-desktop session shares it by (RemoteDesktopSession::start).

#include <cstdint>

#include <QString>

#include "host/display_list.h"

namespace lunor {

class WaylandDisplayList : public DisplayList {
 public:
  // The name of a display for RemoteDesktopSession::start; empty for an
  // unknown identifier. Any thread.
  virtual QString connectorOf(uint32_t displayId) const = 0;
};

}  // namespace lunor
