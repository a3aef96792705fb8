// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the host's picture lands in the client's view. The rectangles here
// are in the view space: origin at the bottom left, y upwards, in
// points; the Qt Quick items convert at the one place Qt's top-down
// coordinates enter (video_view.cpp and input_view.cpp).

#include <QRectF>
#include <QSize>
#include <QSizeF>

#include "protocol/quality_profile.h"

namespace lunor {

enum class AspectMode { Fit, Fill, Native };

// The picture of vw x vh pixels placed in a W x H container: fitted inside,
// filling it (overhanging equally on one axis), or at its own size,
// centred. When any of the four is not greater than zero (NaN included),
// the whole container. No rounding.
QRectF fittedRect(AspectMode mode, double vw, double vh, double W, double H);

// The smallest rectangle with whole-number origin and size that holds r.
QRectF integral(const QRectF& r);

// The picture's size as the stage knows it: the host's geometry once it has
// come, otherwise the profile's size.
QSizeF stagePictureSize(QSize remoteVideoSize, QualityProfile quality);

// r, given in a space of the given height with y upwards, in Qt's space
// with y downwards (and back: the conversion is its own inverse).
QRectF flipped(const QRectF& r, double height);

}  // namespace lunor
