// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cmath>

#include <QBuffer>
#include <QImage>

namespace lunor::test {

// The picture as a PNG file's bytes.
inline QByteArray pngBytes(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

// Peak signal-to-noise ratio of two pictures of one size, over R, G and B,
// in dB (99 for equal pictures).
inline double psnr(const QImage& a, const QImage& b) {
  double squared = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)}) squared += d * d;
    }
  }
  const double mse = squared / (3.0 * a.width() * a.height());
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace lunor::test
