// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/secret_store.h"

namespace lunor {

// The freedesktop Secret Service (GNOME Keyring, KWallet) through libsecret.
// Without a session bus every call reports KeychainError::kStatusNotAvailable
// at once instead of starting one.
class LibsecretSecretStore final : public SecretStore {
 public:
  std::optional<KeychainError> save(const QString& service, const QString& account,
                                    const QByteArray& data) override;
  ReadResult read(const QString& service, const QString& account) override;
  void remove(const QString& service, const QString& account) override;
};

}  // namespace lunor
