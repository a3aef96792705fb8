// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the client's tool bar says about the link: the rate, picture size
// and frame rate received over the last few seconds, and whether the link
// limits the picture: the host sends it smaller than it did, coarser than on
// a free link, or packets go missing. Fed the receiver's counters at even
// intervals; main thread.

#include <optional>

#include <QSize>
#include <QString>

#include "rtc/rtc_types.h"

namespace lunor {

struct LinkReading {
  double kbps = 0;
  QSize size;
  double fps = 0;
  double meanQp = -1;  // -1: no frame decoded in the window
  double lossPercent = 0;
  bool limited = false;
};

class LinkGauge {
 public:
  // Above this mean quantiser the encoder is short of bits (x264 aims at
  // about 28 on a screen, OpenH264 stops at 35 of its own).
  static constexpr double kCoarseQp = 36;
  static constexpr double kLossPercent = 2;
  // Clean windows in a row before the indicator goes away.
  static constexpr int kCleanWindows = 2;

  // The reading of the window that ends with `counters`, `seconds` after
  // the last call; nothing on the first call (no window yet) or when the
  // counters went back (a new stream). A new `context` (the client asked for
  // another profile or display) forgets the largest picture seen.
  std::optional<LinkReading> update(const rtc::VideoReceiveStats& counters, double seconds, int context);

 private:
  std::optional<rtc::VideoReceiveStats> last_;
  int context_ = 0;
  QSize largest_;  // in this context
  int clean_ = kCleanWindows;
  bool limited_ = false;
};

// "Réseau limité · 0,9 Mbit/s · 1280×720 · 12 i/s" when limited, the same
// figures without the first part otherwise.
QString linkSummary(const LinkReading& reading);

}  // namespace lunor
