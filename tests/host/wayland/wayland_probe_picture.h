// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the Wayland probe shows on the screen `index`: bands of colour that
// survive the encoder (broad, saturated, different on every screen), so a
// received frame can be told apart and compared.

#include <QImage>
#include <QPainter>
#include <QSize>

namespace lunor::test {

inline QImage probePicture(QSize size, int index) {
  QImage picture(size, QImage::Format_RGB32);
  QPainter painter(&picture);
  const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::magenta, Qt::cyan, Qt::white, Qt::black};
  const int bands = 8;
  for (int i = 0; i < bands; ++i) {
    const QRect band(i * size.width() / bands, 0, size.width() / bands + 1, size.height());
    painter.fillRect(band, colours[(i + index * 3) % bands]);
  }
  // A grey block whose place tells the screens apart too.
  painter.fillRect(QRect(size.width() / 4 + index * size.width() / 4, size.height() / 3, size.width() / 6,
                         size.height() / 3),
                   QColor(128, 128, 128));
  return picture;
}

}  // namespace lunor::test
