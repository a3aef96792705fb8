// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Tells a capture loop when the X server's screen changed inside one
// monitor, through XDamage on the root window, over a connection of its own.

#include <chrono>
#include <memory>

#include <QRect>

namespace lunor {

class DamageWatch {
 public:
  // Nothing when there is no X server or no XDamage: the loop then reads
  // the screen on its clock.
  static std::unique_ptr<DamageWatch> open(const QRect& monitor);
  ~DamageWatch();
  DamageWatch(const DamageWatch&) = delete;
  DamageWatch& operator=(const DamageWatch&) = delete;

  // Waits up to `timeout` for a change in the monitor; true when one came
  // (or came before the call). Any one thread.
  bool waitForChange(std::chrono::milliseconds timeout);

 private:
  struct Impl;
  explicit DamageWatch(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace lunor
