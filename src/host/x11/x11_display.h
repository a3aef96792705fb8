// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private connection to the X server, shared by the X11 parts of one object
// and serialised by its mutex: Xlib calls on one Display must not interleave.

#include <memory>
#include <mutex>

#include <QString>

typedef struct _XDisplay Display;

namespace lunor {

class X11Connection final {
 public:
  // Opens the display named by $DISPLAY (or `name`); check isOpen().
  explicit X11Connection(const QString& name = {});
  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  bool isOpen() const { return display_ != nullptr; }
  Display* display() const { return display_; }
  std::mutex& mutex() { return mutex_; }

 private:
  Display* display_ = nullptr;
  std::mutex mutex_;
};

// Catches the X protocol errors of one connection for its lifetime instead
// of letting Xlib exit the process. Use while holding the connection's
// mutex; one trap per connection at a time.
class X11ErrorTrap final {
 public:
  explicit X11ErrorTrap(Display* display);
  ~X11ErrorTrap();
  // True if an X error arrived since construction (syncs with the server).
  bool failed();

 private:
  Display* display_;
};

}  // namespace lunor
