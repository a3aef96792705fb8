// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>

#include <QHash>
#include <QList>
#include <QPair>

#include "store/address_book.h"

namespace lunor {

class FakeAddressBook final : public AddressBook {
 public:
  void recordSuccess(const QString& sessionId, const QString& name) override {
    successes.append({sessionId, name});
  }
  QString deviceKey(const QString& sessionId) const override { return deviceKeys.value(sessionId); }
  // Kept for hosts with an entry only, as the store does.
  void setDeviceKey(const QString& sessionId, const QString& key) override {
    const bool known = std::any_of(successes.begin(), successes.end(), [&](const auto& s) { return s.first == sessionId; });
    if (known) deviceKeys.insert(sessionId, key);
  }
  QByteArray hostKey(const QString& sessionId) const override { return hostKeys.value(sessionId); }
  void setHostKey(const QString& sessionId, const QByteArray& key) override { hostKeys.insert(sessionId, key); }
  QByteArray hostDeviceKey(const QString& sessionId) const override { return hostDeviceKeys.value(sessionId); }
  void setHostDeviceKey(const QString& sessionId, const QByteArray& key) override {
    hostDeviceKeys.insert(sessionId, key);
  }
  QList<QPair<QString, QString>> successes;
  QHash<QString, QString> deviceKeys;
  QHash<QString, QByteArray> hostKeys;
  QHash<QString, QByteArray> hostDeviceKeys;
};

}  // namespace lunor
