// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Who owns a room ID: the SHA-256 digest of the owner key its host sent when
// it first claimed the ID. Beside it, the room's devices: the digests of the
// device keys given to the clients it admitted, each with the digest of the
// room's unattended hash it was given under. The server keeps only digests.

#include <functional>
#include <memory>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QThread>

namespace lunor::signal {

enum class Claim {
  Owner,      // the key was already the room's
  NewOwner,   // nothing was bound: the key is the room's from now on
  Unclaimed,  // no key given and none bound: first come, as before keys
  Refused,    // bound to another key, or bound and no key given, or the store failed
};

class OwnerStore {
 public:
  virtual ~OwnerStore() = default;
  // Every answer below runs on the main thread, now or later, in the order
  // the calls were made; never after the store is gone.

  // Binds an unbound room to `digest` (hex; empty: no key given) and says
  // what the caller is to the room. A new owner starts without devices.
  virtual void claim(const QString& roomId, const QString& digest, std::function<void(Claim)> done) = 0;

  // Records the device `device` (a digest) as the room's, given under `hash`
  // (unattendedDigest() of the room's hash; empty: none). It takes the place
  // of `replaced` (the digest of the key the client showed; empty: none);
  // past `keep` devices the oldest go.
  virtual void addDevice(const QString& roomId, const QString& device, const QString& hash,
                         const QString& replaced, int keep) = 0;
  // done(true) when `device` is the room's, given under `hash`, and has not
  // lapsed. A store that fails answers false.
  virtual void isDevice(const QString& roomId, const QString& device, const QString& hash,
                        std::function<void(bool)> done) = 0;
  // Forgets the room's devices given under another hash than `except`; all
  // of them when `except` is empty. done(false) when the store failed.
  virtual void forgetDevices(const QString& roomId, const QString& except, std::function<void(bool)> done = {}) = 0;
};

// Compares two strings without an early exit on the first difference.
bool constantTimeEquals(const QByteArray& a, const QByteArray& b);
// The decision for one room, from what is bound to it.
Claim decideClaim(const QString& bound, const QString& digest);
// The digest a key (an owner's or a device's) is kept as.
QString ownerDigest(const QString& ownerKey);
// The digest a room's unattended hash is kept as beside its devices; empty for none.
QString unattendedDigest(const QString& unattendedHash);
// A new device key: 256 bits from the system's generator, as 64 lowercase hex.
QString newDeviceKey();

// In memory: for tests, and a server that must not write anything. Nothing lapses.
class MemoryOwnerStore final : public OwnerStore {
 public:
  void claim(const QString& roomId, const QString& digest, std::function<void(Claim)> done) override;
  void addDevice(const QString& roomId, const QString& device, const QString& hash, const QString& replaced,
                 int keep) override;
  void isDevice(const QString& roomId, const QString& device, const QString& hash,
                std::function<void(bool)> done) override;
  void forgetDevices(const QString& roomId, const QString& except, std::function<void(bool)> done) override;

 private:
  struct Device {
    QString digest;
    QString hash;
  };
  QHash<QString, QString> owners_;
  QHash<QString, QList<Device>> devices_;  // by room, oldest first
};

// An SQLite file; claims not renewed and devices not given again for
// `ttlDays` are forgotten (an owner that lost its key gets its ID back after
// that). The queries run on a thread of the store's own, one after the
// other; any that fails refuses what it was for (and is logged).
class SqliteOwnerStore final : public OwnerStore {
 public:
  // Opens the file (waiting for it: the server is not serving yet).
  SqliteOwnerStore(const QString& path, int ttlDays);
  // Waits for the queries already asked for; their answers not yet given are dropped.
  ~SqliteOwnerStore() override;
  SqliteOwnerStore(const SqliteOwnerStore&) = delete;
  SqliteOwnerStore& operator=(const SqliteOwnerStore&) = delete;

  // What went wrong opening the file, or empty.
  QString error() const { return error_; }
  void claim(const QString& roomId, const QString& digest, std::function<void(Claim)> done) override;
  void addDevice(const QString& roomId, const QString& device, const QString& hash, const QString& replaced,
                 int keep) override;
  void isDevice(const QString& roomId, const QString& device, const QString& hash,
                std::function<void(bool)> done) override;
  void forgetDevices(const QString& roomId, const QString& except, std::function<void(bool)> done) override;

 private:
  class Database;
  // Runs `work` on the store's thread, then `answer` with its result on the
  // thread that made the store.
  template <typename Result>
  void run(std::function<Result(Database&)> work, std::function<void(Result)> answer);

  QThread thread_;
  std::unique_ptr<QObject> worker_;    // lives on thread_: the queries are queued to it
  std::unique_ptr<Database> database_;  // used on thread_ only
  std::unique_ptr<QObject> answers_;   // lives here: gone, the answers still queued to it go too
  QString error_;
};

}  // namespace lunor::signal
