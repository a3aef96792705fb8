// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Feeds a data channel a queue of messages without overfilling its buffer:
// sends while the channel holds less than kHighWaterBytes, then looks again
// every few milliseconds. Main thread.

#include <cstdint>
#include <deque>
#include <functional>

#include <QObject>
#include <QTimer>

#include "protocol/clipboard_wire.h"

namespace lunor {

class ChannelPump final : public QObject {
  Q_OBJECT

 public:
  static constexpr uint64_t kHighWaterBytes = 1 << 20;
  static constexpr int kPollMs = 5;

  // send: false when the channel refused the message (it is then dropped
  // with the rest of the queue); buffered: the channel's bufferedAmount.
  ChannelPump(std::function<bool(const WireMessage&)> send, std::function<uint64_t()> buffered,
              QObject* parent = nullptr);

  void push(std::vector<WireMessage> messages);
  void clear();
  bool idle() const { return queue_.empty(); }

 Q_SIGNALS:
  // The channel refused a message; the queue was dropped.
  void failed();

 private:
  void pump();

  std::function<bool(const WireMessage&)> send_;
  std::function<uint64_t()> buffered_;
  std::deque<WireMessage> queue_;
  QTimer timer_;
};

}  // namespace lunor
