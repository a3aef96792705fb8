// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace lunor {

// The client's record of hosts it has reached.
class AddressBook {
 public:
  virtual ~AddressBook() = default;
  // Notes a successful connection to sessionId; a null name keeps any stored name.
  virtual void recordSuccess(const QString& sessionId, const QString& name) = 0;
  // The key the signaling server gave this machine when sessionId let it
  // in (it lets a known machine past a room that guessing has locked);
  // null when there is none.
  virtual QString deviceKey(const QString& sessionId) const = 0;
  // Keeps `key` for the entry of sessionId, if there is one.
  virtual void setDeviceKey(const QString& sessionId, const QString& key) = 0;
  // The host's identity as first met (its public key), and the key it gave
  // this machine once the password was proved to it; empty when none. Kept
  // for the entry of sessionId, if there is one.
  virtual QByteArray hostKey(const QString& sessionId) const = 0;
  virtual void setHostKey(const QString& sessionId, const QByteArray& key) = 0;
  virtual QByteArray hostDeviceKey(const QString& sessionId) const = 0;
  virtual void setHostDeviceKey(const QString& sessionId, const QByteArray& key) = 0;
};

class NullAddressBook final : public AddressBook {
 public:
  void recordSuccess(const QString&, const QString&) override {}
  QString deviceKey(const QString&) const override { return {}; }
  void setDeviceKey(const QString&, const QString&) override {}
  QByteArray hostKey(const QString&) const override { return {}; }
  void setHostKey(const QString&, const QByteArray&) override {}
  QByteArray hostDeviceKey(const QString&) const override { return {}; }
  void setHostDeviceKey(const QString&, const QByteArray&) override {}
};

}  // namespace lunor
