// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A table of at most `capacity` entries; the least recently touched one makes
// room for a new one. Lookups, touches and evictions are O(1); expiry walks
// from the oldest entry and stops at the first one still fresh.

#include <list>
#include <utility>

#include <QHash>
#include <QString>

namespace lunor::signal {

template <typename Value>
class LruTable {
 public:
  explicit LruTable(int capacity) : capacity_(capacity > 0 ? capacity : 1) {}

  // The entry, made (default value) when missing, now the most recent.
  Value& touch(const QString& key) {
    auto it = index_.find(key);
    if (it != index_.end()) {
      order_.splice(order_.end(), order_, *it);
      return order_.back().second;
    }
    if (static_cast<int>(order_.size()) >= capacity_) {
      index_.remove(order_.front().first);
      order_.pop_front();
    }
    order_.emplace_back(key, Value{});
    index_.insert(key, std::prev(order_.end()));
    return order_.back().second;
  }
  // The entry without touching it, or null.
  const Value* find(const QString& key) const {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : &(*it)->second;
  }
  void remove(const QString& key) {
    auto it = index_.find(key);
    if (it == index_.end()) return;
    order_.erase(*it);
    index_.erase(it);
  }
  // Drops entries from the oldest while `stale(value)` holds.
  template <typename Stale>
  void expire(Stale stale) {
    while (!order_.empty() && stale(order_.front().second)) {
      index_.remove(order_.front().first);
      order_.pop_front();
    }
  }
  int size() const { return static_cast<int>(order_.size()); }

 private:
  using Entry = std::pair<QString, Value>;
  int capacity_;
  std::list<Entry> order_;  // oldest first
  QHash<QString, typename std::list<Entry>::iterator> index_;
};

}  // namespace lunor::signal
