#pragma once

#include <QString>

namespace lunor {

// The client's record of hosts it has reached.
class AddressBook {
 public:
  virtual ~AddressBook() = default;
  // Notes a successful connection to sessionId; a null name keeps any stored name.
  virtual void recordSuccess(const QString& sessionId, const QString& name) = 0;
};

class NullAddressBook final : public AddressBook {
 public:
  void recordSuccess(const QString&, const QString&) override {}
};

}  // namespace lunor
