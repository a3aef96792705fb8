// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/owner_key.h"

#include <algorithm>

#include <QRandomGenerator>

#include "protocol/wire_text.h"
#include "store/secret_store.h"

namespace lunor {

std::optional<QString> ownerKey(SecretStore& store) {
  const QString service = QString::fromLatin1(kOwnerKeyService);
  const QString account = QString::fromLatin1(kOwnerKeyAccount);
  const auto stored = store.read(service, account);
  if (stored.data) {
    const QString key = QString::fromLatin1(*stored.data);
    if (isHex64(key)) return key;
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
