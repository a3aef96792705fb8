// SPDX-License-Identifier: GPL-3.0-or-later
#include "features/received_parts.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include "protocol/wire_text.h"

namespace lunor {
namespace {

const QString kPartSuffix = QStringLiteral(".part");
const QString kNoteSuffix = QStringLiteral(".json");
// A part or note without its other half may be one another process is
// making right now: gone only after this long.
constexpr int64_t kOrphanAgeMs = 3600 * 1000;

struct Note {
  QString peer;
  QString name;
  int64_t size = 0;
};

std::optional<Note> readNote(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024) return std::nullopt;
  const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
  if (!object.value(QLatin1String("peer")).isString()) return std::nullopt;
  return Note{object.value(QLatin1String("peer")).toString(), object.value(QLatin1String("name")).toString(),
              int64_t(object.value(QLatin1String("size")).toDouble())};
}

int64_t ageMs(const QFileInfo& info, const QDateTime& now) { return info.lastModified().msecsTo(now); }

}  // namespace

int64_t ReceivedParts::freeBytesOf(const QString& folder) {
  std::error_code error;
  const auto space = std::filesystem::space(folder.toStdString(), error);
  if (error || space.available == static_cast<std::uintmax_t>(-1)) return -1;
  return int64_t(std::min<std::uintmax_t>(space.available, INT64_MAX));
}

ReceivedParts& ReceivedParts::of(const QString& folder) {
  static QHash<QString, std::shared_ptr<ReceivedParts>> byFolder;
  const QString path = QDir::cleanPath(QDir(folder).absolutePath());
  auto& parts = byFolder[path];
  if (!parts) {
    parts.reset(new ReceivedParts(path));
    parts->sweep();
  }
  return *parts;
}

ReceivedParts::ReceivedParts(QString folder) : folder_(std::move(folder)) {}

QString ReceivedParts::partsFolder() const { return QDir(folder_).filePath(QLatin1String(kPartsFolder)); }

QString ReceivedParts::keyOf(const Content& content) const {
  if (content.resumeKey.isEmpty()) return QUuid::createUuid().toString(QUuid::Id128);  // one of its own
  QCryptographicHash hash(QCryptographicHash::Sha256);
  for (const QByteArray& field :
       {content.peer.toUtf8(), content.resumeKey, content.sha256, QByteArray::number(qlonglong(content.size))}) {
    hash.addData(QByteArray::number(field.size()) + ':' + field);
  }
  return QString::fromLatin1(hash.result().toHex());
}

int64_t ReceivedParts::held(const Content& content) const {
  if (content.resumeKey.isEmpty()) return 0;
  const QString key = keyOf(content);
  if (taken_.count(key)) return 0;
  const QFileInfo part(QDir(partsFolder()).filePath(key + kPartSuffix));
  return part.isFile() ? std::min<int64_t>(part.size(), content.size) : 0;
}

int64_t ReceivedParts::promised() const {
  int64_t total = 0;
  for (const auto& [key, taken] : taken_) total += std::max<int64_t>(0, taken.size - taken.written);
  return total;
}

std::optional<QString> ReceivedParts::refusal(int64_t bytes, const FreeBytes& freeBytes) const {
  QDir().mkpath(folder_);
  const int64_t free = freeBytes ? freeBytes(folder_) : freeBytesOf(folder_);
  if (free < 0) return std::nullopt;  // unknown: a failed write will say so
  if (bytes <= free - promised() - kFreeMarginBytes) return std::nullopt;
  return QStringLiteral("pas assez de place (%1 nécessaires)").arg(mebibytes(bytes));
}

std::optional<ReceivedParts::Part> ReceivedParts::take(const Content& content, const QString& name, QString* error) {
  if (!QDir().mkpath(partsFolder())) {
    if (error) *error = QStringLiteral("dossier impossible à créer : ") + partsFolder();
    return std::nullopt;
  }
  QString key = keyOf(content);
  if (taken_.count(key)) key = keyOf({});  // the same file arriving twice at once: a part of its own
  const QDir dir(partsFolder());
  Part part{key, dir.filePath(key + kPartSuffix), 0};
  const QFileInfo existing(part.path);
  part.held = existing.isFile() ? std::min<int64_t>(existing.size(), content.size) : 0;
  QFile note(dir.filePath(key + kNoteSuffix));
  const QByteArray noteText = QJsonDocument(QJsonObject{{QStringLiteral("peer"), content.peer},
                                                        {QStringLiteral("name"), name},
                                                        {QStringLiteral("size"), double(content.size)}})
                                  .toJson(QJsonDocument::Compact);
  if (!note.open(QIODevice::WriteOnly | QIODevice::Truncate) || note.write(noteText) != noteText.size() ||
      !note.flush()) {
    if (error) *error = note.errorString();
    note.close();
    note.remove();
    return std::nullopt;
  }
  taken_[key] = {content.size, part.held};
  return part;
}

void ReceivedParts::written(const QString& key, int64_t bytes) {
  if (const auto found = taken_.find(key); found != taken_.end()) found->second.written = bytes;
}

void ReceivedParts::release(const QString& key, bool keep) {
  const bool wasTaken = taken_.erase(key) > 0;
  if (!keep) {
    forget(key);
    return;
  }
  if (!wasTaken) return;
  QFile note(QDir(partsFolder()).filePath(key + kNoteSuffix));
  const auto kept = readNote(note.fileName());
  sweep(kept ? kept->peer : QString());
}

void ReceivedParts::forget(const QString& key) {
  const QDir dir(partsFolder());
  QFile::remove(dir.filePath(key + kPartSuffix));
  QFile::remove(dir.filePath(key + kNoteSuffix));
}

void ReceivedParts::sweep(const QString& keepingPeer) {
  const QDir dir(partsFolder());
  if (!dir.exists()) return;
  const QDateTime now = QDateTime::currentDateTimeUtc();
  struct Kept {
    QString key;
    QDateTime modified;
    int64_t size;
  };
  std::vector<Kept> peerParts;
  for (const QFileInfo& info : dir.entryInfoList(QDir::Files | QDir::Hidden)) {
    const QString file = info.fileName();
    const bool isPart = file.endsWith(kPartSuffix);
    const QString key = file.left(file.size() - (isPart ? kPartSuffix : kNoteSuffix).size());
    if (taken_.count(key)) continue;
    if (!isPart) {
      if (!file.endsWith(kNoteSuffix) || (!QFileInfo::exists(dir.filePath(key + kPartSuffix)) && ageMs(info, now) > kOrphanAgeMs)) {
        if (file.endsWith(kNoteSuffix)) QFile::remove(info.filePath());
      }
      continue;
    }
    const auto note = readNote(dir.filePath(key + kNoteSuffix));
    if (ageMs(info, now) > kMaxAgeMs || (!note && ageMs(info, now) > kOrphanAgeMs)) {
      forget(key);
      continue;
    }
    if (note && !keepingPeer.isNull() && note->peer == keepingPeer) {
      peerParts.push_back({key, info.lastModified(), info.size()});
    }
  }
  // A peer's parts within its bounds, those being written and the newest kept.
  std::sort(peerParts.begin(), peerParts.end(), [](const Kept& a, const Kept& b) { return a.modified > b.modified; });
  int count = 0;
  int64_t bytes = 0;
  for (const auto& [key, taken] : taken_) {
    const auto note = readNote(dir.filePath(key + kNoteSuffix));
    if (note && note->peer == keepingPeer) ++count, bytes += taken.size;
  }
  for (const Kept& part : peerParts) {
    if (++count > kMaxPartsPerPeer || (bytes += part.size) > kMaxPeerBytes) forget(part.key);
  }
}

}  // namespace lunor
