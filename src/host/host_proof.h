// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The host's side of the password's proof on the channel "proof": it says
// who it is, then takes the client's tries within the password budget, and
// lets the client in only once the client has confirmed the key both
// derived. It never learns a wrong password, nor the server anything.
// Main thread.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

#include "protocol/password_proof.h"

namespace lunor {

class PasswordBudget;

class HostProof {
 public:
  struct Secrets {
    std::optional<QString> password;        // nothing: every try fails
    std::optional<proof::Identity> identity;
    std::vector<QByteArray> deviceDigests;  // of the device keys given before
  };
  enum class Outcome { Pending, Proved };
  using Send = std::function<void(const QByteArray& text)>;

  // The budget is borrowed and outlives the proof.
  HostProof(PasswordBudget& budget, Send send);
  ~HostProof();

  // The channel is open on the connection `binding` describes: hello.
  void open(const proof::Binding& binding, Secrets secrets);
  // One message of the client's.
  Outcome receive(const QByteArray& text);
  // Once proved: the digest of the device key just given, to keep.
  const QByteArray& newDeviceDigest() const { return newDeviceDigest_; }
  // The device key the client proved, if any (its digest).
  const QByteArray& provedDevice() const { return device_; }

 private:
  void start(const proof::Start& start);
  Outcome confirm(const proof::Confirm& confirm);
  void refuse(bool tried, const QByteArray& device);

  PasswordBudget& budget_;
  Send send_;
  proof::Binding binding_;
  QByteArray sid_;
  Secrets secrets_;
  std::unique_ptr<proof::Exchange> exchange_;  // a try waiting for its confirmation
  QByteArray device_;
  QByteArray newDeviceDigest_;
  bool proved_ = false;
};

}  // namespace lunor
