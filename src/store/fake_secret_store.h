// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <mutex>

#include <QHash>

#include "store/secret_store.h"

namespace lunor {

// In memory; `failWith` makes every call fail as an unreachable store would,
// `failReadsWith` only the reads (a locked keyring that still takes writes).
// `beforeRead` runs at the start of every read, on the reading thread.
// The calls may come from any thread; tests read `items` once they are done.
class FakeSecretStore final : public SecretStore {
 public:
  std::optional<KeychainError> save(const QString& s, const QString& a,
                                    const QByteArray& data) override {
    std::lock_guard lock(mutex_);
    if (failWith) return failWith;
    items.remove(key(s, a));
    items.insert(key(s, a), data);
    return std::nullopt;
  }
  ReadResult read(const QString& s, const QString& a) override {
    if (beforeRead) beforeRead();
    std::lock_guard lock(mutex_);
    if (failWith) return {std::nullopt, *failWith};
    if (failReadsWith) return {std::nullopt, *failReadsWith};
    auto it = items.find(key(s, a));
    if (it == items.end()) return {std::nullopt, KeychainError::noData()};
    return {*it, {}};
  }
  void remove(const QString& s, const QString& a) override {
    std::lock_guard lock(mutex_);
    if (!failWith) items.remove(key(s, a));
  }

  static QString key(const QString& s, const QString& a) { return s + QLatin1Char('\n') + a; }
  QHash<QString, QByteArray> items;
  std::optional<KeychainError> failWith;
  std::optional<KeychainError> failReadsWith;
  std::function<void()> beforeRead;

 private:
  std::mutex mutex_;
};

}  // namespace lunor
