#include "store/owner_key.h"

#include <algorithm>

#include <QRandomGenerator>

#include "store/secret_store.h"

namespace lunor {

bool isOwnerKeyText(const QString& key) {
  return key.size() == 64 && std::all_of(key.begin(), key.end(), [](QChar c) {
           return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
         });
}

std::optional<QString> ownerKey(SecretStore& store) {
  const QString service = QString::fromLatin1(kOwnerKeyService);
  const QString account = QString::fromLatin1(kOwnerKeyAccount);
  const auto stored = store.read(service, account);
  if (stored.data) {
    const QString key = QString::fromLatin1(*stored.data);
    if (isOwnerKeyText(key)) return key;
  } else if (stored.error.kind != KeychainError::Kind::NoData) {
    return std::nullopt;
  }
  QByteArray bytes(32, Qt::Uninitialized);
  QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
  const QString key = QString::fromLatin1(bytes.toHex());
  store.save(service, account, key.toLatin1());
  return key;
}

}  // namespace lunor
