// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a weak network does to datagrams, decided one datagram at a time on
// a clock the caller gives (so that a test can run it on a simulated one):
// random loss, a rate cap with a bounded queue in front of it, a delay with
// jitter, reordering and blackouts. lunor-impair runs one link per
// direction and releases each datagram at the time its link decided.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace lunor::bench {

// One direction's conditions.
struct LinkConditions {
  double lossPercent = 0;  // each datagram lost with this chance
  // Losses come in runs of this many datagrams on average, the rate staying
  // lossPercent (a Wi-Fi fade, a cell handover); 1: each on its own.
  double lossBurst = 1;
  double delayMs = 0;      // one-way delay after the bottleneck
  double jitterMs = 0;     // the delay varies uniformly by ± this much
  // This share of datagrams skips the delay and overtakes those before it
  // (netem's "reorder"); the others keep their order.
  double reorderPercent = 0;
  // Each datagram gets its own delay and may overtake others; without it a
  // datagram waits for the one before it (netem's jitter behind a FIFO),
  // which draws a burst's delays towards delay + jitter.
  bool jitterReorders = false;
  double rateKbps = 0;   // the bottleneck's rate; 0: none
  double queueMs = 200;  // what the bottleneck's queue holds, in time at its rate
  // Bytes the bottleneck counts beyond the UDP payload (IPv4 and UDP headers).
  int overheadBytes = 28;

  bool impaired() const { return lossPercent > 0 || delayMs > 0 || jitterMs > 0 || reorderPercent > 0 || rateKbps > 0; }
  // "loss 5 % · delay 40 ± 15 ms · …", or "none".
  std::string describe() const;
};

enum class DropReason { None, Loss, Blackout, Queue };

// What becomes of a datagram: dropped for a reason, or released at a time.
struct Fate {
  DropReason drop = DropReason::None;
  int64_t releaseUs = 0;
};

// Windows of time in which the link carries nothing, in both directions:
// what is sent in one is lost, and so is what was on its way when it began.
// Shared by the thread that admits datagrams and the one that releases
// them.
class Blackouts {
 public:
  void add(int64_t startUs, int64_t endUs);
  bool dark(int64_t us) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<int64_t, int64_t>> windows_;  // [start, end)
};

// One direction of the link.
class ImpairedLink {
 public:
  // blackouts: borrowed, outlives the link (may be null: never dark).
  ImpairedLink(LinkConditions conditions, uint64_t seed, const Blackouts* blackouts = nullptr);

  // A datagram of `bytes` bytes arrives at nowUs (nondecreasing from call to
  // call): dropped, or when it leaves the link. A blackout at its release
  // time is the releaser's to check (blackouts can begin later).
  Fate admit(int64_t nowUs, size_t bytes);

  const LinkConditions& conditions() const { return conditions_; }

 private:
  LinkConditions conditions_;
  const Blackouts* blackouts_;
  std::mt19937_64 random_;
  std::uniform_real_distribution<double> unit_{0.0, 1.0};
  int64_t bottleneckFreeUs_ = 0;  // when the bottleneck has sent all it holds
  int64_t lastInOrderUs_ = 0;     // the release of the last datagram kept in order
  bool losing_ = false;           // in a run of losses
};

// Datagrams waiting for their release time, earliest first; those due at
// the same time leave in the order they came.
template <typename Item>
class ReleaseQueue {
 public:
  void push(int64_t releaseUs, Item item) {
    heap_.push_back(Entry{releaseUs, next_++, std::move(item)});
    std::push_heap(heap_.begin(), heap_.end(), later);
  }
  bool empty() const { return heap_.empty(); }
  size_t size() const { return heap_.size(); }
  // The earliest release time; the queue must not be empty.
  int64_t nextUs() const { return heap_.front().releaseUs; }
  // The earliest item if it is due at nowUs.
  std::optional<Item> popDue(int64_t nowUs) {
    if (heap_.empty() || heap_.front().releaseUs > nowUs) return std::nullopt;
    std::pop_heap(heap_.begin(), heap_.end(), later);
    Item item = std::move(heap_.back().item);
    heap_.pop_back();
    return item;
  }

 private:
  struct Entry {
    int64_t releaseUs;
    uint64_t order;  // arrival order, for equal release times
    Item item;
  };
  // The heap's order: the front is the earliest.
  static bool later(const Entry& a, const Entry& b) {
    return a.releaseUs != b.releaseUs ? a.releaseUs > b.releaseUs : a.order > b.order;
  }
  std::vector<Entry> heap_;
  uint64_t next_ = 0;
};

}  // namespace lunor::bench
