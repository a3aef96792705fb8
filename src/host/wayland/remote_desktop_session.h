// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A Wayland compositor's remote-desktop session: the picture of one monitor
// as a PipeWire node, and input the compositor injects for us. Implemented
// over GNOME's own D-Bus API (Mutter) and over the desktop portal. A
// Wayland host shares one between its capturer and its injector.

#include <cstdint>
#include <functional>
#include <optional>

#include <QSize>
#include <QString>

namespace lunor {

class RemoteDesktopSession {
 public:
  // The stream of the shared monitor.
  struct Stream {
    uint32_t node = 0;
    int pipeWireFd = -1;  // the portal's connection to PipeWire, handed over; -1: the session's daemon
    QSize size;           // its pixels, when the compositor says
  };
  // Why a start gave no stream.
  enum class Failure {
    NoFailure,
    Error,    // the compositor, the bus or the timeout
    Refused,  // the person at this computer did not let the screen be shared
  };
  using StartDone = std::function<void(std::optional<Stream> stream, Failure failure, const QString& error)>;
  using Closed = std::function<void(const QString& why)>;

  virtual ~RemoteDesktopSession() = default;

  // Shares the monitor named `connector`: a new session, a running one
  // ending first, unless the running one already has that monitor among
  // those a person chose to share (a switch, without asking again). Main
  // thread; `done` comes on the main thread.
  virtual void start(const QString& connector, StartDone done) = 0;
  // Ends the session, if there is one; input is dropped from now on. Main
  // thread.
  virtual void stop() = 0;
  // Called on the main thread when the compositor ends the session itself.
  virtual void setClosedHandler(Closed handler) = 0;
  // Called on the main thread when a start waits for a person to choose
  // what to share, for up to `timeoutMs` (sessions that never ask: never).
  virtual void setChoosingHandler(std::function<void(int timeoutMs)> handler) { Q_UNUSED(handler); }
  // Whether input can be sent now. Any thread.
  virtual bool active() const = 0;

  // ---- input; any thread; dropped without an active session ----
  // Absolute position in the shared stream's pixels.
  virtual void pointerMotion(double x, double y) = 0;
  // evdev button codes (BTN_LEFT…).
  virtual void pointerButton(int button, bool pressed) = 0;
  // Wheel clicks: steps > 0 scroll down (vertical) or right (horizontal).
  virtual void pointerWheel(bool horizontal, int steps) = 0;
  // evdev key codes.
  virtual void keyboardKeycode(int key, bool pressed) = 0;
  virtual void keyboardKeysym(uint32_t keysym, bool pressed) = 0;
};

}  // namespace lunor
