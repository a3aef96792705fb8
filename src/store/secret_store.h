// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One secret per (service, account) pair, with the semantics the unattended
// password relies on: a missing item reads as NoData, a save replaces the old
// item, and a delete that finds nothing is silent.

#include <mutex>
#include <optional>

#include <QByteArray>
#include <QString>

namespace lunor {

struct KeychainError {
  enum class Kind { UnexpectedStatus, NoData };
  Kind kind = Kind::NoData;
  int status = 0;  // for UnexpectedStatus

  // The store did not answer at all (no Secret Service on the bus).
  static constexpr int kStatusNotAvailable = -25291;
  // The store is there but could not be read or written: locked, an unlock
  // prompt dismissed, no answer in time, a file that cannot be read.
  static constexpr int kStatusFailed = -26276;

  static KeychainError noData() { return {Kind::NoData, 0}; }
  static KeychainError unexpectedStatus(int status) { return {Kind::UnexpectedStatus, status}; }
  bool operator==(const KeychainError&) const = default;
};

QString toString(const KeychainError& error);

class SecretStore {
 public:
  virtual ~SecretStore() = default;
  // Replaces any stored item; an error when the new one could not be stored.
  virtual std::optional<KeychainError> save(const QString& service, const QString& account,
                                            const QByteArray& data) = 0;
  // The stored bytes, or the reason there are none.
  struct ReadResult {
    std::optional<QByteArray> data;
    KeychainError error;
  };
  virtual ReadResult read(const QString& service, const QString& account) = 0;
  // Removes the item if there is one; never fails loudly.
  virtual void remove(const QString& service, const QString& account) = 0;
};

// The Secret Service first; a private file when there is no service. A
// service that is there but fails is reported, not passed over: the file
// may not hold what the service does. Any thread: one call at a time (the
// file is read, changed and written whole).
// Borrowed stores must outlive the wrapper.
class FallbackSecretStore final : public SecretStore {
 public:
  FallbackSecretStore(SecretStore& primary, SecretStore& fallback)
      : primary_(primary), fallback_(fallback) {}
  std::optional<KeychainError> save(const QString& service, const QString& account,
                                    const QByteArray& data) override;
  ReadResult read(const QString& service, const QString& account) override;
  void remove(const QString& service, const QString& account) override;

 private:
  SecretStore& primary_;
  SecretStore& fallback_;
  std::mutex mutex_;  // held for the whole of each call
};

}  // namespace lunor
