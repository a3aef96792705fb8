// SPDX-License-Identifier: GPL-3.0-or-later
#include "impaired_link.h"

#include <cmath>
#include <sstream>

namespace lunor::bench {

std::string LinkConditions::describe() const {
  if (!impaired()) return "none";
  std::ostringstream text;
  const char* separator = "";
  auto part = [&]() -> std::ostringstream& {
    text << separator;
    separator = " · ";
    return text;
  };
  if (lossPercent > 0) {
    part() << "loss " << lossPercent << " %";
    if (lossBurst > 1) text << " in runs of " << lossBurst;
  }
  if (delayMs > 0 || jitterMs > 0) {
    part() << "delay " << delayMs;
    if (jitterMs > 0) text << " ± " << jitterMs;
    text << " ms";
    if (jitterMs > 0) text << (jitterReorders ? " (each its own)" : " (in order)");
  }
  if (reorderPercent > 0) part() << "reorder " << reorderPercent << " %";
  if (rateKbps > 0) part() << "cap " << rateKbps << " kbit/s, queue " << queueMs << " ms";
  return text.str();
}

void Blackouts::add(int64_t startUs, int64_t endUs) {
  std::lock_guard lock(mutex_);
  windows_.emplace_back(startUs, endUs);
}

bool Blackouts::dark(int64_t us) const {
  std::lock_guard lock(mutex_);
  for (const auto& [start, end] : windows_) {
    if (us >= start && us < end) return true;
  }
  return false;
}

ImpairedLink::ImpairedLink(LinkConditions conditions, uint64_t seed, const Blackouts* blackouts)
    : conditions_(conditions), blackouts_(blackouts), random_(seed) {}

Fate ImpairedLink::admit(int64_t nowUs, size_t bytes) {
  const LinkConditions& c = conditions_;
  if (blackouts_ && blackouts_->dark(nowUs)) return {DropReason::Blackout, 0};
  if (c.lossPercent > 0 && c.lossBurst > 1) {
    // Two states: a run of losses ends with 1 / burst each datagram, and
    // starts as often as keeps the rate at lossPercent.
    const double p = std::min(c.lossPercent, 99.0) / 100;
    const double start = p / (c.lossBurst * (1 - p));
    losing_ = losing_ ? unit_(random_) >= 1 / c.lossBurst : unit_(random_) < start;
    if (losing_) return {DropReason::Loss, 0};
  } else if (c.lossPercent > 0 && unit_(random_) * 100 < c.lossPercent) {
    return {DropReason::Loss, 0};
  }

  // The bottleneck sends one datagram after the other at its rate; one
  // that would wait longer than its queue holds is dropped at the tail.
  int64_t sentUs = nowUs;
  if (c.rateKbps > 0) {
    const double bits = double(bytes + size_t(std::max(0, c.overheadBytes))) * 8;
    const auto transmitUs = int64_t(std::llround(bits * 1000 / c.rateKbps));
    const int64_t startUs = std::max(nowUs, bottleneckFreeUs_);
    const int64_t queuedUs = startUs - nowUs;
    if (queuedUs > 0 && double(queuedUs + transmitUs) > c.queueMs * 1000) return {DropReason::Queue, 0};
    bottleneckFreeUs_ = startUs + transmitUs;
    sentUs = bottleneckFreeUs_;
  }

  if (c.reorderPercent > 0 && unit_(random_) * 100 < c.reorderPercent) return {DropReason::None, sentUs};
  double delayMs = c.delayMs;
  if (c.jitterMs > 0) delayMs += c.jitterMs * (2 * unit_(random_) - 1);
  int64_t releaseUs = sentUs + int64_t(std::llround(std::max(0.0, delayMs) * 1000));
  if (!c.jitterReorders) {
    releaseUs = std::max(releaseUs, lastInOrderUs_);
    lastInOrderUs_ = releaseUs;
  }
  return {DropReason::None, releaseUs};
}

}  // namespace lunor::bench
