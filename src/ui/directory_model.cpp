// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/directory_model.h"

#include <algorithm>

#include "store/address_book_store.h"

namespace lunor {

namespace {

QString idText(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

// A folder ID from QML: "" means none; text that is not a UUID names no folder.
std::optional<QUuid> folderOf(const QString& text) {
  if (text.isEmpty()) return std::nullopt;
  return QUuid::fromString(text);
}

QVariantMap entry(const ABConnection& c) {
  return {{QStringLiteral("sessionId"), c.sessionId},
          {QStringLiteral("name"), c.name ? QVariant(*c.name) : QVariant()},
          {QStringLiteral("folderId"), c.folderId ? QVariant(idText(*c.folderId)) : QVariant()},
          {QStringLiteral("lastConnectedAt"), fromReferenceSeconds(c.lastConnectedAt)}};
}

}  // namespace

DirectoryModel::DirectoryModel(AddressBookStore& book, QObject* parent) : QObject(parent), book_(book) {
  connect(&book_, &AddressBookStore::changed, this, &DirectoryModel::changed);
}

QVariantList DirectoryModel::recent() const {
  std::vector<ABConnection> all = book_.connections();
  std::stable_sort(all.begin(), all.end(),
                   [](const ABConnection& a, const ABConnection& b) { return a.lastConnectedAt > b.lastConnectedAt; });
  QVariantList list;
  for (size_t i = 0; i < all.size() && i < kRecentCount; ++i) list.append(entry(all[i]));
  return list;
}

QVariantList DirectoryModel::folders() const {
  QVariantList list;
  for (const ABFolder& f : book_.folders()) {
    list.append(QVariantMap{{QStringLiteral("id"), idText(f.id)},
                            {QStringLiteral("name"), f.name},
                            {QStringLiteral("count"), int(book_.connections(f.id).size())}});
  }
  return list;
}

QVariantList DirectoryModel::connectionsIn(const QString& folderId) const {
  QVariantList list;
  for (const ABConnection& c : book_.connections(folderOf(folderId))) list.append(entry(c));
  return list;
}

QVariant DirectoryModel::folderName(const QString& folderId) const {
  const auto id = folderOf(folderId);
  for (const ABFolder& f : book_.folders()) {
    if (id && f.id == *id) return f.name;
  }
  return {};
}

void DirectoryModel::rename(const QString& sessionId, const QString& name) { book_.rename(sessionId, name); }

void DirectoryModel::move(const QString& sessionId, const QString& folderId) {
  book_.move(sessionId, folderOf(folderId));
}

void DirectoryModel::deleteConnection(const QString& sessionId) { book_.deleteConnection(sessionId); }

QString DirectoryModel::addFolder(const QString& name) { return idText(book_.addFolder(name)); }

void DirectoryModel::renameFolder(const QString& folderId, const QString& name) {
  if (const auto id = folderOf(folderId)) book_.renameFolder(*id, name);
}

void DirectoryModel::deleteFolder(const QString& folderId) {
  if (const auto id = folderOf(folderId)) book_.deleteFolder(*id);
}

}  // namespace lunor
