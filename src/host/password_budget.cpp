// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/password_budget.h"

#include <algorithm>

namespace lunor {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

PasswordBudget::Count& PasswordBudget::countFor(const QByteArray& device) {
  if (device.isEmpty()) return everyone_;
  if (!devices_.contains(device) && devices_.size() >= kDevicesTracked) {
    // The device idle the longest makes room (its day starts over).
    const auto oldest = std::min_element(devices_.begin(), devices_.end(), [](const auto& a, const auto& b) {
      return a.second.dayStart < b.second.dayStart;
    });
    devices_.erase(oldest);
  }
  return devices_[device];
}

void PasswordBudget::rollDay(Count& count) {
  const Clock::TimePoint now = clock_.now();
  if (count.today == 0 || now - count.dayStart >= kDay) {
    count.dayStart = now;
    count.today = 0;
  }
}

bool PasswordBudget::spentToday() {
  rollDay(everyone_);
  return everyone_.today >= kFailuresPerDay;
}

PasswordBudget::Verdict PasswordBudget::mayTry(const QByteArray& device) {
  const Clock::TimePoint now = clock_.now();
  Count& count = countFor(device);
  rollDay(count);
  const int perDay = device.isEmpty() ? kFailuresPerDay : kFailuresPerDevicePerDay;
  if (count.today >= perDay) {
    return {false, duration_cast<milliseconds>(count.dayStart + kDay - now), true};
  }
  if (count.lockedUntil > now) return {false, duration_cast<milliseconds>(count.lockedUntil - now), false};
  return {};
}

milliseconds PasswordBudget::failed(const QByteArray& device) {
  Count& count = countFor(device);
  rollDay(count);
  count.today += 1;
  count.failures += 1;
  if (count.failures <= kFreeFailures) return milliseconds(0);
  const int doublings = std::min(count.failures - kFreeFailures - 1, 20);
  const milliseconds wait = std::min(kLongestWait, kFirstWait * (int64_t(1) << doublings));
  count.lockedUntil = clock_.now() + wait;
  return wait;
}

void PasswordBudget::succeeded(const QByteArray& device) {
  Count& count = countFor(device);
  count.today = std::max(0, count.today - 1);
  count.failures = 0;
  count.lockedUntil = {};
}

}  // namespace lunor
