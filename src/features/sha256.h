// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// SHA-256 of a file's bytes, through OpenSSL: it uses the processor's SHA
// instructions where there are some (about 1.5 GB/s here, six times Qt's
// own), which a file transfer hashing on both ends at tens of MB/s needs.

#include <cstdint>
#include <memory>

#include <QByteArray>
#include <QString>

class QIODevice;

namespace lunor {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;

  void reset();
  void add(const char* data, qsizetype size);
  void add(const QByteArray& data) { add(data.constData(), data.size()); }
  // The digest of everything added since the last reset (32 bytes).
  QByteArray result() const;

  // Adds the next `bytes` of device (all that remains when negative).
  // False, with error set, when they cannot all be read.
  bool addFrom(QIODevice& device, int64_t bytes, QString* error);

  // The digest of what remains to read on device; empty, with error set,
  // when it cannot be read to its end.
  static QByteArray of(QIODevice& device, QString* error);

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

}  // namespace lunor
