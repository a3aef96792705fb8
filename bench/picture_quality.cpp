// SPDX-License-Identifier: GPL-3.0-or-later
#include "picture_quality.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace lunor::bench {

namespace {

// picture resampled to width × height (bilinear, centres aligned).
LumaPicture scaled(const LumaPicture& picture, int width, int height) {
  LumaPicture out{width, height, std::vector<uint8_t>(size_t(width) * size_t(height))};
  const double sx = double(picture.width) / width, sy = double(picture.height) / height;
  for (int y = 0; y < height; ++y) {
    const double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, double(picture.height - 1));
    const int y0 = int(fy), y1 = std::min(y0 + 1, picture.height - 1);
    const double wy = fy - y0;
    const uint8_t* r0 = picture.y.data() + size_t(y0) * size_t(picture.width);
    const uint8_t* r1 = picture.y.data() + size_t(y1) * size_t(picture.width);
    for (int x = 0; x < width; ++x) {
      const double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, double(picture.width - 1));
      const int x0 = int(fx), x1 = std::min(x0 + 1, picture.width - 1);
      const double wx = fx - x0;
      const double top = r0[x0] * (1 - wx) + r0[x1] * wx;
      const double bottom = r1[x0] * (1 - wx) + r1[x1] * wx;
      out.y[size_t(y) * size_t(width) + size_t(x)] = uint8_t(std::lround(top * (1 - wy) + bottom * wy));
    }
  }
  return out;
}

}  // namespace

LumaPicture copyLuma(const uint8_t* data, int stride, int width, int height) {
  LumaPicture out{width, height, std::vector<uint8_t>(size_t(width) * size_t(height))};
  for (int y = 0; y < height; ++y) std::memcpy(&out.y[size_t(y) * size_t(width)], data + size_t(y) * size_t(stride), size_t(width));
  return out;
}

std::optional<LumaPicture> grabScreenLuma(const std::string& name) {
  Display* display = XOpenDisplay(name.c_str());
  if (!display) return std::nullopt;
  const int screen = DefaultScreen(display);
  const int width = DisplayWidth(display, screen), height = DisplayHeight(display, screen);
  XImage* image = XGetImage(display, RootWindow(display, screen), 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
  std::optional<LumaPicture> out;
  if (image && image->bits_per_pixel == 32) {
    LumaPicture luma{width, height, std::vector<uint8_t>(size_t(width) * size_t(height))};
    for (int y = 0; y < height; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(image->data + size_t(y) * size_t(image->bytes_per_line));
      for (int x = 0; x < width; ++x) {
        const uint32_t p = row[x];
        const uint32_t r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
        // As the capture's ARGB → I420 conversion does it.
        luma.y[size_t(y) * size_t(width) + size_t(x)] = uint8_t((66 * r + 129 * g + 25 * b + 0x1080) >> 8);
      }
    }
    out = std::move(luma);
  }
  if (image) XDestroyImage(image);
  XCloseDisplay(display);
  return out;
}

Likeness likeness(const LumaPicture& reference, const LumaPicture& received) {
  if (reference.width <= 0 || reference.height <= 0 || received.width <= 0 || received.height <= 0) return {};
  const LumaPicture resized = received.width == reference.width && received.height == reference.height
                                  ? LumaPicture{}
                                  : scaled(received, reference.width, reference.height);
  const LumaPicture& picture = resized.y.empty() ? received : resized;
  const int w = reference.width, h = reference.height;
  const uint8_t* a = reference.y.data();
  const uint8_t* b = picture.y.data();

  double squared = 0;
  for (size_t i = 0; i < reference.y.size(); ++i) {
    const double d = double(a[i]) - double(b[i]);
    squared += d * d;
  }
  Likeness out;
  const double mse = squared / double(reference.y.size());
  out.psnr = mse <= 0 ? 99.0 : std::min(99.0, 10 * std::log10(255.0 * 255.0 / mse));

  constexpr double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
  double sum = 0;
  int windows = 0;
  for (int y = 0; y + 8 <= h; y += 4) {
    for (int x = 0; x + 8 <= w; x += 4) {
      double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
      for (int j = 0; j < 8; ++j) {
        const uint8_t* ra = a + size_t(y + j) * size_t(w) + size_t(x);
        const uint8_t* rb = b + size_t(y + j) * size_t(w) + size_t(x);
        for (int i = 0; i < 8; ++i) {
          sa += ra[i];
          sb += rb[i];
          saa += double(ra[i]) * ra[i];
          sbb += double(rb[i]) * rb[i];
          sab += double(ra[i]) * rb[i];
        }
      }
      const double ma = sa / 64, mb = sb / 64;
      const double va = saa / 64 - ma * ma, vb = sbb / 64 - mb * mb, cov = sab / 64 - ma * mb;
      sum += ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
      ++windows;
    }
  }
  out.ssim = windows ? sum / windows : 1.0;
  return out;
}

}  // namespace lunor::bench
