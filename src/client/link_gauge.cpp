// SPDX-License-Identifier: GPL-3.0-or-later
#include "client/link_gauge.h"

#include <QLocale>

namespace lunor {

std::optional<LinkReading> LinkGauge::update(const rtc::VideoReceiveStats& counters, double seconds, int context) {
  if (context != context_) {
    context_ = context;
    largest_ = QSize();
  }
  const std::optional<rtc::VideoReceiveStats> before = std::exchange(last_, counters);
  if (!before || seconds <= 0 || counters.bytesReceived < before->bytesReceived ||
      counters.framesDecoded < before->framesDecoded || counters.packetsReceived < before->packetsReceived) {
    return std::nullopt;
  }
  LinkReading r;
  r.kbps = double(counters.bytesReceived - before->bytesReceived) * 8 / 1000 / seconds;
  const uint32_t decoded = counters.framesDecoded - before->framesDecoded;
  r.fps = decoded / seconds;
  r.size = QSize(int(counters.frameWidth), int(counters.frameHeight));
  if (decoded > 0 && counters.qpSum >= before->qpSum) r.meanQp = double(counters.qpSum - before->qpSum) / decoded;
  const double received = double(counters.packetsReceived - before->packetsReceived);
  const double lost = double(std::max(0, counters.packetsLost - before->packetsLost));
  if (received + lost > 0) r.lossPercent = 100 * lost / (received + lost);

  const qint64 area = qint64(r.size.width()) * r.size.height();
  const qint64 largestArea = qint64(largest_.width()) * largest_.height();
  if (area > largestArea) largest_ = r.size;
  const bool smaller = area > 0 && area * 10 < largestArea * 9;
  // A few frames are not enough to judge the quantiser (a still screen's refresh).
  const bool coarse = decoded >= 3 && r.meanQp > kCoarseQp;
  const bool lossy = received >= 50 && r.lossPercent > kLossPercent;
  if (smaller || coarse || lossy) {
    limited_ = true;
    clean_ = 0;
  } else if (++clean_ >= kCleanWindows) {
    limited_ = false;
  }
  r.limited = limited_;
  return r;
}

QString linkSummary(const LinkReading& reading) {
  const QLocale french(QLocale::French, QLocale::France);
  QString text = reading.kbps >= 1000 ? french.toString(reading.kbps / 1000, 'f', 1) + QStringLiteral(" Mbit/s")
                                      : french.toString(reading.kbps, 'f', 0) + QStringLiteral(" kbit/s");
  if (!reading.size.isEmpty()) text += QStringLiteral(" · %1×%2").arg(reading.size.width()).arg(reading.size.height());
  text += QStringLiteral(" · %1 i/s").arg(qRound(reading.fps));
  return reading.limited ? QStringLiteral("Réseau limité · ") + text : text;
}

}  // namespace lunor
