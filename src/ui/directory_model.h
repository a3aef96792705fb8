// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The client directory's view of the address book: the recent connections,
// the folders with their counts, and the edits, with folder IDs as text for
// QML. Main thread only.

#include <QObject>
#include <QVariantList>
#include <QtQml/qqml.h>

namespace lunor {

class AddressBookStore;

class DirectoryModel final : public QObject {
  Q_OBJECT
  QML_NAMED_ELEMENT(DirectoryModel)
  QML_UNCREATABLE("Made by the application over its address book.")
  // The 8 most recently reached connections, folders or not, newest first.
  Q_PROPERTY(QVariantList recent READ recent NOTIFY changed)
  // [{id, name, count}] in the book's order.
  Q_PROPERTY(QVariantList folders READ folders NOTIFY changed)

 public:
  static constexpr int kRecentCount = 8;

  // book is borrowed and must outlive the model.
  explicit DirectoryModel(AddressBookStore& book, QObject* parent = nullptr);

  QVariantList recent() const;
  QVariantList folders() const;

  // The connections of a folder ("" for those without one).
  Q_INVOKABLE QVariantList connectionsIn(const QString& folderId) const;
  // The folder's name, or null when the book has no such folder.
  Q_INVOKABLE QVariant folderName(const QString& folderId) const;
  Q_INVOKABLE void rename(const QString& sessionId, const QString& name);
  // Moves into a folder, or out of any with "".
  Q_INVOKABLE void move(const QString& sessionId, const QString& folderId);
  Q_INVOKABLE void deleteConnection(const QString& sessionId);
  // The new folder's ID.
  Q_INVOKABLE QString addFolder(const QString& name);
  Q_INVOKABLE void renameFolder(const QString& folderId, const QString& name);
  Q_INVOKABLE void deleteFolder(const QString& folderId);

 Q_SIGNALS:
  void changed();

 private:
  AddressBookStore& book_;
};

}  // namespace lunor
