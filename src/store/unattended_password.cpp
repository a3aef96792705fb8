// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/unattended_password.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSettings>

#include "protocol/wire_text.h"
#include "store/host_identity.h"
#include "store/owner_key.h"
#include "store/secret_store.h"

namespace lunor {

QString unattendedKeychainService() {
  const QString domain = QCoreApplication::organizationDomain();
  if (domain.isEmpty()) return QString::fromLatin1(kUnattendedFallbackService);
  return domain + QLatin1Char('.') + QCoreApplication::applicationName();
}

std::optional<QString> loadUnattendedPassword(SecretStore& store) {
  const auto result = store.read(unattendedKeychainService(), QString::fromLatin1(kUnattendedAccount));
  if (!result.data) return std::nullopt;
  return utf8Text(*result.data);
}

void saveUnattendedPassword(SecretStore& store, const QString& password) {
  const QString service = unattendedKeychainService();
  const QString account = QString::fromLatin1(kUnattendedAccount);
  if (password.isEmpty()) {
    store.remove(service, account);
    return;
  }
  store.save(service, account, password.toUtf8());
}

QStringList copyHostSecrets(SecretStore& from, SecretStore& to) {
  const QString owner = QString::fromLatin1(kOwnerKeyService);
  const std::pair<QString, QString> items[] = {
      {owner, QString::fromLatin1(kOwnerKeyAccount)},
      {owner, QString::fromLatin1(kHostIdentityAccount)},
      {owner, QString::fromLatin1(kKnownDevicesAccount)},
      {unattendedKeychainService(), QString::fromLatin1(kUnattendedAccount)},
  };
  QStringList failed;
  for (const auto& [service, account] : items) {
    const auto read = from.read(service, account);
    if (read.data) {
      if (to.save(service, account, *read.data)) failed << account;
    } else if (read.error.kind == KeychainError::Kind::NoData) {
      to.remove(service, account);
    } else {
      failed << account;
    }
  }
  return failed;
}

void removeUnattendedDigestCopy(QSettings& settings) {
  const QString key = QString::fromLatin1(kUnattendedHashKey);
  if (!settings.contains(key)) return;
  settings.remove(key);
  settings.sync();
}

QString unattendedPasswordHash(const QString& password) {
  return QString::fromLatin1(
      QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Sha256).toHex());
}

}  // namespace lunor
