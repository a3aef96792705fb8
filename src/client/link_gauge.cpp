// SPDX-License-Identifier: GPL-3.0-or-later
#include "client/link_gauge.h"

#include <QLocale>

namespace lunor {

std::optional<LinkReading> LinkGauge::update(const rtc::ConnectionStats& stats, double seconds, int context) {
  if (!stats.receive) return std::nullopt;
  const rtc::VideoReceiveStats& counters = *stats.receive;
  if (context != context_) {
    context_ = context;
    largest_ = QSize();
  }
  const std::optional<rtc::VideoReceiveStats> before = std::exchange(last_, counters);
  if (!before || seconds <= 0 || counters.bytesReceived < before->bytesReceived ||
      counters.framesDecoded < before->framesDecoded || counters.packetsReceived < before->packetsReceived) {
    // A new stream: its delays are its own.
    lowestRttMs_.reset();
    lowestBufferMs_.reset();
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
  const bool lossy = received >= 50 && r.lossPercent > kLossPercent;
  // How much longer than at best: the round trip, and the frames' wait in
  // the jitter buffer (a few frames are enough to read it).
  const auto growth = [](std::optional<double>& lowest, double now) {
    lowest = lowest ? std::min(*lowest, now) : now;
    return now - *lowest;
  };
  if (stats.roundTripTime) r.delayGrowthMs = growth(lowestRttMs_, *stats.roundTripTime * 1000);
  const uint64_t emitted = counters.jitterBufferEmittedCount - before->jitterBufferEmittedCount;
  if (counters.jitterBufferEmittedCount >= before->jitterBufferEmittedCount && emitted >= 3) {
    const double waitMs = (counters.jitterBufferDelay - before->jitterBufferDelay) * 1000 / double(emitted);
    r.delayGrowthMs = std::max(r.delayGrowthMs, growth(lowestBufferMs_, waitMs));
  }
  const bool delayed = r.delayGrowthMs > kDelayGrowthMs;
  if (smaller || lossy || delayed) {
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
