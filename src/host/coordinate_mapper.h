// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Turns normalised coordinates (0..1 across the shared picture, top-left
// origin) into a point of the desktop on the shared display, or of the
// display's own picture: the one place where the client's positions meet
// the host's.

#include <cstdint>

#include <QPoint>
#include <QPointF>
#include <QRectF>

namespace lunor {

class DisplayList;

class CoordinateMapper {
 public:
  // displays is borrowed and must outlive the mapper.
  explicit CoordinateMapper(DisplayList& displays) : displays_(displays) {}

  // The display's bounds (an unknown identifier gives the empty rectangle at
  // the origin), then `map`. Any thread.
  QPointF hostPoint(uint32_t displayId, double x, double y) const;
  // The desktop pixel under hostPoint: rounded down and kept on the display,
  // so x = 1 is its last column rather than the first of its neighbour.
  // Where the pointer goes. Any thread.
  QPoint hostPixel(uint32_t displayId, double x, double y) const;
  // The same point in the display's own pixels (its picture's: 0,0 at its
  // top left, width x height), for platforms whose input speaks of the
  // shared stream. Any thread.
  QPoint displayPixel(uint32_t displayId, double x, double y) const;

  // Clamps x and y to [0, 1] (NaN counts as 1) and scales onto bounds, with
  // no rounding: x = 1 lands one point past the last column. With
  // lunor.host's debug level on, prints the mapping.
  static QPointF map(uint32_t displayId, const QRectF& bounds, double x, double y);

 private:
  DisplayList& displays_;
};

}  // namespace lunor
