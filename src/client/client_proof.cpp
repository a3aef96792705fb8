// SPDX-License-Identifier: GPL-3.0-or-later
#include "client/client_proof.h"

namespace lunor {

using Kind = ClientProof::Outcome::Kind;

ClientProof::ClientProof(proof::Binding binding, QByteArray knownHostKey, QByteArray deviceKey, Send send)
    : binding_(std::move(binding)),
      knownHostKey_(std::move(knownHostKey)),
      deviceKey_(std::move(deviceKey)),
      send_(std::move(send)) {}

ClientProof::~ClientProof() = default;

void ClientProof::tryPassword(const QString& password) {
  password_ = password;
  if (hostKnown()) start();
}

void ClientProof::start() {
  exchange_ = std::make_unique<proof::Exchange>(password_->toUtf8(), sid_, binding_);
  proof::Start start{exchange_->share(), {}, {}};
  if (deviceKey_.size() == proof::kKeyBytes) {
    const QByteArray digest = proof::deviceDigest(deviceKey_);
    start.deviceId = proof::deviceId(digest);
    start.deviceProof = proof::deviceProof(digest, sid_, binding_);
  }
  password_.reset();  // one try per password given
  send_(proof::encode(start));
}

ClientProof::Outcome ClientProof::receive(const QByteArray& text) {
  const auto message = proof::decode(text);
  if (!message) return {};
  if (const auto* hello = std::get_if<proof::Hello>(&*message)) {
    if (hostKnown()) return {};  // one hello a connection
    if (!binding_.complete() || !proof::verifyBinding(hello->hostKey, hello->sid, binding_, hello->signature)) {
      return {Kind::NotTheHost};
    }
    if (!knownHostKey_.isEmpty() && knownHostKey_ != hello->hostKey) return {Kind::IdentityChanged, hello->hostKey};
    sid_ = hello->sid;
    if (password_) start();
    return {Kind::HostKnown, hello->hostKey};
  }
  if (!hostKnown()) return {};
  if (const auto* reply = std::get_if<proof::Reply>(&*message)) {
    if (!exchange_) return {};
    const bool right = exchange_->complete(reply->share, /*host=*/false) &&
                       exchange_->confirms(reply->confirm, /*fromHost=*/true);
    if (!right) {
      // The host counts it; it needs no word of ours.
      exchange_.reset();
      return {Kind::WrongPassword};
    }
    send_(proof::encode(proof::Confirm{exchange_->clientConfirm()}));
    return {};
  }
  if (const auto* welcome = std::get_if<proof::Welcome>(&*message)) {
    if (!exchange_) return {};  // nothing of ours was confirmed
    exchange_.reset();
    Outcome admitted{Kind::Admitted};
    admitted.deviceKey = welcome->deviceKey;
    return admitted;
  }
  if (const auto* refusal = std::get_if<proof::Refusal>(&*message)) {
    exchange_.reset();
    Outcome outcome{refusal->tried ? Kind::WrongPassword : Kind::Wait};
    outcome.retryAfterMs = refusal->retryAfterMs.value_or(0);
    outcome.locked = refusal->locked;
    return outcome;
  }
  return {};
}

}  // namespace lunor
