// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <vector>

#include "host/display_list.h"
#include "host/x11/x11_display.h"

namespace lunor {

// RandR monitors, left to right. A monitor's identifier is the atom of its
// name, which the X11 screen capturer uses as its source ID too. The list is
// read once and read again only after the server reports a change, so a
// lookup costs no round trip to the X server. Any thread.
class DisplayListX11 final : public DisplayList {
 public:
  DisplayListX11();
  bool isAvailable() const { return connection_.isOpen(); }
  std::vector<DisplayDescription> displays() override;
  uint32_t mainDisplayId() override;

 private:
  // Both expect the connection's mutex to be held.
  void refreshIfChanged();
  void reload();

  X11Connection connection_;
  int randrEventBase_ = -1;  // -1: no RandR, the root window is the one display
  bool stale_ = true;
  std::vector<DisplayDescription> cached_;
  uint32_t primary_ = 0;
};

}  // namespace lunor
