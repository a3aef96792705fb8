#pragma once

// Who owns a room ID: the SHA-256 digest of the owner key its host sent when
// it first claimed the ID. The server keeps only digests.

#include <functional>
#include <memory>

#include <QByteArray>
#include <QHash>
#include <QString>

namespace lunor::signal {

enum class Claim {
  Owner,      // the key was already the room's
  NewOwner,   // nothing was bound: the key is the room's from now on
  Unclaimed,  // no key given and none bound: first come, as before keys
  Refused,    // bound to another key, or bound and no key given
};

class OwnerStore {
 public:
  virtual ~OwnerStore() = default;
  // Binds an unbound room to `digest` (hex; empty: no key given) and says
  // what the caller is to the room. `done` runs on the main thread, now or
  // later; never after the store is gone.
  virtual void claim(const QString& roomId, const QString& digest, std::function<void(Claim)> done) = 0;
};

// The decision for one room, from what is bound to it.
Claim decideClaim(const QString& bound, const QString& digest);
// The digest a key is kept as.
QString ownerDigest(const QString& ownerKey);
// True for an acceptable owner key: 64 lowercase hexadecimal characters.
bool isOwnerKey(const QString& key);

// In memory: for tests, and a server that must not write anything.
class MemoryOwnerStore final : public OwnerStore {
 public:
  void claim(const QString& roomId, const QString& digest, std::function<void(Claim)> done) override;

 private:
  QHash<QString, QString> owners_;
};

// An SQLite file; claims not renewed for `ttlDays` are forgotten (an owner
// that lost its key gets its ID back after that).
class SqliteOwnerStore final : public OwnerStore {
 public:
  SqliteOwnerStore(const QString& path, int ttlDays);
  ~SqliteOwnerStore() override;
  // What went wrong opening the file, or empty.
  QString error() const { return error_; }
  void claim(const QString& roomId, const QString& digest, std::function<void(Claim)> done) override;

 private:
  QString connection_;
  QString error_;
  qint64 ttlSeconds_;
};

}  // namespace lunor::signal
