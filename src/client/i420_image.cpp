// SPDX-License-Identifier: GPL-3.0-or-later
#include "client/i420_image.h"

#include <algorithm>
#include <cstring>

namespace lunor {

QImage imageFromI420(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height) {
  if (!y || !u || !v || width <= 0 || height <= 0) return {};
  QImage image(width, height, QImage::Format_RGB32);
  const int chromaWidth = (width + 1) / 2;
  auto clamp = [](int value) { return std::clamp(value >> 8, 0, 255); };
  for (int row = 0; row < height; ++row) {
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(row));
    const uint8_t* luma = y + size_t(row) * width;
    const uint8_t* cb = u + size_t(row / 2) * chromaWidth;
    const uint8_t* cr = v + size_t(row / 2) * chromaWidth;
    for (int x = 0; x < width; ++x) {
      // BT.601, video range, in 8.8 fixed point.
      const int c = 298 * (luma[x] - 16);
      const int d = cb[x / 2] - 128;
      const int e = cr[x / 2] - 128;
      out[x] = qRgb(clamp(c + 409 * e + 128), clamp(c - 100 * d - 208 * e + 128), clamp(c + 516 * d + 128));
    }
  }
  return image;
}

void PackedI420::copyFrom(const rtc::I420FrameView& frame) {
  width = frame.width;
  height = frame.height;
  const int cw = (frame.width + 1) / 2;
  const int ch = (frame.height + 1) / 2;
  y.resize(size_t(frame.width) * frame.height);
  u.resize(size_t(cw) * ch);
  v.resize(size_t(cw) * ch);
  for (int row = 0; row < frame.height; ++row) {
    std::memcpy(&y[size_t(row) * frame.width], frame.y + size_t(row) * frame.strideY, size_t(frame.width));
  }
  for (int row = 0; row < ch; ++row) {
    std::memcpy(&u[size_t(row) * cw], frame.u + size_t(row) * frame.strideU, size_t(cw));
    std::memcpy(&v[size_t(row) * cw], frame.v + size_t(row) * frame.strideV, size_t(cw));
  }
}

}  // namespace lunor
