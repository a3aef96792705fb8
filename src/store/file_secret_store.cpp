// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/file_secret_store.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace lunor {
namespace {

constexpr int kWriteFailed = -1;

// The file's entries: none when there is no file or its content is not
// ours (nothing in it can be read back, now or later); nothing when it is
// there but cannot be read, which is never taken for an empty store, so
// that a save cannot wipe what it may hold.
std::optional<QJsonArray> loadEntries(const QString& path) {
  QFile file(path);
  if (!file.exists()) return QJsonArray();
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) return std::nullopt;
  return QJsonDocument::fromJson(bytes).object().value(QLatin1String("entries")).toArray();
}

bool matches(const QJsonValue& entry, const QString& service, const QString& account) {
  const QJsonObject object = entry.toObject();
  return object.value(QLatin1String("service")).toString() == service &&
         object.value(QLatin1String("account")).toString() == account;
}

bool writeEntries(const QString& path, const QJsonArray& entries) {
  const QString directory = QFileInfo(path).absolutePath();
  if (!QDir().mkpath(directory)) return false;
  ::chmod(QFile::encodeName(directory).constData(), 0700);
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  // Private before the first byte lands, so no other user ever sees it.
  if (::fchmod(file.handle(), 0600) != 0) {
    file.cancelWriting();
    return false;
  }
  const QByteArray bytes =
      QJsonDocument(QJsonObject{{QStringLiteral("entries"), entries}}).toJson(QJsonDocument::Compact);
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

}  // namespace

std::optional<KeychainError> FileSecretStore::save(const QString& service, const QString& account,
                                                   const QByteArray& data) {
  const auto stored = loadEntries(path_);
  if (!stored) return KeychainError::unexpectedStatus(KeychainError::kStatusFailed);
  QJsonArray entries;
  for (const auto& entry : *stored) {
    if (!matches(entry, service, account)) entries.append(entry);
  }
  entries.append(QJsonObject{{QStringLiteral("service"), service},
                             {QStringLiteral("account"), account},
                             {QStringLiteral("value"), QString::fromLatin1(data.toBase64())}});
  if (!writeEntries(path_, entries)) return KeychainError::unexpectedStatus(kWriteFailed);
  return std::nullopt;
}

SecretStore::ReadResult FileSecretStore::read(const QString& service, const QString& account) {
  const auto entries = loadEntries(path_);
  if (!entries) return {std::nullopt, KeychainError::unexpectedStatus(KeychainError::kStatusFailed)};
  for (const auto& entry : *entries) {
    if (!matches(entry, service, account)) continue;
    const QJsonValue value = entry.toObject().value(QLatin1String("value"));
    if (!value.isString()) break;
    const auto decoded = QByteArray::fromBase64Encoding(value.toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) break;
    return {decoded.decoded, {}};
  }
  return {std::nullopt, KeychainError::noData()};
}

void FileSecretStore::remove(const QString& service, const QString& account) {
  const auto entries = loadEntries(path_);
  if (!entries) return;
  QJsonArray kept;
  for (const auto& entry : *entries) {
    if (!matches(entry, service, account)) kept.append(entry);
  }
  if (kept.size() != entries->size()) writeEntries(path_, kept);
}

}  // namespace lunor
