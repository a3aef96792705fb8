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

double psnr(const uint8_t* a, int strideA, const uint8_t* b, int strideB, int w, int h) {
  double sse = 0;
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const double d = double(a[size_t(r) * strideA + c]) - double(b[size_t(r) * strideB + c]);
      sse += d * d;
    }
  }
  if (sse == 0) return 100;
  return 10 * std::log10(255.0 * 255.0 * double(w) * h / sse);
}

// Mean SSIM over 8x8 blocks.
double ssim(const uint8_t* a, int strideA, const uint8_t* b, int strideB, int w, int h) {
  constexpr double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
  double total = 0;
  int blocks = 0;
  for (int by = 0; by + 8 <= h; by += 8) {
    for (int bx = 0; bx + 8 <= w; bx += 8) {
      double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
      for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
          const double x = a[size_t(by + r) * strideA + bx + c], y = b[size_t(by + r) * strideB + bx + c];
          sa += x, sb += y, saa += x * x, sbb += y * y, sab += x * y;
        }
      }
      const double n = 64, ma = sa / n, mb = sb / n;
      const double va = saa / n - ma * ma, vb = sbb / n - mb * mb, cov = sab / n - ma * mb;
      total += ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
      ++blocks;
    }
  }
  return blocks ? total / blocks : 1;
}

Likeness likeness(const LumaPicture& reference, const LumaPicture& received) {
  if (reference.width <= 0 || reference.height <= 0 || received.width <= 0 || received.height <= 0) return {};
  const bool sameSize = received.width == reference.width && received.height == reference.height;
  const LumaPicture resized = sameSize ? LumaPicture{} : scaled(received, reference.width, reference.height);
  const LumaPicture& picture = sameSize ? received : resized;
  const int w = reference.width, h = reference.height;
  return {psnr(reference.y.data(), w, picture.y.data(), w, w, h), ssim(reference.y.data(), w, picture.y.data(), w, w, h)};
}

LumaPicture shrunk(const uint8_t* data, int stride, int width, int height, int toWidth, int toHeight) {
  LumaPicture out{toWidth, toHeight, std::vector<uint8_t>(size_t(toWidth) * size_t(toHeight))};
  const double sx = double(width) / toWidth, sy = double(height) / toHeight;
  // The share of source sample i in the span [a, b).
  const auto cover = [](int i, double a, double b) { return std::max(0.0, std::min(b, i + 1.0) - std::max(a, double(i))); };
  for (int y = 0; y < toHeight; ++y) {
    const double top = y * sy, bottom = (y + 1) * sy;
    for (int x = 0; x < toWidth; ++x) {
      const double left = x * sx, right = (x + 1) * sx;
      double sum = 0, weight = 0;
      for (int r = int(top); r < std::min(height, int(std::ceil(bottom))); ++r) {
        const double wy = cover(r, top, bottom);
        for (int c = int(left); c < std::min(width, int(std::ceil(right))); ++c) {
          const double w = wy * cover(c, left, right);
          sum += w * data[size_t(r) * size_t(stride) + size_t(c)];
          weight += w;
        }
      }
      out.y[size_t(y) * size_t(toWidth) + size_t(x)] = uint8_t(std::lround(weight > 0 ? sum / weight : 0));
    }
  }
  return out;
}

}  // namespace lunor::bench
