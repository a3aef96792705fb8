// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Our consumer of one PipeWire video node: the picture a Wayland
// compositor shares (Mutter's screen cast, or the desktop portal's). It
// negotiates 32-bit BGRx/BGRA at the node's size, takes memory-mapped and
// memfd buffers, and hands each frame to `onFrame` on PipeWire's own thread,
// straight from the buffer (no copy of ours). The compositor sends a frame
// only when the screen changes, and no more often than the rate we ask
// for; nothing here polls.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include <QSize>
#include <QString>

#include "rtc/peer_connection.h"

struct pw_thread_loop;

namespace lunor {

// The picture in one of a buffer's planes, or nothing when the plane's
// chunk does not hold it: its offset, its stride (at least a row's width of
// 32-bit pixels) and its rows must all lie within both the bytes the
// chunk says it fills and the plane's memory. A compositor's mistake (or a
// hostile one) is not read past.
std::optional<rtc::VideoFrameView> planePicture(const void* data, uint32_t maxSize, uint32_t chunkOffset,
                                                uint32_t chunkSize, int32_t chunkStride, int width, int height);

class PipeWireStream final {
 public:
  // On PipeWire's thread; the frame's pixels are valid during the call only.
  using FrameHandler = std::function<void(const rtc::VideoFrameView& frame)>;
  // On PipeWire's thread: the stream failed or the node went away.
  using ErrorHandler = std::function<void(const QString& why)>;

  PipeWireStream();
  // Stops the stream; no handler runs once it returns.
  ~PipeWireStream();
  PipeWireStream(const PipeWireStream&) = delete;
  PipeWireStream& operator=(const PipeWireStream&) = delete;

  // Connects to `node` through the PipeWire daemon of this session, or
  // through `remoteFd` (the portal's, taken over) when it is 0 or more,
  // asking for at most `maxFps` frames a second, of the size `fixedSize`
  // when valid (a monitor made to the consumer's measure), else of any
  // size. False, with why, when PipeWire cannot be reached.
  bool start(uint32_t node, int remoteFd, int maxFps, FrameHandler onFrame, ErrorHandler onError, QString* why,
             QSize fixedSize = {});
  void stop();
  // Asks the compositor for another frame-rate cap (the format is negotiated
  // again). Any thread.
  void setMaxFrameRate(int fps);

  // Frames handed over since start.
  uint64_t frameCount() const { return frames_.load(); }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::atomic<uint64_t> frames_{0};
};

}  // namespace lunor
