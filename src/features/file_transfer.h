// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The two ends of one file transfer on its own channel (messages in
// protocol/file_wire.h). The sender offers the file with its SHA-256 and
// sends its bytes from the offset the receiver asks for, a piece at a time
// while the channel's buffer stays low, never the whole file in memory; the
// receiver writes a part (ReceivedParts), confirms what it wrote now and
// then, and at the end checks what is on disk and the digest: a match moves
// the part to its name, a mismatch removes it and says so. A transfer cut
// by a lost connection resumes from what the receiver holds when the same
// sender offers the same file again (with the same resume key). Files are
// read for their digests off the main thread (FileReader). Main thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

#include "protocol/file_wire.h"
#include "features/received_parts.h"
#include "features/sha256.h"
#include "session/epoch.h"
#include "system/worker_thread.h"

namespace lunor {

// Reads files for their digests on a thread of its own, one at a time.
class FileReader final : public QObject {
  Q_OBJECT

 public:
  FileReader() = default;
  // The digest state of the first `bytes` of the file at `path` (all of it
  // when negative), to go on adding to; an error instead when it cannot be
  // read. `done` runs on the main thread, and not at all once the epoch of
  // `asker` is over (its transfer gone).
  using Done = std::function<void(std::shared_ptr<Sha256> digest, const QString& error)>;
  void digest(const Epoch::Ticket& asker, const QString& path, int64_t bytes, Done done);

 private:
  WorkerThread worker_{QStringLiteral("lunor-file-digest")};
};

// What both ends show: where the transfer is, and how fast it goes.
struct TransferProgress {
  // Interrupted: cut off with its connection; goes on with the next one.
  enum class State { Waiting, Running, Done, Failed, Cancelled, Declined, Interrupted };
  State state = State::Waiting;
  QString name;            // as saved (receiver) or as sent (sender)
  int64_t size = 0;
  int64_t confirmed = 0;   // bytes the receiver has written
  double bytesPerSecond = 0;
  int64_t resumedFrom = 0; // what an earlier connection had written
  QString reason;          // Failed, Declined
  bool peerEnded = false;  // ended by the other side's word: nothing more comes
};

// How a transfer's end talks to its channel.
struct TransferChannel {
  std::function<bool(const QByteArray& data, bool binary)> send;  // false: refused
  std::function<uint64_t()> buffered;                              // the channel's bufferedAmount
};

class FileReceiver final : public QObject {
  Q_OBJECT

 public:
  // Often enough for the sender's window (FileSender::kWindowBytes) to
  // move on smoothly.
  static constexpr int64_t kAckEveryBytes = 64 * 1024;

  struct Settings {
    QString folder;    // created when missing
    int64_t maxBytes;  // the largest file accepted
    QString peer;      // whom the files come from (the host's room)
    FileReader* reader = nullptr;  // borrowed; outlives the receiver
    // Free bytes where files go; the default asks the file system.
    ReceivedParts::FreeBytes freeBytes;
  };

  FileReceiver(Settings settings, TransferChannel channel, QObject* parent = nullptr);
  ~FileReceiver() override;

  // A message of the transfer's channel.
  void receive(const QByteArray& data, bool binary);
  // After offered(): the local person's answer (or the session's, unattended).
  void accept();
  void decline(const QString& reason);
  // Either side may stop it; nothing of it stays on disk.
  void cancel();
  // The channel went away: what was written stays, for a resumption.
  void interrupt();
  // After interrupt(): the part kept, its folder and key (none: nothing kept).
  std::optional<std::pair<QString, QString>> keptPart() const { return keptPart_; }

  const TransferProgress& progress() const { return progress_; }
  QString savedPath() const;  // once Done

 Q_SIGNALS:
  // An offer arrived and waits for accept() or decline() (refused ones do not wait).
  void offered();
  void progressChanged();

 private:
  void written(const QByteArray& data);
  void complete();
  // Ends it, telling the sender `wire` when not empty.
  void fail(const QString& wire, const QString& reason);
  void resumeFrom(int64_t held, std::shared_ptr<Sha256> digest, const QString& error);
  void finish(TransferProgress::State state, const QString& reason = {});
  // Lets go of the part: kept for the same sender going on later, or removed.
  void releasePart(bool keep);

  Settings settings_;
  TransferChannel channel_;
  TransferProgress progress_;
  FileMessage offer_;
  std::optional<ReceivedParts::Part> part_;  // while this transfer writes it
  std::optional<std::pair<QString, QString>> keptPart_;
  bool accepted_ = false;                      // reading what the part held
  QFile file_;
  Sha256 hash_;
  int64_t lastAck_ = 0;
  int64_t startOffset_ = 0;  // where this connection's part began
  QElapsedTimer clock_;
  Epoch lifetime_{*this};
};

class FileSender final : public QObject {
  Q_OBJECT

 public:
  static constexpr uint64_t kHighWaterBytes = 1 << 20;
  // What may be sent and not yet written by the receiver. Everything the
  // session sends after it (a key, a click) waits behind what is on its
  // way: at 26 MB/s, 384 KiB are 15 ms at worst, 4 to 5 ms more for a
  // key's p95 than with no transfer (lunor-bench-e2e --typing --file);
  // smaller windows cost throughput (256 KiB: 18 MB/s for 1.5 ms).
  static constexpr int64_t kWindowBytes = 384 * 1024;
  static constexpr int kPiecesPerTurn = 8;
  static constexpr int kPollMs = 5;  // while the buffer is full

  // id: the transfer's; resumeKey: the same for the same file across
  // connections (the receiver goes on from its part only for it; empty:
  // never); name: the one offered, the file's own when empty. reader is
  // borrowed and outlives the sender.
  FileSender(QString path, QString id, QByteArray resumeKey, TransferChannel channel, FileReader& reader,
             QString name = {}, QObject* parent = nullptr);

  // Reads the file for its digest (off the main thread), then offers it.
  void start();
  void receive(const QByteArray& data, bool binary);
  void cancel();
  // The channel went away: the file may be offered again on another.
  void interrupt();

  const TransferProgress& progress() const { return progress_; }
  // Cut off with its connection rather than ended by either side.
  bool resumable() const;
  QString id() const { return id_; }
  QString path() const { return path_; }
  QByteArray resumeKey() const { return resumeKey_; }

 Q_SIGNALS:
  void progressChanged();

 private:
  void offer(const std::shared_ptr<Sha256>& digest, const QString& error);
  void pump();
  bool inFlightRoom() const;
  static int64_t window();
  void finish(TransferProgress::State state, const QString& reason = {});

  QString path_;
  QString id_;
  QByteArray resumeKey_;
  TransferChannel channel_;
  FileReader& reader_;
  TransferProgress progress_;
  QFile file_;
  int64_t sent_ = 0;
  bool interrupted_ = false;
  QTimer timer_;
  QElapsedTimer clock_;
  Epoch lifetime_{*this};
};

}  // namespace lunor
