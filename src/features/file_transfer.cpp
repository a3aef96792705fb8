// SPDX-License-Identifier: GPL-3.0-or-later
#include "features/file_transfer.h"

#include <utility>

#include <QDir>
#include <QFileInfo>

#include "protocol/file_names.h"
#include "protocol/wire_text.h"

namespace lunor {
namespace {

using State = TransferProgress::State;
using Type = FileMessage::Type;

bool over(State state) { return state != State::Waiting && state != State::Running; }

double rate(int64_t bytes, const QElapsedTimer& clock) {
  const qint64 ms = clock.isValid() ? clock.elapsed() : 0;
  return ms > 0 ? double(bytes) * 1000.0 / double(ms) : 0;
}

const QString kWriteFailed = QStringLiteral("écriture impossible");

}  // namespace

// ---------------------------------------------------------------- reader --

void FileReader::digest(const Epoch::Ticket& asker, const QString& path, int64_t bytes, Done done) {
  using Result = std::pair<std::shared_ptr<Sha256>, QString>;
  worker_.run<Result>(
      this,
      [path, bytes] {
        auto digest = std::make_shared<Sha256>();
        QFile file(path);
        QString error;
        if (!file.open(QIODevice::ReadOnly)) return Result{nullptr, file.errorString()};
        if (!digest->addFrom(file, bytes, &error)) return Result{nullptr, error};
        return Result{digest, QString()};
      },
      [asker, done = std::move(done)](Result result) {
        if (asker.isCurrent()) done(std::move(result.first), result.second);
      });
}

// -------------------------------------------------------------- receiver --

FileReceiver::FileReceiver(Settings settings, TransferChannel channel, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), channel_(std::move(channel)) {}

FileReceiver::~FileReceiver() {
  // Gone without an end (its session went): what it wrote waits for the
  // same sender to go on.
  file_.close();
  releasePart(/*keep=*/true);
}

QString FileReceiver::savedPath() const {
  return progress_.state == State::Done ? QDir(settings_.folder).filePath(progress_.name) : QString();
}

void FileReceiver::receive(const QByteArray& data, bool binary) {
  if (over(progress_.state)) return;
  if (binary) {
    if (progress_.state == State::Running && file_.isOpen()) written(data);
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
      auto& parts = ReceivedParts::of(settings_.folder);
      const int64_t held = parts.held({settings_.peer, offer_.resumeKey, offer_.sha256, offer_.size});
      if (const auto refusal = parts.refusal(message->size - held, settings_.freeBytes)) {
        decline(*refusal);
        return;
      }
      Q_EMIT offered();
      return;
    }
    case Type::Cancel:
      releasePart(/*keep=*/false);
      progress_.peerEnded = true;
      finish(State::Cancelled, QStringLiteral("annulé par l’autre ordinateur"));
      return;
    default:
      return;  // the sender's side of the conversation only
  }
}

void FileReceiver::written(const QByteArray& data) {
  if (progress_.confirmed + data.size() > progress_.size) {
    return fail(QStringLiteral("plus d’octets qu’annoncé"), QStringLiteral("plus d’octets qu’annoncé"));
  }
  // Unbuffered: a write the disk refuses (full, a quota, a size limit)
  // fails here, not later at a flush nobody reads.
  if (file_.write(data) != data.size()) return fail(kWriteFailed, kWriteFailed + QStringLiteral(" : ") + file_.errorString());
  hash_.add(data);
  progress_.confirmed += data.size();
  progress_.bytesPerSecond = rate(progress_.confirmed - startOffset_, clock_);
  ReceivedParts::of(settings_.folder).written(part_->key, progress_.confirmed);
  if (progress_.confirmed == progress_.size) return complete();
  if (progress_.confirmed - lastAck_ >= kAckEveryBytes) {
    lastAck_ = progress_.confirmed;
    channel_.send(encodeFileMessage({.type = Type::Ack, .offset = lastAck_}), false);
  }
  Q_EMIT progressChanged();
}

void FileReceiver::complete() {
  // What the disk holds, not what was handed to it.
  const bool flushed = file_.flush();
  const QString error = file_.errorString();
  file_.close();
  const int64_t onDisk = QFileInfo(part_->path).size();
  if (!flushed || onDisk != offer_.size) {
    return fail(kWriteFailed, QStringLiteral("écriture impossible : %1 octets sur %2 écrits%3")
                                  .arg(onDisk)
                                  .arg(offer_.size)
                                  .arg(flushed ? QString() : QStringLiteral(" (") + error + QLatin1Char(')')));
  }
  if (hash_.result() != offer_.sha256) {
    return fail(QStringLiteral("empreinte SHA-256 différente"), QStringLiteral("empreinte SHA-256 différente : fichier supprimé"));
  }
  // The name the person was shown, unless a file took it meanwhile.
  for (int attempt = 0;; ++attempt) {
    const QString name = unusedFileName(settings_.folder, progress_.name);
    if (QFile::rename(part_->path, QDir(settings_.folder).filePath(name))) {
      progress_.name = name;
      break;
    }
    if (attempt == 3) return fail(kWriteFailed, QStringLiteral("impossible de nommer le fichier reçu"));
  }
  releasePart(/*keep=*/false);
  channel_.send(encodeFileMessage({.type = Type::Done}), false);
  finish(State::Done);
}

void FileReceiver::fail(const QString& wire, const QString& reason) {
  if (!wire.isEmpty()) channel_.send(encodeFileMessage({.type = Type::Failed, .reason = wire}), false);
  releasePart(/*keep=*/false);
  finish(State::Failed, reason);
}

void FileReceiver::accept() {
  if (progress_.state != State::Waiting || offer_.id.isEmpty() || accepted_) return;
  QString error;
  part_ = ReceivedParts::of(settings_.folder)
              .take({settings_.peer, offer_.resumeKey, offer_.sha256, offer_.size}, progress_.name, &error);
  if (!part_) return decline(kWriteFailed + QStringLiteral(" : ") + error);
  accepted_ = true;
  const int64_t held = part_->held;
  if (held == 0) return resumeFrom(0, std::make_shared<Sha256>(), {});
  // Resumed: what an earlier connection wrote, read again for the digest,
  // off the main thread (parts of gigabytes).
  if (!settings_.reader) return resumeFrom(0, std::make_shared<Sha256>(), {});
  settings_.reader->digest(lifetime_.ticket(), part_->path, held, [this, held](std::shared_ptr<Sha256> digest, const QString& error) {
    resumeFrom(held, std::move(digest), error);
  });
}

void FileReceiver::resumeFrom(int64_t held, std::shared_ptr<Sha256> digest, const QString& error) {
  if (progress_.state != State::Waiting || !part_) return;  // ended meanwhile
  if (!digest) held = 0, digest = std::make_shared<Sha256>();  // unreadable: start over
  (void)error;
  file_.setFileName(part_->path);
  if (!file_.open(QIODevice::ReadWrite | QIODevice::Unbuffered) || !file_.resize(held) || !file_.seek(held)) {
    const QString reason = kWriteFailed + QStringLiteral(" : ") + file_.errorString();
    releasePart(/*keep=*/false);
    return decline(reason);
  }
  std::swap(hash_, *digest);
  progress_.confirmed = lastAck_ = startOffset_ = held;
  progress_.state = State::Running;
  progress_.resumedFrom = held;
  ReceivedParts::of(settings_.folder).written(part_->key, held);
  clock_.start();
  channel_.send(encodeFileMessage({.type = Type::Accept, .offset = held}), false);
  Q_EMIT progressChanged();
  if (held == offer_.size) complete();  // everything was there: check it now
}

void FileReceiver::decline(const QString& reason) {
  if (over(progress_.state)) return;
  channel_.send(encodeFileMessage({.type = Type::Decline, .reason = reason}), false);
  releasePart(/*keep=*/false);
  finish(State::Declined, reason);
}

void FileReceiver::cancel() {
  if (over(progress_.state)) return;
  channel_.send(encodeFileMessage({.type = Type::Cancel}), false);
  releasePart(/*keep=*/false);
  finish(State::Cancelled, QStringLiteral("annulé"));
}

void FileReceiver::interrupt() {
  if (over(progress_.state)) return;
  if (part_) keptPart_ = std::pair(settings_.folder, part_->key);
  releasePart(/*keep=*/true);
  finish(State::Failed, QStringLiteral("connexion perdue : reprise à la prochaine offre"));
}

void FileReceiver::releasePart(bool keep) {
  file_.close();
  if (!part_) return;
  ReceivedParts::of(settings_.folder).release(std::exchange(part_, std::nullopt)->key, keep);
}

void FileReceiver::finish(State state, const QString& reason) {
  progress_.state = state;
  progress_.reason = reason;
  Q_EMIT progressChanged();
}

// ---------------------------------------------------------------- sender --

FileSender::FileSender(QString path, QString id, QByteArray resumeKey, TransferChannel channel, FileReader& reader,
                       QString name, QObject* parent)
    : QObject(parent),
      path_(std::move(path)),
      id_(std::move(id)),
      resumeKey_(std::move(resumeKey)),
      channel_(std::move(channel)),
      reader_(reader) {
  progress_.name = name.isEmpty() ? QFileInfo(path_).fileName() : std::move(name);
  connect(&timer_, &QTimer::timeout, this, &FileSender::pump);
}

void FileSender::start() {
  reader_.digest(lifetime_.ticket(), path_, -1, [this](std::shared_ptr<Sha256> digest, const QString& error) { offer(digest, error); });
}

void FileSender::offer(const std::shared_ptr<Sha256>& digest, const QString& error) {
  if (over(progress_.state)) return;
  file_.setFileName(path_);
  if (!digest || !file_.open(QIODevice::ReadOnly)) {
    finish(State::Failed, QStringLiteral("lecture impossible : ") + (error.isEmpty() ? file_.errorString() : error));
    return;
  }
  progress_.size = file_.size();
  channel_.send(encodeFileMessage({.type = Type::Offer, .id = id_, .name = progress_.name, .size = progress_.size,
                                   .sha256 = digest->result(), .resumeKey = resumeKey_}),
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
      progress_.peerEnded = true;
      finish(State::Done);
      return;
    case Type::Decline:
      progress_.peerEnded = true;
      finish(State::Declined, message->reason);
      return;
    case Type::Failed:
      progress_.peerEnded = true;
      finish(State::Failed, message->reason);
      return;
    case Type::Cancel:
      progress_.peerEnded = true;
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
      channel_.send(encodeFileMessage({.type = Type::Cancel}), false);  // the receiver waits for no more
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
