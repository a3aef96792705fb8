// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/password_budget.h"

#include <algorithm>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

namespace {

qint64 ms(Clock::TimePoint::duration duration) { return duration_cast<milliseconds>(duration).count(); }

}  // namespace

QByteArray PasswordBudget::saved(qint64 wallMs) const {
  const Clock::TimePoint now = clock_.now();
  const auto write = [&](const Count& count) {
    return QJsonObject{{"failures", count.failures},
                       {"today", count.today},
                       {"dayAgeMs", double(ms(now - count.dayStart))},
                       {"waitMs", double(std::max<qint64>(0, ms(count.lockedUntil - now)))}};
  };
  QJsonObject devices;
  for (const auto& [device, count] : devices_) devices.insert(QString::fromLatin1(device.toBase64()), write(count));
  return QJsonDocument(QJsonObject{{"savedAt", double(wallMs)}, {"everyone", write(everyone_)}, {"devices", devices}})
      .toJson(QJsonDocument::Compact);
}

void PasswordBudget::restore(const QByteArray& saved, qint64 wallMs) {
  const QJsonObject root = QJsonDocument::fromJson(saved).object();
  const double savedAt = root.value("savedAt").toDouble(-1);
  if (savedAt < 0) return;
  // Time that passed while the host was not running; none when the clock went back.
  const milliseconds away(std::max<qint64>(0, wallMs - qint64(savedAt)));
  const Clock::TimePoint now = clock_.now();
  const auto read = [&](const QJsonValue& value, Count& count) {
    const QJsonObject o = value.toObject();
    const int failures = o.value("failures").toInt(-1), today = o.value("today").toInt(-1);
    const double dayAge = o.value("dayAgeMs").toDouble(-1), wait = o.value("waitMs").toDouble(-1);
    if (failures < 0 || today < 0 || dayAge < 0 || wait < 0 || dayAge > 1e12 || wait > 1e12) return false;
    const milliseconds age = milliseconds(qint64(dayAge)) + away;
    if (age < kDay && today > count.today) {
      count.today = today;
      count.dayStart = now - age;
    }
    count.failures = std::max(count.failures, std::min(failures, 1000));
    const milliseconds left = milliseconds(qint64(wait)) - away;
    if (left > milliseconds(0)) count.lockedUntil = std::max(count.lockedUntil, now + std::min(left, kLongestWait));
    return true;
  };
  read(root.value("everyone"), everyone_);
  const QJsonObject devices = root.value("devices").toObject();
  for (auto it = devices.begin(); it != devices.end() && devices_.size() < kDevicesTracked; ++it) {
    const auto device = QByteArray::fromBase64Encoding(it.key().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!device || device.decoded.isEmpty()) continue;
    Count count;
    if (read(it.value(), count)) devices_[device.decoded] = count;
  }
}

void PasswordBudget::succeeded(const QByteArray& device) {
  Count& count = countFor(device);
  count.today = std::max(0, count.today - 1);
  count.failures = 0;
  count.lockedUntil = {};
}

}  // namespace lunor
