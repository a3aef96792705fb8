// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/file_transfer.h"

#include <cstring>
#include <thread>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include "protocol/file_names.h"
#include "protocol/wire_text.h"

namespace lunor {
namespace {

using State = TransferProgress::State;
using Type = FileMessage::Type;

// Partial files by content (digest and size), process-wide: the same file
// offered again, on a new connection or by a new process, goes on where it
// stopped; one receiver at a time writes a part. Main thread.
struct Partial {
  QString path;
  bool inUse = false;
};
QHash<QByteArray, Partial>& partials() {
  static QHash<QByteArray, Partial> byContent;
  return byContent;
}
QByteArray contentKey(const FileMessage& offer) { return offer.sha256.toHex() + '/' + QByteArray::number(offer.size); }

bool over(State state) { return state != State::Waiting && state != State::Running; }

double rate(int64_t bytes, const QElapsedTimer& clock) {
  const qint64 ms = clock.isValid() ? clock.elapsed() : 0;
  return ms > 0 ? double(bytes) * 1000.0 / double(ms) : 0;
}


}  // namespace

// -------------------------------------------------------------- receiver --

FileReceiver::FileReceiver(Settings settings, TransferChannel channel, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), channel_(std::move(channel)) {
  if (!settings_.freeBytes) {
    settings_.freeBytes = [](const QString& folder) { return int64_t(QStorageInfo(folder).bytesAvailable()); };
  }
}

FileReceiver::~FileReceiver() {
  // Gone without an end (its session went): what it wrote waits for the
  // same file offered again.
  file_.close();
  releasePartial(/*keep=*/true);
}

QString FileReceiver::savedPath() const {
  return progress_.state == State::Done ? QDir(settings_.folder).filePath(progress_.name) : QString();
}

void FileReceiver::receive(const QByteArray& data, bool binary) {
  if (over(progress_.state)) return;
  if (binary) {
    if (progress_.state != State::Running || !file_.isOpen()) return;
    if (progress_.confirmed + data.size() > progress_.size) {
      channel_.send(encodeFileMessage({.type = Type::Failed, .reason = QStringLiteral("plus d’octets qu’annoncé")}), false);
      finish(State::Failed, QStringLiteral("plus d’octets qu’annoncé"));
      removePartial();
      return;
    }
    if (file_.write(data) != data.size()) {
      channel_.send(encodeFileMessage({.type = Type::Failed, .reason = QStringLiteral("écriture impossible")}), false);
      finish(State::Failed, QStringLiteral("écriture impossible : ") + file_.errorString());
      removePartial();
      return;
    }
    hash_.add(data);
    progress_.confirmed += data.size();
    progress_.bytesPerSecond = rate(progress_.confirmed - startOffset_, clock_);
    if (progress_.confirmed == progress_.size) {
      file_.close();
      if (hash_.result() != offer_.sha256) {
        channel_.send(encodeFileMessage({.type = Type::Failed, .reason = QStringLiteral("empreinte SHA-256 différente")}), false);
        removePartial();
        finish(State::Failed, QStringLiteral("empreinte SHA-256 différente : fichier supprimé"));
        return;
      }
      // The name chosen with the part, unless a file took it meanwhile.
      QString final = partialPath_.chopped(int(std::strlen(".part")));
      if (QFileInfo::exists(final)) {
        final = QDir(settings_.folder).filePath(unusedFileName(settings_.folder, QFileInfo(final).fileName()));
      }
      if (!QFile::rename(partialPath_, final)) {
        channel_.send(encodeFileMessage({.type = Type::Failed, .reason = QStringLiteral("écriture impossible")}), false);
        removePartial();
        finish(State::Failed, QStringLiteral("impossible de nommer le fichier reçu"));
        return;
      }
      progress_.name = QFileInfo(final).fileName();
      releasePartial(/*keep=*/false);
      channel_.send(encodeFileMessage({.type = Type::Done}), false);
      finish(State::Done);
      return;
    }
    if (progress_.confirmed - lastAck_ >= kAckEveryBytes) {
      file_.flush();
      lastAck_ = progress_.confirmed;
      channel_.send(encodeFileMessage({.type = Type::Ack, .offset = lastAck_}), false);
    }
    Q_EMIT progressChanged();
    return;
  }

  const auto message = decodeFileMessage(data);
  if (!message) return;
  switch (message->type) {
    case Type::Offer: {
      if (progress_.state != State::Waiting || !offer_.id.isEmpty()) return;  // one offer a channel
      offer_ = *message;
      progress_.name = sanitizeFileName(message->name);
      progress_.size = message->size;
      if (message->size > settings_.maxBytes) {
        decline(QStringLiteral("fichier trop grand (%1, limite %2)").arg(mebibytes(message->size), mebibytes(settings_.maxBytes)));
        return;
      }
      QDir().mkpath(settings_.folder);
      const auto partial = partials().constFind(contentKey(*message));
      const int64_t held =
          partial != partials().cend() && !partial->inUse ? std::min<int64_t>(QFileInfo(partial->path).size(), message->size) : 0;
      if (settings_.freeBytes(settings_.folder) < message->size - held) {
        decline(QStringLiteral("pas assez de place (%1 nécessaires)").arg(mebibytes(message->size - held)));
        return;
      }
      Q_EMIT offered();
      return;
    }
    case Type::Cancel:
      removePartial();
      finish(State::Cancelled, QStringLiteral("annulé par l’autre ordinateur"));
      return;
    default:
      return;  // the sender's side of the conversation only
  }
}

void FileReceiver::accept() {
  if (progress_.state != State::Waiting || offer_.id.isEmpty()) return;
  // Resumed: what an earlier connection wrote, read again for the digest.
  Partial& partial = partials()[contentKey(offer_)];
  if (partial.inUse || partial.path.isEmpty() || !QFileInfo::exists(partial.path)) {
    if (partial.inUse) {
      // The same file arriving twice at once: this one in a part of its own.
      const QString name = unusedFileName(settings_.folder, progress_.name);
      partialPath_ = QDir(settings_.folder).filePath(name + QStringLiteral(".part"));
    } else {
      const QString name = unusedFileName(settings_.folder, progress_.name);
      partial.path = partialPath_ = QDir(settings_.folder).filePath(name + QStringLiteral(".part"));
      partial.inUse = ownsPartial_ = true;
    }
  } else {
    partialPath_ = partial.path;
    partial.inUse = ownsPartial_ = true;
  }
  file_.setFileName(partialPath_);
  if (!file_.open(QIODevice::ReadWrite)) {
    releasePartial(/*keep=*/false);
    decline(QStringLiteral("écriture impossible : ") + file_.errorString());
    return;
  }
  int64_t held = std::min<int64_t>(file_.size(), offer_.size);
  file_.resize(held);
  hash_.reset();
  for (int64_t at = 0; at < held;) {
    const QByteArray piece = file_.read(std::min<int64_t>(held - at, 1 << 20));
    if (piece.isEmpty()) break;
    hash_.add(piece);
    at += piece.size();
  }
  file_.seek(held);
  progress_.confirmed = lastAck_ = startOffset_ = held;
  progress_.state = State::Running;
  progress_.resumedFrom = held;
  clock_.start();
  channel_.send(encodeFileMessage({.type = Type::Accept, .offset = held}), false);
  Q_EMIT progressChanged();
  if (held == offer_.size) receive(QByteArray(), true);  // everything was there: check it now
}

void FileReceiver::decline(const QString& reason) {
  if (over(progress_.state)) return;
  channel_.send(encodeFileMessage({.type = Type::Decline, .reason = reason}), false);
  finish(State::Declined, reason);
}

void FileReceiver::cancel() {
  if (over(progress_.state)) return;
  channel_.send(encodeFileMessage({.type = Type::Cancel}), false);
  removePartial();
  finish(State::Cancelled, QStringLiteral("annulé"));
}

void FileReceiver::interrupt() {
  if (over(progress_.state)) return;
  file_.flush();
  file_.close();
  releasePartial(/*keep=*/true);
  finish(State::Failed, QStringLiteral("connexion perdue : reprise à la prochaine offre"));
}

void FileReceiver::removePartial() {
  file_.close();
  if (!partialPath_.isEmpty()) QFile::remove(partialPath_);
  releasePartial(/*keep=*/false);
}

void FileReceiver::releasePartial(bool keep) {
  if (!ownsPartial_) return;
  ownsPartial_ = false;
  if (keep) {
    partials()[contentKey(offer_)].inUse = false;
  } else {
    partials().remove(contentKey(offer_));
  }
}

void FileReceiver::finish(State state, const QString& reason) {
  progress_.state = state;
  progress_.reason = reason;
  Q_EMIT progressChanged();
}

// ---------------------------------------------------------------- sender --

FileSender::FileSender(QString path, QString id, TransferChannel channel, QString name, QObject* parent)
    : QObject(parent), path_(std::move(path)), id_(std::move(id)), channel_(std::move(channel)) {
  progress_.name = name.isEmpty() ? QFileInfo(path_).fileName() : std::move(name);
  connect(&timer_, &QTimer::timeout, this, &FileSender::pump);
}

void FileSender::start() {
  // The digest takes a while for a large file: off the main thread.
  // The answer goes through the application object: the sender may be gone
  // by then, which only the main thread, where it lives and dies, can tell.
  std::thread([path = path_, alive = std::weak_ptr<bool>(alive_), self = this] {
    QFile file(path);
    QString error;
    QByteArray digest;
    if (file.open(QIODevice::ReadOnly)) {
      digest = Sha256::of(file, &error);
    } else {
      error = file.errorString();
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, alive, digest, error] {
          if (!alive.expired()) self->offer(digest, error);
        },
        Qt::QueuedConnection);
  }).detach();
}

void FileSender::offer(const QByteArray& digest, const QString& error) {
  if (over(progress_.state)) return;
  file_.setFileName(path_);
  if (!error.isEmpty() || !file_.open(QIODevice::ReadOnly)) {
    finish(State::Failed, QStringLiteral("lecture impossible : ") + (error.isEmpty() ? file_.errorString() : error));
    return;
  }
  progress_.size = file_.size();
  channel_.send(encodeFileMessage({.type = Type::Offer, .id = id_, .name = progress_.name, .size = progress_.size,
                                   .sha256 = digest}),
                false);
}

void FileSender::receive(const QByteArray& data, bool binary) {
  if (binary || over(progress_.state)) return;
  const auto message = decodeFileMessage(data);
  if (!message) return;
  switch (message->type) {
    case Type::Accept:
      if (progress_.state != State::Waiting || message->offset > progress_.size || !file_.seek(message->offset)) return;
      sent_ = progress_.confirmed = progress_.resumedFrom = message->offset;
      progress_.state = State::Running;
      clock_.start();
      Q_EMIT progressChanged();
      pump();
      return;
    case Type::Ack:
      if (message->offset > sent_) return;
      progress_.confirmed = message->offset;
      progress_.bytesPerSecond = rate(progress_.confirmed - progress_.resumedFrom, clock_);
      Q_EMIT progressChanged();
      if (inFlightRoom()) pump();  // the window opened again
      return;
    case Type::Done:
      progress_.confirmed = progress_.size;
      finish(State::Done);
      return;
    case Type::Decline:
      finish(State::Declined, message->reason);
      return;
    case Type::Failed:
      finish(State::Failed, message->reason);
      return;
    case Type::Cancel:
      finish(State::Cancelled, QStringLiteral("annulé par l’autre ordinateur"));
      return;
    case Type::Offer:
      return;
  }
}

void FileSender::interrupt() {
  if (over(progress_.state)) return;
  interrupted_ = true;
  finish(State::Failed, QStringLiteral("connexion perdue : reprise à la prochaine connexion"));
}

bool FileSender::resumable() const { return !over(progress_.state) || interrupted_; }

void FileSender::cancel() {
  if (over(progress_.state)) return;
  channel_.send(encodeFileMessage({.type = Type::Cancel}), false);
  finish(State::Cancelled, QStringLiteral("annulé"));
}

bool FileSender::inFlightRoom() const {
  return progress_.state == State::Running && sent_ - progress_.confirmed < window() &&
         channel_.buffered() < kHighWaterBytes;
}

int64_t FileSender::window() {
  static const int64_t bytes = [] {
    bool ok = false;
    const int64_t chosen = qEnvironmentVariableIntValue("LUNOR_FILE_WINDOW", &ok);
    return ok && chosen >= kFileChunkBytes ? chosen : kWindowBytes;
  }();
  return bytes;
}

void FileSender::pump() {
  if (progress_.state != State::Running) return timer_.stop();
  // A few pieces a turn: each send waits for the library's threads, and
  // the main thread also carries the person's input to the other side.
  int pieces = 0;
  bool room = false;
  while (sent_ < progress_.size && (room = inFlightRoom()) && pieces++ < kPiecesPerTurn) {
    const QByteArray chunk = file_.read(kFileChunkBytes);
    if (chunk.isEmpty()) {
      finish(State::Failed, QStringLiteral("lecture impossible : ") + file_.errorString());
      return;
    }
    if (!channel_.send(chunk, true)) return interrupt();  // the channel is closing
    sent_ += chunk.size();
  }
  if (sent_ < progress_.size) {
    timer_.start(room ? 0 : kPollMs);  // at once while the buffer has room
  } else {
    timer_.stop();  // all sent: the receiver's "done" ends it
  }
}

void FileSender::finish(State state, const QString& reason) {
  timer_.stop();
  file_.close();
  progress_.state = state;
  progress_.reason = reason;
  Q_EMIT progressChanged();
}

}  // namespace lunor
