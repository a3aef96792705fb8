#pragma once

// A decoded picture (I420, BT.601, video range) as an RGB image, for saving
// one now and then; the view never converts frames on the CPU.

#include <cstdint>

#include <QImage>

namespace lunor {

// planes: Y of width x height, U and V of half that (rounded up), packed.
QImage imageFromI420(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height);

}  // namespace lunor
