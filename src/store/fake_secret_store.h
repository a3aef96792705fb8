#pragma once

#include <QHash>

#include "store/secret_store.h"

namespace lunor {

// In memory; `failWith` makes every call fail as an unreachable store would.
class FakeSecretStore final : public SecretStore {
 public:
  std::optional<KeychainError> save(const QString& s, const QString& a,
                                    const QByteArray& data) override {
    if (failWith) return failWith;
    items.remove(key(s, a));
    items.insert(key(s, a), data);
    return std::nullopt;
  }
  ReadResult read(const QString& s, const QString& a) override {
    if (failWith) return {std::nullopt, *failWith};
    auto it = items.find(key(s, a));
    if (it == items.end()) return {std::nullopt, KeychainError::noData()};
    return {*it, {}};
  }
  void remove(const QString& s, const QString& a) override {
    if (!failWith) items.remove(key(s, a));
  }

  static QString key(const QString& s, const QString& a) { return s + QLatin1Char('\n') + a; }
  QHash<QString, QByteArray> items;
  std::optional<KeychainError> failWith;
};

}  // namespace lunor
