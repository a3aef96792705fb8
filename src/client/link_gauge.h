// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the client's tool bar says about the link: the rate, picture size
// and frame rate received over the last few seconds, and whether the link
// limits the picture. Only the link's own figures say so: packets go
// missing, the delay grows (queues fill somewhere on the way), or the host
// sends the picture smaller than it did. A coarse picture alone says
// nothing of the link: a busy screen is coarse on any link. Fed the
// receiver's counters at even intervals; main thread.

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
  double delayGrowthMs = 0;  // over the lowest seen on this stream
  bool limited = false;
};

class LinkGauge {
 public:
  static constexpr double kLossPercent = 2;
  // The round trip or the frames' wait in the jitter buffer this much over
  // the lowest seen: a queue on the way.
  static constexpr double kDelayGrowthMs = 100;
  // Clean windows in a row before the indicator goes away.
  static constexpr int kCleanWindows = 2;

  // The reading of the window that ends with `counters`, `seconds` after
  // the last call; nothing on the first call (no window yet) or when the
  // counters went back (a new stream). A new `context` (the client asked for
  // another profile or display) forgets the largest picture seen.
  std::optional<LinkReading> update(const rtc::ConnectionStats& stats, double seconds, int context);

 private:
  std::optional<rtc::VideoReceiveStats> last_;
  int context_ = 0;
  QSize largest_;  // in this context
  std::optional<double> lowestRttMs_, lowestBufferMs_;  // on this stream
  int clean_ = kCleanWindows;
  bool limited_ = false;
};

// "Réseau limité · 0,9 Mbit/s · 1280×720 · 12 i/s" when limited, the same
// figures without the first part otherwise.
QString linkSummary(const LinkReading& reading);

}  // namespace lunor
