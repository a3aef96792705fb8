// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reads the screen through the WebRTC library's desktop capturer, one monitor
// at a time, with the cursor drawn in. This header is safe to include
// anywhere: it does not pull in the library's headers.

#include <cstdint>
#include <memory>
#include <string>

#include "rtc/peer_connection.h"

namespace lunor::rtc {

class DesktopGrabber {
 public:
  enum class Result {
    Changed,    // the picture changed since the last read
    Unchanged,  // same picture as before (the server reported no damage)
    TryAgain,   // nothing this time; the next read may succeed
    Failed,     // the capturer cannot go on
  };

  virtual ~DesktopGrabber() = default;
  // Reads the monitor once. On Changed and Unchanged, `frame` shows the whole
  // picture as BGRA, scaled to width x height when that differs from the
  // monitor's size (0 keeps the monitor's size); it stays valid until the
  // next call. Runs on one thread at a time, never the main one by necessity.
  virtual Result grab(int width, int height, VideoFrameView& frame) = 0;
};

// A grabber for the X11 RandR monitor whose name atom is `monitorId`. Null
// when there is no X server (`error` says so) or no such monitor (`error`
// is left empty).
std::unique_ptr<DesktopGrabber> createX11DesktopGrabber(uint32_t monitorId, std::string* error);

}  // namespace lunor::rtc
