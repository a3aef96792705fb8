// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Files of a test's own: written (their folder made), read back, digested,
// or of random bytes that do not compress.

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace lunor::test {

inline bool writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QByteArray randomBytes(qsizetype size) {
  QByteArray bytes(size, Qt::Uninitialized);
  QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
  for (qsizetype i = size / 4 * 4; i < size; ++i) bytes[i] = char(QRandomGenerator::global()->generate());
  return bytes;
}

// `mib` MiB of random bytes at `path`; the path, or empty when it cannot be written.
inline QString randomFile(const QString& path, int mib) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return {};
  for (int i = 0; i < mib; ++i) file.write(randomBytes(1 << 20));
  return path;
}

// The SHA-256 of a file's bytes; empty when it cannot be read.
inline QByteArray digestOf(const QString& path) {
  QFile file(path);
  QCryptographicHash hash(QCryptographicHash::Sha256);
  return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

}  // namespace lunor::test
