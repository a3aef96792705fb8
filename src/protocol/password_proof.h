// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The password proved to the host itself, on the peer connection's channel
// "proof", so that the signaling server admits nobody and learns nothing that
// would: a balanced PAKE (CPace over ristretto255), bound to both sides' DTLS
// fingerprints so that a relay that swapped them fails, with the host's
// long-term identity signing the same binding. docs/security.md spells out
// every byte; the browser client does the same in web/proof.js.
//
//   host   → client  {"t":"hello","v":1,"sid":…,"key":…,"sig":…}
//   client → host    {"t":"start","share":…[,"device":…,"deviceProof":…]}
//   host   → client  {"t":"reply","share":…,"confirm":…}
//                 or {"t":"wait","retryAfterMs":…[,"locked":true]}
//   client → host    {"t":"confirm","confirm":…}
//   host   → client  {"t":"welcome"[,"deviceKey":…]}
//                 or {"t":"denied"[,"retryAfterMs":…][,"locked":true]}
//
// Binary values are standard base64 with padding. Any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include <QByteArray>
#include <QString>

namespace lunor::proof {

inline constexpr char kChannel[] = "proof";
inline constexpr int kVersion = 1;
inline constexpr int kShareBytes = 32;
inline constexpr int kKeyBytes = 32;        // an identity's public key, a device key
inline constexpr int kSignatureBytes = 64;
inline constexpr int kSidBytes = 16;
inline constexpr int kConfirmBytes = 32;
inline constexpr int kDeviceIdBytes = 16;
inline constexpr int kMaxMessageBytes = 1024;

// The connection as one side sees it: the fingerprint of the host's DTLS
// certificate and of the client's, as their descriptions carry them.
struct Binding {
  QByteArray hostFingerprint;
  QByteArray clientFingerprint;
  bool complete() const { return !hostFingerprint.isEmpty() && !clientFingerprint.isEmpty(); }
  QByteArray bytes() const;
};

// The first "a=fingerprint:" of a description, as "sha-256 AB:CD:…" (the
// algorithm in lower case, the digest in upper case); empty when none.
QByteArray sdpFingerprint(const std::string& sdp);

// True for a fingerprint as sdpFingerprint() gives it.
bool isFingerprint(const QByteArray& text);

// The code both people may read to each other before the host lets a
// client in. A relay that stood between them could pick its own
// certificates for each side until the two codes agreed, so each side adds
// a fresh nonce, in an order that leaves the relay nothing to pick:
//   client → host  commitment to (its fingerprint, its nonce)   in "join"
//   host → client  the host's fingerprint and nonce              "join-code"
//   client → host  its fingerprint and nonce                     "join-reveal"
// The host checks the reveal against the commitment; both then show the
// code, and refuse a connection whose certificates are not the ones shown.
inline constexpr int kCodeNonceBytes = 16;
inline constexpr int kCommitBytes = 32;
QByteArray newCodeNonce();
QByteArray codeCommitment(const QByteArray& clientFingerprint, const QByteArray& clientNonce);
// Six digits ("123 456"), the same on both sides only when both see the
// same certificates and nonces.
QString shortCode(const Binding& binding, const QByteArray& hostNonce, const QByteArray& clientNonce);

// A host's long-term identity (Ed25519).
struct Identity {
  QByteArray publicKey;  // kKeyBytes
  QByteArray secretKey;  // 64 bytes, the seed and the public key
  static Identity generate();
  // The identity kept as its secret key; nothing when it is not one.
  static std::optional<Identity> fromSecret(const QByteArray& secretKey);
};
QByteArray signBinding(const Identity& identity, const QByteArray& sid, const Binding& binding);
bool verifyBinding(const QByteArray& publicKey, const QByteArray& sid, const Binding& binding,
                   const QByteArray& signature);

// A device key is the client's; the host keeps its digest, which is what
// the proof uses, and finds it by its identifier.
QByteArray newDeviceKey();
QByteArray deviceDigest(const QByteArray& deviceKey);
QByteArray deviceId(const QByteArray& digest);
QByteArray deviceProof(const QByteArray& digest, const QByteArray& sid, const Binding& binding);
bool deviceProofHolds(const QByteArray& digest, const QByteArray& sid, const Binding& binding,
                      const QByteArray& proof);

QByteArray newSid();

// One side's half of the exchange over `secret` (the password's UTF-8 bytes).
class Exchange {
 public:
  Exchange(const QByteArray& secret, const QByteArray& sid, const Binding& binding);
  // With a scalar of our choosing (32 bytes, reduced): for test vectors only.
  Exchange(const QByteArray& secret, const QByteArray& sid, const Binding& binding, const QByteArray& scalar);
  ~Exchange();
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  const QByteArray& share() const { return share_; }
  // With the other side's share; false for a share that is no point of the
  // group or that gives the identity (nothing is then confirmed).
  bool complete(const QByteArray& peerShare, bool host);
  // Each side's confirmation of the key both derived; empty before complete().
  QByteArray hostConfirm() const;
  QByteArray clientConfirm() const;
  // Constant-time comparison with what the other side sent.
  bool confirms(const QByteArray& confirm, bool fromHost) const;

 private:
  QByteArray scalar_;
  QByteArray share_;
  QByteArray key_;  // the shared secret's digest, once complete
  QByteArray generator(const QByteArray& secret, const QByteArray& sid, const Binding& binding);
};

struct Hello {
  QByteArray sid;
  QByteArray hostKey;
  QByteArray signature;
};
struct Start {
  QByteArray share;
  QByteArray deviceId;     // both empty, or both set
  QByteArray deviceProof;
};
struct Reply {
  QByteArray share;
  QByteArray confirm;
};
struct Confirm {
  QByteArray confirm;
};
struct Welcome {
  QByteArray deviceKey;  // may be empty
};
// "wait": the host did not try (its budget); "denied": the password was wrong.
struct Refusal {
  bool tried = false;
  std::optional<int64_t> retryAfterMs;
  bool locked = false;
};
using Message = std::variant<Hello, Start, Reply, Confirm, Welcome, Refusal>;

QByteArray encode(const Message& message);
// Nothing for text that is not one of the messages with every value of its
// size (and no more than kMaxMessageBytes).
std::optional<Message> decode(const QByteArray& text);

}  // namespace lunor::proof
