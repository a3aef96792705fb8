#include "client/i420_image.h"

#include <algorithm>

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

}  // namespace lunor
