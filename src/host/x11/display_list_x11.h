#pragma once

#include <memory>

#include "host/display_list.h"
#include "host/x11/x11_display.h"

namespace lunor {

// RandR monitors, in the server's order. A monitor's identifier is the atom
// of its name, which the X11 screen capturer uses as its source ID too.
class DisplayListX11 final : public DisplayList {
 public:
  DisplayListX11();
  bool isAvailable() const { return connection_.isOpen(); }
  std::vector<DisplayDescription> displays() override;
  uint32_t mainDisplayId() override;

 private:
  X11Connection connection_;
};

}  // namespace lunor
