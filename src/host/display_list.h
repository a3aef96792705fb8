// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

#include "host/screen_capturer.h"

namespace lunor {

// The displays of the machine, in a stable order, and which one is the main one.
class DisplayList {
 public:
  virtual ~DisplayList() = default;
  virtual std::vector<DisplayDescription> displays() = 0;
  // The primary display, else the first; 0 when there is none.
  virtual uint32_t mainDisplayId() = 0;
};

// A fixed list, for tests and for platforms without displays.
class StaticDisplayList final : public DisplayList {
 public:
  explicit StaticDisplayList(std::vector<DisplayDescription> displays = {})
      : displays_(std::move(displays)) {}
  std::vector<DisplayDescription> displays() override { return displays_; }
  uint32_t mainDisplayId() override { return displays_.empty() ? 0 : displays_.front().id; }

 private:
  std::vector<DisplayDescription> displays_;
};

}  // namespace lunor
