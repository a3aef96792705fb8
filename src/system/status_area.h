// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// An icon in the desktop's status area (the system tray) with a small menu,
// so that the application stays within reach while its window is closed.

#include <functional>

namespace lunor {

class StatusArea {
 public:
  virtual ~StatusArea() = default;
  // Whether the desktop has a status area to show the icon in.
  virtual bool available() const = 0;
  // Shows the icon; its menu offers "Ouvrir" (open) and "Quitter" (quit).
  // Main thread.
  virtual void show(std::function<void()> open, std::function<void()> quit) = 0;
};

class NullStatusArea final : public StatusArea {
 public:
  bool available() const override { return false; }
  void show(std::function<void()>, std::function<void()>) override {}
};

}  // namespace lunor
