// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A display whose size this program may set: the separate session's own
// screen, never the physical one.

#include <algorithm>

#include <QSize>

namespace lunor {

class ScreenResizer {
 public:
  virtual ~ScreenResizer() = default;
  // Sizes the whole screen to `size`; false when the display cannot.
  // Asking for the size it has already costs nothing.
  virtual bool resize(QSize size) = 0;
};

// The screen size to give a client whose view measures `asked`: its shape,
// no larger than `box` (the quality profile's picture) and no smaller than
// kMinSide on either side, the width a multiple of 8 and the height even
// (what encoders and X servers take without padding).
inline constexpr int kMinScreenSide = 480;
inline QSize fitScreenSize(QSize asked, QSize box) {
  double w = std::max(asked.width(), 1), h = std::max(asked.height(), 1);
  const double up = std::max({1.0, kMinScreenSide / w, kMinScreenSide / h});
  w *= up;
  h *= up;
  const double down = std::min({1.0, box.width() / w, box.height() / h});
  w *= down;
  h *= down;
  return {std::max(kMinScreenSide, int(w) / 8 * 8), std::max(kMinScreenSide, int(h) / 2 * 2)};
}

}  // namespace lunor
