// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The client's side of the password's proof on the channel "proof": it
// checks that the host is the one it met before (its identity signs this
// very connection), proves the password (and the device key the host gave
// it, if any) without sending either, and takes the host's answer. Main
// thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QString>

#include "protocol/password_proof.h"

namespace lunor {

class ClientProof {
 public:
  struct Outcome {
    enum class Kind {
      None,             // nothing to say yet
      HostKnown,        // the host's hello holds: hostKey is who it is
      IdentityChanged,  // another identity than the one met before
      NotTheHost,       // a hello that does not hold for this connection
      WrongPassword,    // the password is not the host's (retryAfterMs: before another)
      Wait,             // the host takes no password for retryAfterMs (locked: today)
      Admitted,         // the host let us in (deviceKey: ours from now on, may be empty)
    };
    Kind kind = Kind::None;
    QByteArray hostKey;
    int64_t retryAfterMs = 0;
    bool locked = false;
    QByteArray deviceKey;
  };
  using Send = std::function<void(const QByteArray& text)>;

  // knownHostKey: the identity met before (empty: none, this is the first
  // contact); deviceKey: the one this host gave us (empty: none).
  ClientProof(proof::Binding binding, QByteArray knownHostKey, QByteArray deviceKey, Send send);
  ~ClientProof();

  Outcome receive(const QByteArray& text);
  // Proves `password` as soon as the host has said hello.
  void tryPassword(const QString& password);
  bool hostKnown() const { return !sid_.isEmpty(); }

 private:
  void start();

  proof::Binding binding_;
  QByteArray knownHostKey_;
  QByteArray deviceKey_;
  Send send_;
  QByteArray sid_;
  std::optional<QString> password_;
  std::unique_ptr<proof::Exchange> exchange_;
};

}  // namespace lunor
