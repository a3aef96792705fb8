// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A file sent to the other side travels on a data channel of its own,
// "file:<id>" (so that input and the picture never wait behind it), opened
// by the sender once both sides announced "files". On it, as text:
//   sender   {"t":"offer","id":ID,"name":NAME,"size":BYTES,"sha256":HEX,"resume":HEX}
//            (resume: 32 random bytes of the sender's for this file, the
//            same when it offers it again after a cut; optional)
//   receiver {"t":"accept","offset":BYTES}  from where to send (a resumed
//            transfer starts after what it already holds), or
//            {"t":"decline","reason":TEXT}
//   receiver {"t":"ack","offset":BYTES}     written so far, now and then
//   receiver {"t":"done"} once the digest matched, or {"t":"failed","reason":TEXT}
//   either   {"t":"cancel"}
// and the file's bytes from the accepted offset, as binary messages of at
// most 16 KiB.

#include <cstdint>
#include <optional>

#include <QByteArray>
#include <QString>

namespace lunor {

constexpr int kFileChunkBytes = 16 * 1024;
constexpr char kFileChannelPrefix[] = "file:";

struct FileMessage {
  enum class Type { Offer, Accept, Decline, Ack, Done, Failed, Cancel };
  Type type = Type::Cancel;
  QString id;        // offer
  QString name;      // offer, as the sender names it (sanitised on receipt)
  int64_t size = 0;  // offer
  QByteArray sha256; // offer: 32 bytes
  QByteArray resumeKey;  // offer: 32 bytes, or empty
  int64_t offset = 0;  // accept, ack
  QString reason;      // decline, failed

  bool operator==(const FileMessage&) const = default;
};

QByteArray encodeFileMessage(const FileMessage& message);
// Nothing for a message that is not one of these, or whose fields do not
// hold (a negative size or offset, a digest that is not 64 hex digits, an
// empty id).
std::optional<FileMessage> decodeFileMessage(const QByteArray& text);

}  // namespace lunor
