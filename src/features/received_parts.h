// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The parts of files being received into one folder, and the room the
// folder has left for them.
//
// Parts live in a hidden sub-folder of the receiving folder, each with a
// note of whom it came from and what it will be. A part is known by its
// peer (the host's room), the sender's resume key (a secret of the sender
// for that one file) and the file's content (digest and size): only the
// sender that began it can go on with it, on a later connection or after a
// restart of the receiving side; anyone else offering the same content
// starts a part of its own. A part cut off is kept a week at most, and a
// peer keeps a few parts and a bounded total; the oldest go first. (A host
// cannot tell its clients apart: they share the bounds of its room.)
//
// The room: the folder's free space, less what the transfers under way
// have promised and not yet written, less a margin that stays free. Unknown
// free space is no reason to refuse: a write that fails says so.
//
// One instance per folder and process (of()). Main thread.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include <QByteArray>
#include <QString>

namespace lunor {

class ReceivedParts final {
 public:
  static constexpr char kPartsFolder[] = ".lunor-parts";
  // Left free on the disk whatever the transfers.
  static constexpr int64_t kFreeMarginBytes = int64_t(256) << 20;
  // A peer's parts, kept or being written: at most so many, and so large.
  static constexpr int kMaxPartsPerPeer = 8;
  static constexpr int64_t kMaxPeerBytes = int64_t(16) << 30;
  static constexpr int64_t kMaxAgeMs = int64_t(7) * 24 * 3600 * 1000;

  // Free bytes in a folder; negative when the file system cannot tell.
  using FreeBytes = std::function<int64_t(const QString& folder)>;
  // The file system's answer for the folder itself (statvfs).
  static int64_t freeBytesOf(const QString& folder);

  // The parts of `folder` in this process; the first call forgets the
  // expired parts left there (by an earlier run too).
  static ReceivedParts& of(const QString& folder);

  struct Content {
    QString peer;           // the host's room
    QByteArray resumeKey;   // the sender's; empty: never resumed
    QByteArray sha256;      // 32 bytes
    int64_t size = 0;
  };
  // A part being written: where, and what it held when it was taken.
  struct Part {
    QString key;
    QString path;
    int64_t held = 0;
  };

  // What a part of `content` already holds that its sender may go on from
  // (0 when there is none, or another transfer is writing it).
  int64_t held(const Content& content) const;
  // Why `bytes` more cannot be written here now, if they cannot:
  // "pas assez de place (… nécessaires)".
  std::optional<QString> refusal(int64_t bytes, const FreeBytes& freeBytes) const;
  // Takes the part of `content` (the one held, or a new one) for a
  // transfer, promising its size, and notes `name` for it. Nothing when
  // the part cannot be made.
  std::optional<Part> take(const Content& content, const QString& name, QString* error);
  // What the transfer of `key` has written so far (its promise shrinks).
  void written(const QString& key, int64_t bytes);
  // The transfer of `key` is over. keep: cut off, its sender may go on
  // later (the peer's oldest parts go past its bounds); otherwise the part
  // is removed, or was moved away as the received file.
  void release(const QString& key, bool keep);

  // Bytes promised by the transfers under way and not yet written.
  int64_t promised() const;

 private:
  explicit ReceivedParts(QString folder);
  QString partsFolder() const;
  QString keyOf(const Content& content) const;
  void forget(const QString& key);
  void sweep(const QString& keepingPeer = {});

  QString folder_;
  struct Taken {
    int64_t size = 0;
    int64_t written = 0;
  };
  std::map<QString, Taken> taken_;  // by key: parts being written now
};

}  // namespace lunor
