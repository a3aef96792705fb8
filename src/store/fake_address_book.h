#pragma once

#include <QList>
#include <QPair>

#include "store/address_book.h"

namespace lunor {

class FakeAddressBook final : public AddressBook {
 public:
  void recordSuccess(const QString& sessionId, const QString& name) override {
    successes.append({sessionId, name});
  }
  QList<QPair<QString, QString>> successes;
};

}  // namespace lunor
