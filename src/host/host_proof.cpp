// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/host_proof.h"

#include "host/password_budget.h"

#include <algorithm>

namespace lunor {

HostProof::HostProof(PasswordBudget& budget, Send send) : budget_(budget), send_(std::move(send)) {}

HostProof::~HostProof() = default;

void HostProof::open(const proof::Binding& binding, Secrets secrets) {
  binding_ = binding;
  secrets_ = std::move(secrets);
  sid_ = proof::newSid();
  exchange_.reset();
  proof::Hello hello{sid_, {}, {}};
  if (secrets_.identity) {
    hello.hostKey = secrets_.identity->publicKey;
    hello.signature = proof::signBinding(*secrets_.identity, sid_, binding_);
  }
  // Without an identity (a secret store that cannot keep one) the client
  // hears nothing it could check, and refuses as it would a stranger.
  if (hello.hostKey.size() == proof::kKeyBytes) send_(proof::encode(hello));
}

HostProof::Outcome HostProof::receive(const QByteArray& text) {
  if (proved_ || sid_.isEmpty()) return proved_ ? Outcome::Proved : Outcome::Pending;
  const auto message = proof::decode(text);
  if (!message) return Outcome::Pending;
  if (const auto* start = std::get_if<proof::Start>(&*message)) {
    this->start(*start);
  } else if (const auto* confirmation = std::get_if<proof::Confirm>(&*message)) {
    return confirm(*confirmation);
  }
  return Outcome::Pending;
}

void HostProof::start(const proof::Start& start) {
  // A try still waiting for its confirmation stays a wrong one.
  exchange_.reset();
  device_.clear();
  if (!start.deviceId.isEmpty()) {
    for (const QByteArray& digest : secrets_.deviceDigests) {
      if (proof::deviceId(digest) == start.deviceId &&
          proof::deviceProofHolds(digest, sid_, binding_, start.deviceProof)) {
        device_ = digest;
        break;
      }
    }
  }
  PasswordBudget::Verdict verdict = budget_.mayTry(device_);
  if (!verdict.allowed && verdict.locked && !device_.isEmpty()) {
    device_.clear();  // a device past its own day meets everyone's limits
    verdict = budget_.mayTry(device_);
  }
  if (!verdict.allowed) {
    send_(proof::encode(proof::Refusal{false, verdict.retryAfter.count(), verdict.locked}));
    return;
  }
  // Counted as wrong until the client confirms it.
  budget_.failed(device_);
  if (!secrets_.password || secrets_.password->isEmpty()) {
    refuse(true, device_);
    return;
  }
  auto exchange = std::make_unique<proof::Exchange>(secrets_.password->toUtf8(), sid_, binding_);
  if (!exchange->complete(start.share, /*host=*/true)) {
    refuse(true, device_);
    return;
  }
  send_(proof::encode(proof::Reply{exchange->share(), exchange->hostConfirm()}));
  exchange_ = std::move(exchange);
}

HostProof::Outcome HostProof::confirm(const proof::Confirm& confirmation) {
  if (!exchange_) return Outcome::Pending;
  const bool right = exchange_->confirms(confirmation.confirm, /*fromHost=*/false);
  exchange_.reset();
  if (!right) {
    refuse(true, device_);
    return Outcome::Pending;
  }
  budget_.succeeded(device_);
  proved_ = true;
  const QByteArray deviceKey = proof::newDeviceKey();
  newDeviceDigest_ = proof::deviceDigest(deviceKey);
  send_(proof::encode(proof::Welcome{deviceKey}));
  return Outcome::Proved;
}

void HostProof::refuse(bool tried, const QByteArray& device) {
  const PasswordBudget::Verdict verdict = budget_.mayTry(device);
  proof::Refusal refusal{tried, std::nullopt, verdict.locked};
  if (!verdict.allowed) refusal.retryAfterMs = std::max<int64_t>(1, verdict.retryAfter.count());
  send_(proof::encode(refusal));
}

}  // namespace lunor
