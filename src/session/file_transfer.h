// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The two ends of one file transfer on its own channel (messages in
// protocol/file_wire.h). The sender offers the file with its SHA-256 and
// sends its bytes from the offset the receiver asks for, a piece at a time
// while the channel's buffer stays low, never the whole file in memory; the
// receiver writes "<name>.part" in its folder, confirms what it wrote now
// and then, and at the end compares the digest: a match renames the file to
// its name, a mismatch removes it and says so. A transfer cut by a lost
// connection resumes from what the receiver holds when the same file (the
// same digest and size) is offered again, on any connection to this
// process. Main thread.

#include <cstdint>
#include <functional>
#include <memory>

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

#include "protocol/file_wire.h"
#include "session/sha256.h"

namespace lunor {

// What both ends show: where the transfer is, and how fast it goes.
struct TransferProgress {
  enum class State { Waiting, Running, Done, Failed, Cancelled, Declined };
  State state = State::Waiting;
  QString name;            // as saved (receiver) or as sent (sender)
  int64_t size = 0;
  int64_t confirmed = 0;   // bytes the receiver has written
  double bytesPerSecond = 0;
  int64_t resumedFrom = 0; // what an earlier connection had written
  QString reason;          // Failed, Declined
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
    // Free bytes where files go; the default asks the file system.
    std::function<int64_t(const QString& folder)> freeBytes;
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

  const TransferProgress& progress() const { return progress_; }
  QString savedPath() const;  // once Done

 Q_SIGNALS:
  // An offer arrived and waits for accept() or decline() (refused ones do not wait).
  void offered();
  void progressChanged();

 private:
  void finish(TransferProgress::State state, const QString& reason = {});
  void removePartial();
  // Lets go of the part held for this content: kept for the same file
  // offered again, or forgotten.
  void releasePartial(bool keep);

  Settings settings_;
  TransferChannel channel_;
  TransferProgress progress_;
  FileMessage offer_;
  QString partialPath_;
  QFile file_;
  Sha256 hash_;
  int64_t lastAck_ = 0;
  int64_t startOffset_ = 0;  // where this connection's part began
  bool ownsPartial_ = false;  // this receiver writes the part its content is known by
  QElapsedTimer clock_;
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

  // id: the same for the same file across connections (resumption); name:
  // the one offered, the file's own when empty.
  FileSender(QString path, QString id, TransferChannel channel, QString name = {}, QObject* parent = nullptr);

  // Reads the file for its digest (a worker thread), then offers it.
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

 Q_SIGNALS:
  void progressChanged();

 private:
  void offer(const QByteArray& digest, const QString& error);
  void pump();
  bool inFlightRoom() const;
  static int64_t window();
  void finish(TransferProgress::State state, const QString& reason = {});

  QString path_;
  QString id_;
  TransferChannel channel_;
  TransferProgress progress_;
  QFile file_;
  int64_t sent_ = 0;
  bool interrupted_ = false;
  QTimer timer_;
  QElapsedTimer clock_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // expires with the sender, for the digest's worker
};

}  // namespace lunor
