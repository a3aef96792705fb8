// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The client's book of hosts it has reached, sorted into folders. One JSON
// file, "addressbook.v1.json", read once and rewritten whole (atomically)
// after every change. Main thread only.

#include <optional>
#include <vector>

#include <QDateTime>
#include <QObject>
#include <QUuid>
#include <QVariantList>

#include "store/address_book.h"

namespace lunor {

// Dates are kept as the file has them: seconds since 2001-01-01 00:00:00 UTC,
// fraction included, so that a load and a save change nothing.
using ReferenceSeconds = double;
ReferenceSeconds toReferenceSeconds(const QDateTime& time);
QDateTime fromReferenceSeconds(ReferenceSeconds seconds);

struct ABConnection {
  QString sessionId;
  std::optional<QString> name;
  std::optional<QUuid> folderId;
  ReferenceSeconds firstSeenAt = 0;
  ReferenceSeconds lastConnectedAt = 0;
  qint64 successCount = 0;
  // The signaling server's key for this machine at this host (64 lowercase
  // hexadecimal characters); absent until the host has let it in.
  std::optional<QString> deviceKey;
  // The host's identity (its public key) as first met, and the key it gave
  // this machine for the password's proof; 32 bytes each, absent until then.
  std::optional<QByteArray> hostKey;
  std::optional<QByteArray> hostDeviceKey;

  bool operator==(const ABConnection&) const = default;
};

struct ABFolder {
  QUuid id;
  QString name;
  ReferenceSeconds createdAt = 0;

  bool operator==(const ABFolder&) const = default;
};

struct AddressBookDocument {
  std::vector<ABConnection> connections;
  std::vector<ABFolder> folders;
};

// Compact JSON; upper-case UUIDs; absent name and folder leave their keys out.
QByteArray encodeAddressBook(const AddressBookDocument& document);
// Nothing when a required key is missing or a value has the wrong type anywhere.
std::optional<AddressBookDocument> decodeAddressBook(const QByteArray& bytes);

class AddressBookStore final : public QObject, public AddressBook {
  Q_OBJECT
  Q_PROPERTY(QVariantList connections READ connectionList NOTIFY changed)
  Q_PROPERTY(QVariantList folders READ folderList NOTIFY changed)

 public:
  static constexpr char kFileName[] = "addressbook.v1.json";

  // dataDirectory is the directory the "LunorRemote" sub-directory goes in.
  // Loads at once.
  explicit AddressBookStore(const QString& dataDirectory, QObject* parent = nullptr);

  const std::vector<ABConnection>& connections() const { return document_.connections; }
  const std::vector<ABFolder>& folders() const { return document_.folders; }
  QString filePath() const { return filePath_; }

  void recordSuccess(const QString& sessionId, const QString& name) override;
  QString deviceKey(const QString& sessionId) const override;
  void setDeviceKey(const QString& sessionId, const QString& key) override;
  QByteArray hostKey(const QString& sessionId) const override { return keyOf(sessionId, &ABConnection::hostKey); }
  void setHostKey(const QString& sessionId, const QByteArray& key) override {
    keep(sessionId, &ABConnection::hostKey, key);
  }
  QByteArray hostDeviceKey(const QString& sessionId) const override {
    return keyOf(sessionId, &ABConnection::hostDeviceKey);
  }
  void setHostDeviceKey(const QString& sessionId, const QByteArray& key) override {
    keep(sessionId, &ABConnection::hostDeviceKey, key);
  }
  void rename(const QString& sessionId, const QString& name);
  void move(const QString& sessionId, const std::optional<QUuid>& folderId);
  void deleteConnection(const QString& sessionId);
  QUuid addFolder(const QString& name);
  void renameFolder(const QUuid& id, const QString& name);
  void deleteFolder(const QUuid& id);
  // The connections in the folder (absent: outside any folder), most recent
  // first; equal times keep their stored order.
  std::vector<ABConnection> connections(const std::optional<QUuid>& folderId) const;

  void save();

  // For the screens: one map per entry with the field names as keys.
  QVariantList connectionList() const;
  QVariantList folderList() const;

 Q_SIGNALS:
  void changed();

 private:
  using KeyField = std::optional<QByteArray> ABConnection::*;
  // One of an entry's keys (empty when none, or no entry); keeps one of 32
  // bytes for the entry of sessionId, if there is one.
  QByteArray keyOf(const QString& sessionId, KeyField field) const;
  void keep(const QString& sessionId, KeyField field, const QByteArray& key);
  void load();
  void changedAndSaved();
  // Moves an unreadable book out of the way before it is overwritten.
  void keepUnreadableFileAside();

  QString filePath_;
  AddressBookDocument document_;
  bool unreadableOnDisk_ = false;
};

}  // namespace lunor
