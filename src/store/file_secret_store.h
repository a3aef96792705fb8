// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/secret_store.h"

namespace lunor {

// Secrets in one JSON file readable by its owner only (mode 0600, directory
// 0700), replaced atomically on every change. For machines without a Secret
// Service.
class FileSecretStore final : public SecretStore {
 public:
  explicit FileSecretStore(QString path) : path_(std::move(path)) {}
  std::optional<KeychainError> save(const QString& service, const QString& account,
                                    const QByteArray& data) override;
  ReadResult read(const QString& service, const QString& account) override;
  void remove(const QString& service, const QString& account) override;

  const QString& path() const { return path_; }

 private:
  QString path_;
};

}  // namespace lunor
