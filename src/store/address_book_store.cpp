// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/address_book_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include "protocol/wire_text.h"

namespace lunor {
namespace {

// 2001-01-01 00:00:00 UTC in Unix seconds.
constexpr qint64 kReferenceEpoch = 978307200;

QString uuidText(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

std::optional<QUuid> parseUuid(const QJsonValue& value) {
  if (!value.isString()) return std::nullopt;
  const QString text = value.toString();
  // The canonical 8-4-4-4-12 form only, in either case.
  if (text.size() != 36) return std::nullopt;
  const QUuid id = QUuid::fromString(text);
  if (id.isNull() && text != QLatin1String("00000000-0000-0000-0000-000000000000")) return std::nullopt;
  return id;
}

std::optional<double> parseNumber(const QJsonValue& value) {
  if (!value.isDouble() || !std::isfinite(value.toDouble())) return std::nullopt;
  return value.toDouble();
}

std::optional<qint64> parseInteger(const QJsonValue& value) {
  if (!value.isDouble()) return std::nullopt;
  const double number = value.toDouble();
  if (number != std::floor(number) || std::abs(number) > 9.0e18) return std::nullopt;
  return value.toInteger();
}

}  // namespace

ReferenceSeconds toReferenceSeconds(const QDateTime& time) {
  return time.toMSecsSinceEpoch() / 1000.0 - kReferenceEpoch;
}

QDateTime fromReferenceSeconds(ReferenceSeconds seconds) {
  return QDateTime::fromMSecsSinceEpoch(std::llround((seconds + kReferenceEpoch) * 1000.0), Qt::UTC);
}

namespace {

// 32 bytes in standard base64; anything else is as if absent.
std::optional<QByteArray> key32(const QJsonValue& value) {
  if (!value.isString()) return std::nullopt;
  const auto decoded =
      QByteArray::fromBase64Encoding(value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded || decoded.decoded.size() != 32) return std::nullopt;
  return decoded.decoded;
}

}  // namespace

QByteArray encodeAddressBook(const AddressBookDocument& document) {
  QJsonArray connections;
  for (const auto& c : document.connections) {
    QJsonObject object{{QStringLiteral("sessionId"), c.sessionId},
                       {QStringLiteral("firstSeenAt"), c.firstSeenAt},
                       {QStringLiteral("lastConnectedAt"), c.lastConnectedAt},
                       {QStringLiteral("successCount"), c.successCount}};
    if (c.name) object.insert(QStringLiteral("name"), *c.name);
    if (c.folderId) object.insert(QStringLiteral("folderId"), uuidText(*c.folderId));
    if (c.deviceKey) object.insert(QStringLiteral("deviceKey"), *c.deviceKey);
    if (c.hostKey) object.insert(QStringLiteral("hostKey"), QString::fromLatin1(c.hostKey->toBase64()));
    if (c.hostDeviceKey) object.insert(QStringLiteral("hostDeviceKey"), QString::fromLatin1(c.hostDeviceKey->toBase64()));
    connections.append(object);
  }
  QJsonArray folders;
  for (const auto& f : document.folders) {
    folders.append(QJsonObject{{QStringLiteral("id"), uuidText(f.id)},
                               {QStringLiteral("name"), f.name},
                               {QStringLiteral("createdAt"), f.createdAt}});
  }
  return QJsonDocument(QJsonObject{{QStringLiteral("connections"), connections},
                                   {QStringLiteral("folders"), folders}})
      .toJson(QJsonDocument::Compact);
}

std::optional<AddressBookDocument> decodeAddressBook(const QByteArray& bytes) {
  const QJsonDocument json = QJsonDocument::fromJson(bytes);
  if (!json.isObject()) return std::nullopt;
  const QJsonObject root = json.object();
  const QJsonValue connections = root.value(QLatin1String("connections"));
  const QJsonValue folders = root.value(QLatin1String("folders"));
  if (!connections.isArray() || !folders.isArray()) return std::nullopt;

  AddressBookDocument document;
  for (const QJsonValue& value : connections.toArray()) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject o = value.toObject();
    ABConnection c;
    const QJsonValue sessionId = o.value(QLatin1String("sessionId"));
    const auto first = parseNumber(o.value(QLatin1String("firstSeenAt")));
    const auto last = parseNumber(o.value(QLatin1String("lastConnectedAt")));
    const auto count = parseInteger(o.value(QLatin1String("successCount")));
    if (!sessionId.isString() || !first || !last || !count) return std::nullopt;
    c.sessionId = sessionId.toString();
    c.firstSeenAt = *first;
    c.lastConnectedAt = *last;
    c.successCount = *count;
    if (o.contains(QLatin1String("name"))) {
      const QJsonValue name = o.value(QLatin1String("name"));
      if (!name.isString()) return std::nullopt;
      c.name = name.toString();
    }
    if (o.contains(QLatin1String("folderId"))) {
      const auto folderId = parseUuid(o.value(QLatin1String("folderId")));
      if (!folderId) return std::nullopt;
      c.folderId = *folderId;
    }
    // Not part of the original file: a bad one is only forgotten.
    if (const QJsonValue key = o.value(QLatin1String("deviceKey")); key.isString() && isHex64(key.toString())) {
      c.deviceKey = key.toString();
    }
    c.hostKey = key32(o.value(QLatin1String("hostKey")));
    c.hostDeviceKey = key32(o.value(QLatin1String("hostDeviceKey")));
    document.connections.push_back(c);
  }
  for (const QJsonValue& value : folders.toArray()) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject o = value.toObject();
    const auto id = parseUuid(o.value(QLatin1String("id")));
    const QJsonValue name = o.value(QLatin1String("name"));
    const auto created = parseNumber(o.value(QLatin1String("createdAt")));
    if (!id || !name.isString() || !created) return std::nullopt;
    document.folders.push_back({*id, name.toString(), *created});
  }
  return document;
}

AddressBookStore::AddressBookStore(const QString& dataDirectory, QObject* parent) : QObject(parent) {
  const QString directory = QDir(dataDirectory).filePath(QStringLiteral("LunorRemote"));
  QDir().mkpath(directory);
  filePath_ = QDir(directory).filePath(QLatin1String(kFileName));
  load();
}

void AddressBookStore::load() {
  QFile file(filePath_);
  if (!file.open(QIODevice::ReadOnly)) return;
  if (auto document = decodeAddressBook(file.readAll())) {
    document_ = std::move(*document);
  } else {
    unreadableOnDisk_ = true;
  }
}

void AddressBookStore::keepUnreadableFileAside() {
  if (!unreadableOnDisk_) return;
  QString aside = filePath_ + QStringLiteral(".bad");
  for (int n = 1; QFile::exists(aside); ++n) aside = filePath_ + QStringLiteral(".bad.%1").arg(n);
  if (QFile::copy(filePath_, aside) || !QFile::exists(filePath_)) unreadableOnDisk_ = false;
}

void AddressBookStore::save() {
  keepUnreadableFileAside();
  if (unreadableOnDisk_) return;  // could not keep it aside: do not destroy it
  const QByteArray bytes = encodeAddressBook(document_);
  QSaveFile file(filePath_);
  if (!file.open(QIODevice::WriteOnly)) return;
  // The device keys are the owner's alone.
  ::fchmod(file.handle(), 0600);
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return;
  }
  file.commit();
}

void AddressBookStore::changedAndSaved() {
  Q_EMIT changed();
  save();
}

void AddressBookStore::recordSuccess(const QString& sessionId, const QString& name) {
  const ReferenceSeconds now = toReferenceSeconds(QDateTime::currentDateTimeUtc());
  auto it = std::find_if(document_.connections.begin(), document_.connections.end(),
                         [&](const ABConnection& c) { return c.sessionId == sessionId; });
  if (it != document_.connections.end()) {
    it->lastConnectedAt = now;
    it->successCount += 1;
  } else {
    ABConnection c;
    c.sessionId = sessionId;
    if (!name.isNull()) c.name = name;
    c.firstSeenAt = c.lastConnectedAt = now;
    c.successCount = 1;
    document_.connections.push_back(c);
  }
  changedAndSaved();
}

QString AddressBookStore::deviceKey(const QString& sessionId) const {
  for (const auto& c : document_.connections) {
    if (c.sessionId == sessionId) return c.deviceKey.value_or(QString());
  }
  return {};
}

void AddressBookStore::setDeviceKey(const QString& sessionId, const QString& key) {
  if (!isHex64(key)) return;
  for (auto& c : document_.connections) {
    if (c.sessionId != sessionId) continue;
    if (c.deviceKey == key) return;
    c.deviceKey = key;
    changedAndSaved();
    return;
  }
}

QByteArray AddressBookStore::keyOf(const QString& sessionId, KeyField field) const {
  for (const auto& c : document_.connections) {
    if (c.sessionId == sessionId) return (c.*field).value_or(QByteArray());
  }
  return {};
}

void AddressBookStore::keep(const QString& sessionId, KeyField field, const QByteArray& key) {
  if (key.size() != 32) return;
  for (auto& c : document_.connections) {
    if (c.sessionId != sessionId) continue;
    if (c.*field == key) return;
    c.*field = key;
    changedAndSaved();
    return;
  }
}

void AddressBookStore::rename(const QString& sessionId, const QString& name) {
  for (auto& c : document_.connections) {
    if (c.sessionId != sessionId) continue;
    c.name = name;
    changedAndSaved();
    return;
  }
}

void AddressBookStore::move(const QString& sessionId, const std::optional<QUuid>& folderId) {
  for (auto& c : document_.connections) {
    if (c.sessionId != sessionId) continue;
    c.folderId = folderId;
    changedAndSaved();
    return;
  }
}

void AddressBookStore::deleteConnection(const QString& sessionId) {
  std::erase_if(document_.connections, [&](const ABConnection& c) { return c.sessionId == sessionId; });
  changedAndSaved();
}

QUuid AddressBookStore::addFolder(const QString& name) {
  const QUuid id = QUuid::createUuid();
  document_.folders.push_back({id, name, toReferenceSeconds(QDateTime::currentDateTimeUtc())});
  changedAndSaved();
  return id;
}

void AddressBookStore::renameFolder(const QUuid& id, const QString& name) {
  for (auto& f : document_.folders) {
    if (f.id != id) continue;
    f.name = name;
    changedAndSaved();
    return;
  }
}

void AddressBookStore::deleteFolder(const QUuid& id) {
  std::erase_if(document_.folders, [&](const ABFolder& f) { return f.id == id; });
  for (auto& c : document_.connections) {
    if (c.folderId == id) c.folderId.reset();
  }
  changedAndSaved();
}

std::vector<ABConnection> AddressBookStore::connections(const std::optional<QUuid>& folderId) const {
  std::vector<ABConnection> result;
  for (const auto& c : document_.connections) {
    if (c.folderId == folderId) result.push_back(c);
  }
  std::stable_sort(result.begin(), result.end(), [](const ABConnection& a, const ABConnection& b) {
    return a.lastConnectedAt > b.lastConnectedAt;
  });
  return result;
}

QVariantList AddressBookStore::connectionList() const {
  QVariantList list;
  for (const auto& c : document_.connections) {
    list.append(QVariantMap{{QStringLiteral("sessionId"), c.sessionId},
                            {QStringLiteral("name"), c.name ? QVariant(*c.name) : QVariant()},
                            {QStringLiteral("folderId"), c.folderId ? QVariant(uuidText(*c.folderId)) : QVariant()},
                            {QStringLiteral("firstSeenAt"), fromReferenceSeconds(c.firstSeenAt)},
                            {QStringLiteral("lastConnectedAt"), fromReferenceSeconds(c.lastConnectedAt)},
                            {QStringLiteral("successCount"), c.successCount}});
  }
  return list;
}

QVariantList AddressBookStore::folderList() const {
  QVariantList list;
  for (const auto& f : document_.folders) {
    list.append(QVariantMap{{QStringLiteral("id"), uuidText(f.id)},
                            {QStringLiteral("name"), f.name},
                            {QStringLiteral("createdAt"), fromReferenceSeconds(f.createdAt)}});
  }
  return list;
}

}  // namespace lunor
