#pragma once

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
  void setDeviceKey(const QString& sessionId, const QString& key) override { deviceKeys.insert(sessionId, key); }
  QList<QPair<QString, QString>> successes;
  QHash<QString, QString> deviceKeys;
};

}  // namespace lunor
