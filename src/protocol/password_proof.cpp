// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/password_proof.h"

#include <cctype>
#include <string_view>

#include <sodium.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace lunor::proof {
namespace {

bool ready() {
  static const bool initialised = sodium_init() >= 0;
  return initialised;
}

const unsigned char* data(const QByteArray& bytes) { return reinterpret_cast<const unsigned char*>(bytes.constData()); }
unsigned char* data(QByteArray& bytes) { return reinterpret_cast<unsigned char*>(bytes.data()); }

// Every field of what is hashed, signed or authenticated goes in with its
// length first (four bytes, big-endian), so that no two inputs read alike.
QByteArray field(const QByteArray& bytes) {
  const auto size = static_cast<quint32>(bytes.size());
  QByteArray out;
  out.reserve(4 + bytes.size());
  out.append(char(size >> 24)).append(char(size >> 16)).append(char(size >> 8)).append(char(size));
  return out.append(bytes);
}
QByteArray fields(std::initializer_list<QByteArray> parts) {
  QByteArray out;
  for (const QByteArray& part : parts) out += field(part);
  return out;
}

QByteArray sha256(const QByteArray& input) {
  QByteArray out(crypto_hash_sha256_BYTES, '\0');
  crypto_hash_sha256(data(out), data(input), static_cast<unsigned long long>(input.size()));
  return out;
}
QByteArray sha512(const QByteArray& input) {
  QByteArray out(crypto_hash_sha512_BYTES, '\0');
  crypto_hash_sha512(data(out), data(input), static_cast<unsigned long long>(input.size()));
  return out;
}
QByteArray hmac(const QByteArray& key, const QByteArray& message) {
  crypto_auth_hmacsha256_state state;
  crypto_auth_hmacsha256_init(&state, data(key), static_cast<size_t>(key.size()));
  crypto_auth_hmacsha256_update(&state, data(message), static_cast<unsigned long long>(message.size()));
  QByteArray out(crypto_auth_hmacsha256_BYTES, '\0');
  crypto_auth_hmacsha256_final(&state, data(out));
  sodium_memzero(&state, sizeof state);
  return out;
}
bool sameBytes(const QByteArray& a, const QByteArray& b) {
  return a.size() == b.size() && !a.isEmpty() && sodium_memcmp(a.constData(), b.constData(), size_t(a.size())) == 0;
}

QByteArray random(int size) {
  QByteArray out(size, '\0');
  randombytes_buf(out.data(), size_t(size));
  return out;
}

const QByteArray kGenerator = QByteArrayLiteral("LunorProof1/generator");
const QByteArray kSessionKey = QByteArrayLiteral("LunorProof1/isk");
const QByteArray kHostConfirm = QByteArrayLiteral("LunorProof1/host");
const QByteArray kClientConfirm = QByteArrayLiteral("LunorProof1/client");
const QByteArray kIdentity = QByteArrayLiteral("LunorProof1/identity");
const QByteArray kDevice = QByteArrayLiteral("LunorProof1/device");
const QByteArray kDeviceId = QByteArrayLiteral("LunorProof1/device-id");
const QByteArray kCode = QByteArrayLiteral("LunorProof1/code");
const QByteArray kCommit = QByteArrayLiteral("LunorProof1/commit");

}  // namespace

QByteArray Binding::bytes() const { return fields({hostFingerprint, clientFingerprint}); }

QByteArray sdpFingerprint(const std::string& sdp) {
  static constexpr std::string_view kAttribute = "a=fingerprint:";
  size_t at = 0;
  while ((at = sdp.find(kAttribute, at)) != std::string::npos) {
    if (at != 0 && sdp[at - 1] != '\n') {
      at += kAttribute.size();
      continue;
    }
    const size_t start = at + kAttribute.size();
    size_t end = sdp.find('\n', start);
    if (end == std::string::npos) end = sdp.size();
    const QByteArray line = QByteArray::fromStdString(sdp.substr(start, end - start)).trimmed();
    const qsizetype space = line.indexOf(' ');
    if (space <= 0) return {};
    const QByteArray digest = line.mid(space + 1).trimmed().toUpper();
    if (digest.isEmpty() || digest.size() > 256) return {};
    for (const char c : digest) {
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':') return {};
    }
    const QByteArray algorithm = line.left(space).toLower();
    if (algorithm.size() > 16) return {};
    for (const char c : algorithm) {
      if (!std::islower(static_cast<unsigned char>(c)) && !std::isdigit(static_cast<unsigned char>(c)) && c != '-') return {};
    }
    return algorithm + ' ' + digest;
  }
  return {};
}

bool isFingerprint(const QByteArray& text) {
  return !text.isEmpty() && sdpFingerprint("a=fingerprint:" + text.toStdString()) == text;
}

QByteArray newCodeNonce() { return ready() ? random(kCodeNonceBytes) : QByteArray(); }

QByteArray codeCommitment(const QByteArray& clientFingerprint, const QByteArray& clientNonce) {
  if (!ready()) return {};
  return sha256(fields({kCommit, clientFingerprint, clientNonce}));
}

QString shortCode(const Binding& binding, const QByteArray& hostNonce, const QByteArray& clientNonce) {
  if (!ready() || !binding.complete() || hostNonce.size() != kCodeNonceBytes || clientNonce.size() != kCodeNonceBytes) {
    return {};
  }
  const QByteArray digest = sha256(fields({kCode, binding.bytes(), hostNonce, clientNonce}));
  const quint32 value = (quint32(quint8(digest[0])) << 24) | (quint32(quint8(digest[1])) << 16) |
                        (quint32(quint8(digest[2])) << 8) | quint32(quint8(digest[3]));
  const quint32 code = value % 1'000'000;
  return QStringLiteral("%1 %2").arg(code / 1000, 3, 10, QLatin1Char('0')).arg(code % 1000, 3, 10, QLatin1Char('0'));
}

Identity Identity::generate() {
  Identity identity;
  if (!ready()) return identity;
  identity.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
  identity.secretKey.resize(crypto_sign_SECRETKEYBYTES);
  crypto_sign_keypair(data(identity.publicKey), data(identity.secretKey));
  return identity;
}

std::optional<Identity> Identity::fromSecret(const QByteArray& secretKey) {
  if (!ready() || secretKey.size() != crypto_sign_SECRETKEYBYTES) return std::nullopt;
  // The secret key holds the seed and the public key: they must agree.
  QByteArray seed(crypto_sign_SEEDBYTES, '\0');
  crypto_sign_ed25519_sk_to_seed(data(seed), data(secretKey));
  Identity identity;
  identity.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
  identity.secretKey.resize(crypto_sign_SECRETKEYBYTES);
  crypto_sign_seed_keypair(data(identity.publicKey), data(identity.secretKey), data(seed));
  sodium_memzero(seed.data(), size_t(seed.size()));
  if (!sameBytes(identity.secretKey, secretKey)) return std::nullopt;
  return identity;
}

QByteArray signBinding(const Identity& identity, const QByteArray& sid, const Binding& binding) {
  if (!ready() || identity.secretKey.size() != crypto_sign_SECRETKEYBYTES) return {};
  const QByteArray message = fields({kIdentity, sid, binding.bytes()});
  QByteArray signature(crypto_sign_BYTES, '\0');
  crypto_sign_detached(data(signature), nullptr, data(message), static_cast<unsigned long long>(message.size()),
                       data(identity.secretKey));
  return signature;
}

bool verifyBinding(const QByteArray& publicKey, const QByteArray& sid, const Binding& binding,
                   const QByteArray& signature) {
  if (!ready() || publicKey.size() != crypto_sign_PUBLICKEYBYTES || signature.size() != crypto_sign_BYTES) {
    return false;
  }
  const QByteArray message = fields({kIdentity, sid, binding.bytes()});
  return crypto_sign_verify_detached(data(signature), data(message), static_cast<unsigned long long>(message.size()),
                                     data(publicKey)) == 0;
}

QByteArray newDeviceKey() { return ready() ? random(kKeyBytes) : QByteArray(); }
QByteArray newSid() { return ready() ? random(kSidBytes) : QByteArray(); }

QByteArray deviceDigest(const QByteArray& deviceKey) { return ready() ? sha256(deviceKey) : QByteArray(); }
QByteArray deviceId(const QByteArray& digest) {
  return ready() ? sha256(fields({kDeviceId, digest})).left(kDeviceIdBytes) : QByteArray();
}
QByteArray deviceProof(const QByteArray& digest, const QByteArray& sid, const Binding& binding) {
  return ready() ? hmac(digest, fields({kDevice, sid, binding.bytes()})) : QByteArray();
}
bool deviceProofHolds(const QByteArray& digest, const QByteArray& sid, const Binding& binding,
                      const QByteArray& proof) {
  return sameBytes(deviceProof(digest, sid, binding), proof);
}

QByteArray Exchange::generator(const QByteArray& secret, const QByteArray& sid, const Binding& binding) {
  // The generator comes from the password and from this connection: a
  // share made for another connection (or the other side of a relay that
  // swapped certificates) is worth nothing here.
  QByteArray uniform = sha512(fields({kGenerator, secret, binding.bytes(), sid}));
  QByteArray point(crypto_core_ristretto255_BYTES, '\0');
  crypto_core_ristretto255_from_hash(data(point), data(uniform));
  sodium_memzero(uniform.data(), size_t(uniform.size()));
  return point;
}

Exchange::Exchange(const QByteArray& secret, const QByteArray& sid, const Binding& binding) {
  if (!ready()) return;
  QByteArray point = generator(secret, sid, binding);
  scalar_.resize(crypto_core_ristretto255_SCALARBYTES);
  share_.resize(crypto_core_ristretto255_BYTES);
  do {
    crypto_core_ristretto255_scalar_random(data(scalar_));
  } while (crypto_scalarmult_ristretto255(data(share_), data(scalar_), data(point)) != 0);
  sodium_memzero(point.data(), size_t(point.size()));
}

Exchange::Exchange(const QByteArray& secret, const QByteArray& sid, const Binding& binding, const QByteArray& scalar) {
  if (!ready() || scalar.size() != crypto_core_ristretto255_SCALARBYTES) return;
  const QByteArray point = generator(secret, sid, binding);
  scalar_ = scalar;
  share_.resize(crypto_core_ristretto255_BYTES);
  if (crypto_scalarmult_ristretto255(data(share_), data(scalar_), data(point)) != 0) {
    scalar_.clear();
    share_.clear();
  }
}

Exchange::~Exchange() {
  if (!scalar_.isEmpty()) sodium_memzero(scalar_.data(), size_t(scalar_.size()));
  if (!key_.isEmpty()) sodium_memzero(key_.data(), size_t(key_.size()));
}

bool Exchange::complete(const QByteArray& peerShare, bool host) {
  key_.clear();
  if (!ready() || scalar_.isEmpty() || peerShare.size() != crypto_core_ristretto255_BYTES ||
      !crypto_core_ristretto255_is_valid_point(data(peerShare))) {
    return false;
  }
  QByteArray shared(crypto_core_ristretto255_BYTES, '\0');
  if (crypto_scalarmult_ristretto255(data(shared), data(scalar_), data(peerShare)) != 0) return false;
  const QByteArray& clientShare = host ? peerShare : share_;
  const QByteArray& hostShare = host ? share_ : peerShare;
  key_ = sha512(fields({kSessionKey, shared, clientShare, hostShare}));
  sodium_memzero(shared.data(), size_t(shared.size()));
  return true;
}

QByteArray Exchange::hostConfirm() const { return key_.isEmpty() ? QByteArray() : hmac(key_, kHostConfirm); }
QByteArray Exchange::clientConfirm() const { return key_.isEmpty() ? QByteArray() : hmac(key_, kClientConfirm); }

bool Exchange::confirms(const QByteArray& confirm, bool fromHost) const {
  return sameBytes(fromHost ? hostConfirm() : clientConfirm(), confirm);
}

// ----------------------------------------------------------------- messages --

namespace {

QString base64(const QByteArray& bytes) { return QString::fromLatin1(bytes.toBase64()); }

// The value of `key` decoded, when it is base64 of exactly `size` bytes.
std::optional<QByteArray> bytesOf(const QJsonObject& object, const char* key, int size) {
  const QJsonValue value = object.value(QLatin1String(key));
  if (!value.isString()) return std::nullopt;
  const auto decoded = QByteArray::fromBase64Encoding(value.toString().toLatin1(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded || decoded.decoded.size() != size) return std::nullopt;
  return decoded.decoded;
}

// A wait in milliseconds: absent, or a whole number from 0 to a day.
bool waitOf(const QJsonObject& object, std::optional<int64_t>& wait) {
  const QJsonValue value = object.value(QLatin1String("retryAfterMs"));
  if (value.isUndefined()) return true;
  const double ms = value.toDouble(-1);
  if (!value.isDouble() || ms < 0 || ms > 86'400'000.0 || ms != static_cast<double>(static_cast<int64_t>(ms))) {
    return false;
  }
  wait = static_cast<int64_t>(ms);
  return true;
}

}  // namespace

QByteArray encode(const Message& message) {
  QJsonObject object;
  if (const auto* hello = std::get_if<Hello>(&message)) {
    object = {{"t", "hello"}, {"v", kVersion}, {"sid", base64(hello->sid)}, {"key", base64(hello->hostKey)},
              {"sig", base64(hello->signature)}};
  } else if (const auto* start = std::get_if<Start>(&message)) {
    object = {{"t", "start"}, {"share", base64(start->share)}};
    if (!start->deviceId.isEmpty()) {
      object.insert("device", base64(start->deviceId));
      object.insert("deviceProof", base64(start->deviceProof));
    }
  } else if (const auto* reply = std::get_if<Reply>(&message)) {
    object = {{"t", "reply"}, {"share", base64(reply->share)}, {"confirm", base64(reply->confirm)}};
  } else if (const auto* confirm = std::get_if<Confirm>(&message)) {
    object = {{"t", "confirm"}, {"confirm", base64(confirm->confirm)}};
  } else if (const auto* welcome = std::get_if<Welcome>(&message)) {
    object = {{"t", "welcome"}};
    if (!welcome->deviceKey.isEmpty()) object.insert("deviceKey", base64(welcome->deviceKey));
  } else if (const auto* refusal = std::get_if<Refusal>(&message)) {
    object = {{"t", refusal->tried ? "denied" : "wait"}};
    if (refusal->retryAfterMs) object.insert("retryAfterMs", static_cast<double>(*refusal->retryAfterMs));
    if (refusal->locked) object.insert("locked", true);
  }
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<Message> decode(const QByteArray& text) {
  if (text.size() > kMaxMessageBytes) return std::nullopt;
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(text, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  const QJsonObject object = document.object();
  const QString type = object.value(QLatin1String("t")).toString();
  if (type == QLatin1String("hello")) {
    if (object.value(QLatin1String("v")).toInt(-1) != kVersion) return std::nullopt;
    const auto sid = bytesOf(object, "sid", kSidBytes);
    const auto key = bytesOf(object, "key", kKeyBytes);
    const auto signature = bytesOf(object, "sig", kSignatureBytes);
    if (!sid || !key || !signature) return std::nullopt;
    return Hello{*sid, *key, *signature};
  }
  if (type == QLatin1String("start")) {
    const auto share = bytesOf(object, "share", kShareBytes);
    if (!share) return std::nullopt;
    Start start{*share, {}, {}};
    if (object.contains(QLatin1String("device")) || object.contains(QLatin1String("deviceProof"))) {
      const auto id = bytesOf(object, "device", kDeviceIdBytes);
      const auto proof = bytesOf(object, "deviceProof", kConfirmBytes);
      if (!id || !proof) return std::nullopt;
      start.deviceId = *id;
      start.deviceProof = *proof;
    }
    return start;
  }
  if (type == QLatin1String("reply")) {
    const auto share = bytesOf(object, "share", kShareBytes);
    const auto confirm = bytesOf(object, "confirm", kConfirmBytes);
    if (!share || !confirm) return std::nullopt;
    return Reply{*share, *confirm};
  }
  if (type == QLatin1String("confirm")) {
    const auto confirm = bytesOf(object, "confirm", kConfirmBytes);
    if (!confirm) return std::nullopt;
    return Confirm{*confirm};
  }
  if (type == QLatin1String("welcome")) {
    Welcome welcome;
    if (object.contains(QLatin1String("deviceKey"))) {
      const auto key = bytesOf(object, "deviceKey", kKeyBytes);
      if (!key) return std::nullopt;
      welcome.deviceKey = *key;
    }
    return welcome;
  }
  if (type == QLatin1String("wait") || type == QLatin1String("denied")) {
    Refusal refusal;
    refusal.tried = type == QLatin1String("denied");
    if (!waitOf(object, refusal.retryAfterMs)) return std::nullopt;
    refusal.locked = object.value(QLatin1String("locked")).toBool(false);
    return refusal;
  }
  return std::nullopt;
}

}  // namespace lunor::proof
