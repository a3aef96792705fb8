// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the client's input view turns local events into, apart from Qt's
// event objects so it can be tested alone: positions over the picture,
// modifier changes, click counts, wheel deltas and key codes.

#include <cstdint>
#include <optional>
#include <vector>

#include <QPoint>
#include <QPointF>
#include <QRectF>

#include "protocol/control_message.h"
#include "protocol/key_codes.h"

namespace lunor {

// The normalised position of view point p (bottom-up view space: y upwards) over
// the picture: displayedRect when it has a width, else the view's bounds.
// Points outside are clamped onto the nearest edge (NaN onto the low one);
// x is 0 at the left edge, y 0 at the top edge. (0, 0) when the area is empty.
QPointF normalisedPosition(QPointF p, const QRectF& displayedRect, const QRectF& bounds);

// The "mod" messages from flags `before` to `after`: cmd, then shift, alt,
// ctrl, for those that changed.
std::vector<ControlMessage> modifierChanges(uint32_t before, uint32_t after);

// Counts the clicks of one button the way desktops do: a press soon after
// the previous press of the same button, near it, adds one; anything else
// starts again at 1.
class ClickCounter {
 public:
  ClickCounter(int intervalMs, double distance) : intervalMs_(intervalMs), distance_(distance) {}
  // The click count of this press (1, 2, 3…).
  int press(int button, QPointF position, qint64 timestampMs);

 private:
  int intervalMs_;
  double distance_;
  int button_ = -1;
  QPointF position_;
  qint64 timestampMs_ = 0;
  int count_ = 0;
};

// The scroll deltas the host expects, in pixels with the macOS client's
// signs (dy > 0: the view moves down the document; dx > 0: to the left of
// it), from a Qt wheel event. Trackpads give pixelDelta, which is taken as it
// is; a wheel gives angleDelta, 120 per notch, and a notch is taken as 40
// pixels, the amount an X11 host turns into one wheel click. Qt's deltas are
// positive for scrolling up and left, hence the vertical sign change.
QPointF wheelPixels(QPoint angleDelta, QPoint pixelDelta);

}  // namespace lunor
