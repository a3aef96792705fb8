// SPDX-License-Identifier: GPL-3.0-or-later
#include "features/sha256.h"

#include <algorithm>

#include <openssl/evp.h>

#include <QIODevice>

namespace lunor {

struct Sha256::Context {
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) { reset(); }
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::reset() { EVP_DigestInit_ex(context_->md, EVP_sha256(), nullptr); }

void Sha256::add(const char* data, qsizetype size) {
  if (size > 0) EVP_DigestUpdate(context_->md, data, size_t(size));
}

QByteArray Sha256::result() const {
  // Finishing consumes the state: finish a copy.
  EVP_MD_CTX* copy = EVP_MD_CTX_new();
  EVP_MD_CTX_copy_ex(copy, context_->md);
  QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
  unsigned int size = 0;
  EVP_DigestFinal_ex(copy, reinterpret_cast<unsigned char*>(digest.data()), &size);
  EVP_MD_CTX_free(copy);
  digest.resize(int(size));
  return digest;
}

bool Sha256::addFrom(QIODevice& device, int64_t bytes, QString* error) {
  QByteArray buffer(1 << 20, Qt::Uninitialized);
  for (int64_t left = bytes; left != 0;) {
    const qint64 want = left < 0 ? buffer.size() : std::min<int64_t>(left, buffer.size());
    const qint64 read = device.read(buffer.data(), want);
    if (read < 0 || (read == 0 && left > 0)) {
      if (error) *error = read < 0 ? device.errorString() : QStringLiteral("fichier plus court qu’attendu");
      return false;
    }
    if (read == 0) break;
    add(buffer.constData(), read);
    if (left > 0) left -= read;
  }
  return true;
}

QByteArray Sha256::of(QIODevice& device, QString* error) {
  Sha256 hash;
  return hash.addFrom(device, -1, error) ? hash.result() : QByteArray();
}

}  // namespace lunor
