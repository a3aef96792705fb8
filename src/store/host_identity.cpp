// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/host_identity.h"

#include <QList>

#include "store/owner_key.h"
#include "store/secret_store.h"

namespace lunor {
namespace {

QString service() { return QString::fromLatin1(kOwnerKeyService); }

}  // namespace

std::optional<proof::Identity> hostIdentity(SecretStore& store) {
  const QString account = QString::fromLatin1(kHostIdentityAccount);
  const auto stored = store.read(service(), account);
  if (stored.data) {
    const auto decoded = QByteArray::fromBase64Encoding(*stored.data, QByteArray::AbortOnBase64DecodingErrors);
    if (decoded) {
      if (auto identity = proof::Identity::fromSecret(decoded.decoded)) return identity;
    }
  } else if (stored.error.kind != KeychainError::Kind::NoData) {
    return std::nullopt;  // locked or gone: not a reason to become someone else
  }
  proof::Identity identity = proof::Identity::generate();
  if (identity.secretKey.isEmpty() || store.save(service(), account, identity.secretKey.toBase64())) {
    return std::nullopt;  // not kept: clients would meet a new one every time
  }
  return identity;
}

std::vector<QByteArray> knownDevices(SecretStore& store) {
  const auto stored = store.read(service(), QString::fromLatin1(kKnownDevicesAccount));
  std::vector<QByteArray> digests;
  if (!stored.data) return digests;
  for (const QByteArray& line : stored.data->split('\n')) {
    const auto decoded = QByteArray::fromBase64Encoding(line.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (decoded && decoded.decoded.size() == proof::kKeyBytes) digests.push_back(decoded.decoded);
  }
  return digests;
}

void addKnownDevice(SecretStore& store, const QByteArray& digest) {
  const auto stored = store.read(service(), QString::fromLatin1(kKnownDevicesAccount));
  if (!stored.data && stored.error.kind != KeychainError::Kind::NoData) return;  // not over what we cannot read
  std::vector<QByteArray> digests = knownDevices(store);
  digests.push_back(digest);
  if (digests.size() > kKnownDevicesKept) digests.erase(digests.begin(), digests.end() - kKnownDevicesKept);
  QByteArray text;
  for (const QByteArray& known : digests) text += known.toBase64() + '\n';
  store.save(service(), QString::fromLatin1(kKnownDevicesAccount), text);
}

void forgetKnownDevices(SecretStore& store) { store.remove(service(), QString::fromLatin1(kKnownDevicesAccount)); }

}  // namespace lunor
