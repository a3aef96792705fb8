// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A decoded picture (I420, BT.601, video range) as an RGB image, for saving
// one now and then; the view never converts frames on the CPU.

#include <cstdint>
#include <vector>

#include <QImage>

#include "rtc/peer_connection.h"

namespace lunor {

// planes: Y of width x height, U and V of half that (rounded up), packed.
QImage imageFromI420(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height);

// A decoded picture copied out of the decoder's buffers, planes packed.
struct PackedI420 {
  std::vector<uint8_t> y, u, v;
  int width = 0;
  int height = 0;

  // Copies the frame, reusing this picture's memory.
  void copyFrom(const rtc::I420FrameView& frame);
  bool isEmpty() const { return y.empty(); }
  QImage toImage() const { return imageFromI420(y.data(), u.data(), v.data(), width, height); }
};

}  // namespace lunor
