// SPDX-License-Identifier: GPL-3.0-or-later
#include "owner_store.h"

#include <algorithm>
#include <array>

#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include "event_log.h"

namespace lunor::signal {

bool constantTimeEquals(const QByteArray& a, const QByteArray& b) {
  const qsizetype length = std::max(a.size(), b.size());
  unsigned char difference = a.size() == b.size() ? 0 : 1;
  for (qsizetype i = 0; i < length; ++i) {
    const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
    const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    difference |= static_cast<unsigned char>(x ^ y);
  }
  return difference == 0;
}


Claim decideClaim(const QString& bound, const QString& digest) {
  if (bound.isEmpty()) return digest.isEmpty() ? Claim::Unclaimed : Claim::NewOwner;
  if (digest.isEmpty()) return Claim::Refused;
  return constantTimeEquals(bound.toLatin1(), digest.toLatin1()) ? Claim::Owner : Claim::Refused;
}

QString ownerDigest(const QString& ownerKey) {
  return QString::fromLatin1(QCryptographicHash::hash(ownerKey.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString unattendedDigest(const QString& unattendedHash) {
  return unattendedHash.isEmpty() ? QString() : ownerDigest(unattendedHash);
}


QString newDeviceKey() {
  std::array<quint32, 8> words;
  QRandomGenerator::system()->fillRange(words.data(), words.size());
  return QString::fromLatin1(
      QByteArray(reinterpret_cast<const char*>(words.data()), sizeof(words)).toHex());
}

// ---- in memory ----

void MemoryOwnerStore::claim(const QString& roomId, const QString& digest, std::function<void(Claim)> done) {
  const QString bound = owners_.value(roomId);
  const Claim claim = decideClaim(bound, digest);
  if (claim == Claim::NewOwner) {
    owners_.insert(roomId, digest);
    devices_.remove(roomId);
  }
  done(claim);
}

void MemoryOwnerStore::addDevice(const QString& roomId, const QString& device, const QString& hash,
                                 const QString& replaced, int keep) {
  QList<Device>& devices = devices_[roomId];
  devices.removeIf([&](const Device& d) { return d.digest == device || (!replaced.isEmpty() && d.digest == replaced); });
  devices.append({device, hash});
  while (devices.size() > std::max(1, keep)) devices.removeFirst();
}

void MemoryOwnerStore::isDevice(const QString& roomId, const QString& device, const QString& hash,
                                std::function<void(bool)> done) {
  const QList<Device> devices = devices_.value(roomId);
  done(std::any_of(devices.begin(), devices.end(),
                   [&](const Device& d) { return d.digest == device && d.hash == hash; }));
}

void MemoryOwnerStore::forgetDevices(const QString& roomId, const QString& except, std::function<void(bool)> done) {
  if (except.isEmpty()) {
    devices_.remove(roomId);
  } else if (auto it = devices_.find(roomId); it != devices_.end()) {
    it->removeIf([&](const Device& d) { return d.hash != except; });
  }
  if (done) done(true);
}

// ---- SQLite ----

// The connection, made, used and closed on the store's thread. A query that
// fails is logged and makes its caller refuse.
class SqliteOwnerStore::Database {
 public:
  Database(QString path, qint64 ttlSeconds) : path_(std::move(path)), ttlSeconds_(ttlSeconds) {}

  // An error text, or empty.
  QString open() {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path_);
    if (!db.open()) return db.lastError().text();
    QSqlQuery query(db);
    for (const char* statement :
         {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL",
          "CREATE TABLE IF NOT EXISTS owners (room TEXT PRIMARY KEY, digest TEXT NOT NULL, "
          "renewed INTEGER NOT NULL)",
          "CREATE TABLE IF NOT EXISTS devices (room TEXT NOT NULL, digest TEXT NOT NULL, hash TEXT NOT NULL, "
          "issued INTEGER NOT NULL, PRIMARY KEY (room, digest))"}) {
      if (!query.exec(QString::fromLatin1(statement))) return query.lastError().text();
    }
    return {};
  }

  void close() {
    { QSqlDatabase::database(connection_, false).close(); }
    QSqlDatabase::removeDatabase(connection_);
  }

  Claim claim(const QString& roomId, const QString& digest) {
    QSqlQuery query(db());
    // A claim not renewed in time is forgotten.
    if (!exec(query, "DELETE FROM owners WHERE room = ? AND renewed < ?", {roomId, now() - ttlSeconds_}, roomId)) {
      return Claim::Refused;
    }
    if (!exec(query, "SELECT digest FROM owners WHERE room = ?", {roomId}, roomId)) return Claim::Refused;
    QString bound;
    if (query.next()) {
      bound = query.value(0).toString();
    } else if (failed(query, roomId)) {
      return Claim::Refused;
    }
    const Claim claim = decideClaim(bound, digest);
    // A new owner does not inherit the devices of one whose claim lapsed.
    if (claim == Claim::NewOwner && !exec(query, "DELETE FROM devices WHERE room = ?", {roomId}, roomId)) {
      return Claim::Refused;
    }
    if (claim == Claim::Owner || claim == Claim::NewOwner) {  // bound, or renewed
      if (!exec(query, "INSERT OR REPLACE INTO owners (room, digest, renewed) VALUES (?, ?, ?)",
                {roomId, digest, now()}, roomId)) {
        return Claim::Refused;
      }
    }
    return claim;
  }

  void addDevice(const QString& roomId, const QString& device, const QString& hash, const QString& replaced,
                 int keep) {
    QSqlDatabase database = db();
    if (!database.transaction()) {
      logFailure(roomId, database.lastError().text());
      return;
    }
    QSqlQuery query(database);
    const qint64 issued = now();
    const bool done =
        exec(query, "DELETE FROM devices WHERE room = ? AND (issued < ? OR digest = ?)",
             {roomId, issued - ttlSeconds_, replaced}, roomId) &&
        exec(query, "INSERT OR REPLACE INTO devices (room, digest, hash, issued) VALUES (?, ?, ?, ?)",
             {roomId, device, text(hash), issued}, roomId) &&
        exec(query,
             "DELETE FROM devices WHERE room = ? AND rowid NOT IN "
             "(SELECT rowid FROM devices WHERE room = ? ORDER BY issued DESC, rowid DESC LIMIT ?)",
             {roomId, roomId, std::max(1, keep)}, roomId);
    if (!done || !database.commit()) {
      if (done) logFailure(roomId, database.lastError().text());
      database.rollback();
    }
  }

  bool isDevice(const QString& roomId, const QString& device, const QString& hash) {
    QSqlQuery query(db());
    if (!exec(query, "SELECT 1 FROM devices WHERE room = ? AND digest = ? AND hash = ? AND issued >= ?",
              {roomId, device, text(hash), now() - ttlSeconds_}, roomId)) {
      return false;
    }
    if (query.next()) return true;
    failed(query, roomId);
    return false;
  }

  bool forgetDevices(const QString& roomId, const QString& except) {
    QSqlQuery query(db());
    if (except.isEmpty()) return exec(query, "DELETE FROM devices WHERE room = ?", {roomId}, roomId);
    return exec(query, "DELETE FROM devices WHERE room = ? AND hash <> ?", {roomId, except}, roomId);
  }

 private:
  QSqlDatabase db() const { return QSqlDatabase::database(connection_, false); }
  static qint64 now() { return QDateTime::currentSecsSinceEpoch(); }
  // Bound as text: a null string would be bound as NULL.
  static QString text(const QString& value) { return value.isNull() ? QStringLiteral("") : value; }

  // Prepares and runs one statement; false (logged) when it fails.
  bool exec(QSqlQuery& query, const char* statement, const QVariantList& values, const QString& roomId) {
    if (query.prepare(QString::fromLatin1(statement))) {
      for (const QVariant& value : values) query.addBindValue(value);
      if (query.exec()) return true;
    }
    logFailure(roomId, query.lastError().text());
    return false;
  }
  // After a step that found no row: true (logged) when it was an error.
  bool failed(const QSqlQuery& query, const QString& roomId) {
    if (!query.lastError().isValid()) return false;
    logFailure(roomId, query.lastError().text());
    return true;
  }
  static void logFailure(const QString& roomId, const QString& error) {
    logEvent(QStringLiteral("owners-db-error"), {{"room", roomId}, {"error", error}});
  }

  const QString path_;
  const qint64 ttlSeconds_;
  const QString connection_ = QStringLiteral("owners-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
};

SqliteOwnerStore::SqliteOwnerStore(const QString& path, int ttlDays)
    : worker_(std::make_unique<QObject>()),
      database_(std::make_unique<Database>(path, qint64(ttlDays) * 24 * 3600)),
      answers_(std::make_unique<QObject>()) {
  thread_.setObjectName(QStringLiteral("owners-db"));
  worker_->moveToThread(&thread_);
  thread_.start();
  QMetaObject::invokeMethod(
      worker_.get(), [this] { error_ = database_->open(); }, Qt::BlockingQueuedConnection);
}

SqliteOwnerStore::~SqliteOwnerStore() {
  // Queued after every query asked for: they run first.
  QMetaObject::invokeMethod(
      worker_.get(), [database = database_.get()] { database->close(); }, Qt::BlockingQueuedConnection);
  thread_.quit();
  thread_.wait();
}

template <typename Result>
void SqliteOwnerStore::run(std::function<Result(Database&)> work, std::function<void(Result)> answer) {
  Q_ASSERT(QThread::currentThread() == answers_->thread());
  QMetaObject::invokeMethod(
      worker_.get(),
      [database = database_.get(), answers = answers_.get(), work = std::move(work),
       answer = std::move(answer)]() mutable {
        Result result = work(*database);
        if (!answer) return;
        // The store waits for this thread before it lets `answers` go.
        QMetaObject::invokeMethod(
            answers, [answer = std::move(answer), result] { answer(result); }, Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void SqliteOwnerStore::claim(const QString& roomId, const QString& digest, std::function<void(Claim)> done) {
  run<Claim>([roomId, digest](Database& database) { return database.claim(roomId, digest); }, std::move(done));
}

void SqliteOwnerStore::addDevice(const QString& roomId, const QString& device, const QString& hash,
                                 const QString& replaced, int keep) {
  run<bool>(
      [roomId, device, hash, replaced, keep](Database& database) {
        database.addDevice(roomId, device, hash, replaced, keep);
        return true;
      },
      {});
}

void SqliteOwnerStore::isDevice(const QString& roomId, const QString& device, const QString& hash,
                                std::function<void(bool)> done) {
  run<bool>([roomId, device, hash](Database& database) { return database.isDevice(roomId, device, hash); },
            std::move(done));
}

void SqliteOwnerStore::forgetDevices(const QString& roomId, const QString& except, std::function<void(bool)> done) {
  run<bool>([roomId, except](Database& database) { return database.forgetDevices(roomId, except); },
            std::move(done));
}

}  // namespace lunor::signal
