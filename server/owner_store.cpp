#include "owner_store.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include "rooms.h"

namespace lunor::signal {

Claim decideClaim(const QString& bound, const QString& digest) {
  if (bound.isEmpty()) return digest.isEmpty() ? Claim::Unclaimed : Claim::NewOwner;
  if (digest.isEmpty()) return Claim::Refused;
  return constantTimeEquals(bound.toLatin1(), digest.toLatin1()) ? Claim::Owner : Claim::Refused;
}

QString ownerDigest(const QString& ownerKey) {
  return QString::fromLatin1(QCryptographicHash::hash(ownerKey.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool isOwnerKey(const QString& key) { return isPasswordDigest(key); }

void MemoryOwnerStore::claim(const QString& roomId, const QString& digest, std::function<void(Claim)> done) {
  const QString bound = owners_.value(roomId);
  const Claim claim = decideClaim(bound, digest);
  if (claim == Claim::NewOwner) owners_.insert(roomId, digest);
  done(claim);
}

SqliteOwnerStore::SqliteOwnerStore(const QString& path, int ttlDays)
    : connection_(QStringLiteral("owners-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      ttlSeconds_(qint64(ttlDays) * 24 * 3600) {
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
  db.setDatabaseName(path);
  if (!db.open()) {
    error_ = db.lastError().text();
    return;
  }
  QSqlQuery query(db);
  for (const char* statement :
       {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL",
        "CREATE TABLE IF NOT EXISTS owners (room TEXT PRIMARY KEY, digest TEXT NOT NULL, "
        "renewed INTEGER NOT NULL)"}) {
    if (!query.exec(QString::fromLatin1(statement))) {
      error_ = query.lastError().text();
      return;
    }
  }
}

SqliteOwnerStore::~SqliteOwnerStore() {
  { QSqlDatabase::database(connection_, false).close(); }
  QSqlDatabase::removeDatabase(connection_);
}

void SqliteOwnerStore::claim(const QString& roomId, const QString& digest, std::function<void(Claim)> done) {
  QSqlDatabase db = QSqlDatabase::database(connection_, false);
  const qint64 now = QDateTime::currentSecsSinceEpoch();
  QSqlQuery query(db);
  // A claim not renewed in time is forgotten.
  query.prepare(QStringLiteral("DELETE FROM owners WHERE room = ? AND renewed < ?"));
  query.addBindValue(roomId);
  query.addBindValue(now - ttlSeconds_);
  query.exec();
  query.prepare(QStringLiteral("SELECT digest FROM owners WHERE room = ?"));
  query.addBindValue(roomId);
  QString bound;
  if (query.exec() && query.next()) bound = query.value(0).toString();
  const Claim claim = decideClaim(bound, digest);
  if (claim == Claim::Owner || claim == Claim::NewOwner) {  // bound, or renewed
    query.prepare(QStringLiteral("INSERT OR REPLACE INTO owners (room, digest, renewed) VALUES (?, ?, ?)"));
    query.addBindValue(roomId);
    query.addBindValue(digest);
    query.addBindValue(now);
    query.exec();
  }
  done(claim);
}

}  // namespace lunor::signal
