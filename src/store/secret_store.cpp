// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/secret_store.h"

namespace lunor {

QString toString(const KeychainError& error) {
  if (error.kind == KeychainError::Kind::NoData) return QStringLiteral("noData");
  return QStringLiteral("unexpectedStatus(%1)").arg(error.status);
}

std::optional<KeychainError> FallbackSecretStore::save(const QString& service,
                                                       const QString& account,
                                                       const QByteArray& data) {
  std::lock_guard lock(mutex_);
  if (!primary_.save(service, account, data)) {
    // A copy left in the file from a time without the service would shadow
    // nothing but must not outlive the password it held.
    fallback_.remove(service, account);
    return std::nullopt;
  }
  return fallback_.save(service, account, data);
}

SecretStore::ReadResult FallbackSecretStore::read(const QString& service,
                                                  const QString& account) {
  std::lock_guard lock(mutex_);
  ReadResult primary = primary_.read(service, account);
  if (primary.data) return primary;
  ReadResult fallback = fallback_.read(service, account);
  if (fallback.data) return fallback;
  // With no service, the file decides; a service that failed is unreadable.
  const bool noService = primary.error == KeychainError::unexpectedStatus(KeychainError::kStatusNotAvailable);
  return primary.error.kind == KeychainError::Kind::NoData || noService ? fallback : primary;
}

void FallbackSecretStore::remove(const QString& service, const QString& account) {
  std::lock_guard lock(mutex_);
  primary_.remove(service, account);
  fallback_.remove(service, account);
}

}  // namespace lunor
