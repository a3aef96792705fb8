// SPDX-License-Identifier: GPL-3.0-or-later
#include "features/channel_pump.h"

namespace lunor {

ChannelPump::ChannelPump(std::function<bool(const WireMessage&)> send, std::function<uint64_t()> buffered,
                         QObject* parent)
    : QObject(parent), send_(std::move(send)), buffered_(std::move(buffered)) {
  timer_.setInterval(kPollMs);
  connect(&timer_, &QTimer::timeout, this, &ChannelPump::pump);
}

void ChannelPump::push(std::vector<WireMessage> messages) {
  for (auto& m : messages) queue_.push_back(std::move(m));
  pump();
}

void ChannelPump::clear() {
  queue_.clear();
  timer_.stop();
}

void ChannelPump::pump() {
  while (!queue_.empty() && buffered_() < kHighWaterBytes) {
    if (!send_(queue_.front())) {
      clear();
      Q_EMIT failed();
      return;
    }
    queue_.pop_front();
  }
  if (queue_.empty()) {
    timer_.stop();
  } else if (!timer_.isActive()) {
    timer_.start();
  }
}

}  // namespace lunor
