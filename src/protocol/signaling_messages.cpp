// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/signaling_messages.h"

#include "protocol/password_proof.h"
#include "protocol/wire_text.h"

#include <algorithm>
#include <cmath>

#include <QJsonArray>

namespace lunor {

namespace json {

std::optional<int64_t> integerIn(const QJsonValue& value, int64_t min, int64_t max) {
  if (!value.isDouble()) return std::nullopt;
  const double number = value.toDouble();
  if (!std::isfinite(number) || number != std::floor(number)) return std::nullopt;
  if (number < static_cast<double>(min) || number > static_cast<double>(max)) return std::nullopt;
  return static_cast<int64_t>(number);
}

QString optionalString(const QJsonObject& object, const char* key) {
  const QJsonValue value = object.value(QLatin1String(key));
  return value.isString() ? value.toString() : QString();
}

QString stringOr(const QJsonObject& object, const char* key, const QString& fallback) {
  const QJsonValue value = object.value(QLatin1String(key));
  return value.isString() ? value.toString() : fallback;
}

bool boolOr(const QJsonObject& object, const char* key, bool fallback) {
  const QJsonValue value = object.value(QLatin1String(key));
  return value.isBool() ? value.toBool() : fallback;
}

}  // namespace json

QString peerText(const QString& text, int maxChars) {
  QString clean;
  clean.reserve(std::min<qsizetype>(text.size(), maxChars + 1));
  bool space = false;
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    // Controls can drive a terminal.
    if (c.category() == QChar::Other_Control || isBidiControl(u)) {
      if (u == '\t' || u == '\n' || u == '\r') space = true;
      continue;
    }
    if (c.isSpace()) {
      space = true;
      continue;
    }
    if (space && !clean.isEmpty()) clean.append(QLatin1Char(' '));
    space = false;
    clean.append(c);
  }
  if (clean.size() > maxChars) {
    qsizetype cut = maxChars - 1;
    if (cut > 0 && clean.at(cut - 1).isHighSurrogate()) --cut;  // never half a character
    clean = clean.left(cut) + QChar(0x2026);
  }
  return clean;
}

namespace signaling {
namespace {

QJsonValue typeValue(MessageType type) { return nameOf(type); }
QJsonValue typeValue(PayloadType type) { return nameOf(type); }

}  // namespace

QJsonObject create(const QString& roomId, const std::optional<QString>& unattendedHash, bool hostProof) {
  QJsonObject message{{key::kType, typeValue(MessageType::Create)},
                      {key::kRoomId, roomId},
                      {key::kRequiresApproval, true}};
  if (unattendedHash || hostProof) {
    QJsonObject unattended{{key::kEnabled, true}};
    if (unattendedHash) unattended.insert(key::kHash, *unattendedHash);
    if (hostProof) unattended.insert(key::kProof, key::kProofByHost);
    message.insert(key::kUnattended, unattended);
  }
  return message;
}

QJsonObject join(const QString& roomId, const QString& displayName,
                 const std::optional<QString>& avatar, const std::optional<QString>& passwordHash,
                 const QString& deviceKey, bool hostProof, const QByteArray& commit) {
  QJsonObject message{{key::kType, typeValue(MessageType::Join)},
                      {key::kRoomId, roomId},
                      {key::kDisplayName, displayName}};
  if (avatar) message.insert(key::kAvatar, *avatar);
  if (passwordHash) message.insert(key::kPasswordHash, *passwordHash);
  if (!deviceKey.isEmpty()) message.insert(key::kDeviceKey, deviceKey);
  if (hostProof) message.insert(key::kProof, key::kProofByHost);
  if (!commit.isEmpty()) message.insert(key::kCommit, QString::fromLatin1(commit.toBase64()));
  return message;
}

QJsonObject joinCode(const QString& clientId, const QByteArray& fingerprint, const QByteArray& nonce) {
  return {{key::kType, typeValue(MessageType::JoinCode)},
          {key::kClientId, clientId},
          {key::kFingerprint, QString::fromLatin1(fingerprint)},
          {key::kNonce, QString::fromLatin1(nonce.toBase64())}};
}

QJsonObject joinReveal(const QByteArray& fingerprint, const QByteArray& nonce) {
  return {{key::kType, typeValue(MessageType::JoinReveal)},
          {key::kFingerprint, QString::fromLatin1(fingerprint)},
          {key::kNonce, QString::fromLatin1(nonce.toBase64())}};
}

QJsonObject answer(const QString& type, const QString& target) {
  return {{key::kType, type}, {key::kTarget, target}};
}

QJsonObject forgetDevices() { return {{key::kType, typeValue(MessageType::ForgetDevices)}}; }

QJsonObject signal(const QJsonObject& payload) {
  return {{key::kType, typeValue(MessageType::Signal)}, {key::kData, payload}};
}

QJsonObject endPayload(const QString& reason) {
  return {{key::kType, typeValue(PayloadType::End)}, {key::kReason, reason}};
}

QJsonObject descriptionPayload(const rtc::SessionDescription& description) {
  const QJsonValue type =
      typeValue(description.type == rtc::SdpType::Offer ? PayloadType::Offer : PayloadType::Answer);
  return {{key::kType, type},
          {key::kSdp, QJsonObject{{key::kType, type}, {key::kSdp, QString::fromStdString(description.sdp)}}}};
}

QJsonObject icePayload(const rtc::IceCandidate& candidate) {
  return {{key::kType, typeValue(PayloadType::Ice)},
          {key::kCandidate,
           QJsonObject{{key::kCandidate, QString::fromStdString(candidate.sdp)},
                       {key::kSdpMid, QString::fromStdString(candidate.sdpMid.value_or("0"))},
                       {key::kSdpMLineIndex, candidate.sdpMLineIndex}}}};
}

QJsonObject qualityPayload(QualityProfile profile) {
  return {{key::kType, typeValue(PayloadType::Quality)}, {key::kValue, rawValue(profile)}};
}

QJsonObject switchDisplayPayload(int index) {
  return {{key::kType, typeValue(PayloadType::SwitchDisplay)}, {key::kDisplayIndex, index}};
}

QJsonObject hardRefreshPayload() { return {{key::kType, typeValue(PayloadType::HardRefreshRequest)}}; }

QJsonObject hostChoosingPayload(int timeoutMs) {
  return {{key::kType, typeValue(PayloadType::HostChoosing)}, {key::kTimeoutMs, timeoutMs}};
}

QJsonObject displaysPayload(const std::vector<DisplayEntry>& displays) {
  QJsonArray entries;
  for (const auto& display : displays) {
    entries.append(QJsonObject{{key::kIndex, display.index},
                               {key::kName, display.name},
                               {key::kResolution, display.resolution},
                               {key::kId, static_cast<double>(display.id)}});
  }
  return {{key::kType, typeValue(PayloadType::Displays)}, {key::kDisplays, entries}};
}

QJsonObject videoGeometryPayload(int width, int height, int activeDisplay, uint32_t displayId) {
  return {{key::kType, typeValue(PayloadType::VideoGeometry)},
          {key::kWidth, width},
          {key::kHeight, height},
          {key::kActiveDisplay, activeDisplay},
          {key::kDisplayId, static_cast<double>(displayId)}};
}

QString typeOf(const QJsonObject& object) { return json::optionalString(object, key::kType.data()); }

QString displayNameOf(const QJsonObject& message) {
  const QString name = json::optionalString(message, key::kDisplayName.data());
  if (name.isNull()) return name;
  const QString clean = peerText(name, kMaxPeerNameChars);
  return clean.isEmpty() ? QString() : clean;
}

JoinRequest joinRequest(const QJsonObject& message) {
  return {json::stringOr(message, key::kClientId.data(), QStringLiteral("???")), displayNameOf(message),
          json::optionalString(message, key::kAvatar.data()), json::boolOr(message, key::kUnattended.data(), false),
          json::boolOr(message, key::kAwaitingPassword.data(), false),
          base64Bytes(json::optionalString(message, key::kCommit.data()), proof::kCommitBytes).value_or(QByteArray())};
}

std::optional<CodePart> codePartOf(const QJsonObject& message) {
  const QByteArray fingerprint = json::optionalString(message, key::kFingerprint.data()).toLatin1();
  const auto nonce = base64Bytes(json::optionalString(message, key::kNonce.data()), proof::kCodeNonceBytes);
  if (!proof::isFingerprint(fingerprint) || !nonce) return std::nullopt;
  return CodePart{json::optionalString(message, key::kClientId.data()), fingerprint, *nonce};
}

PeerJoined peerJoined(const QJsonObject& message) {
  return {json::stringOr(message, key::kClientId.data(), QStringLiteral("?")), displayNameOf(message),
          json::optionalString(message, key::kAvatar.data()), json::boolOr(message, key::kUnattended.data(), false),
          message.value(key::kProof) == key::kProofByHost};
}

std::optional<QString> descriptionOf(const QJsonObject& payload) {
  const QJsonValue outer = payload.value(key::kSdp);
  if (!outer.isObject()) return std::nullopt;
  const QJsonValue inner = outer.toObject().value(key::kSdp);
  if (!inner.isString()) return std::nullopt;
  return inner.toString();
}

std::optional<rtc::IceCandidate> candidateOf(const QJsonObject& payload) {
  const QJsonValue value = payload.value(key::kCandidate);
  if (!value.isObject()) return std::nullopt;
  const QJsonObject candidate = value.toObject();
  const QJsonValue line = candidate.value(key::kCandidate);
  const QJsonValue mid = candidate.value(key::kSdpMid);
  const auto index = json::integerIn(candidate.value(key::kSdpMLineIndex), INT32_MIN, INT32_MAX);
  if (!line.isString() || !mid.isString() || !index) return std::nullopt;
  return rtc::IceCandidate{line.toString().toStdString(), mid.toString().toStdString(),
                           static_cast<int>(*index)};
}

std::optional<QualityProfile> qualityOf(const QJsonObject& payload) {
  const QJsonValue value = payload.value(key::kValue);
  return value.isString() ? qualityFromRaw(value.toString()) : std::nullopt;
}

std::optional<int> switchIndexOf(const QJsonObject& payload) {
  const auto index = json::integerIn(payload.value(key::kDisplayIndex), INT32_MIN, INT32_MAX);
  if (!index) return std::nullopt;
  return static_cast<int>(*index);
}

std::vector<DisplayEntry> displaysOf(const QJsonObject& payload) {
  std::vector<DisplayEntry> entries;
  for (const QJsonValue& value : payload.value(key::kDisplays).toArray()) {
    const QJsonObject entry = value.toObject();
    const auto index = json::integerIn(entry.value(key::kIndex), 0, kMaxGeometryValue);
    const QJsonValue name = entry.value(key::kName);
    const QJsonValue resolution = entry.value(key::kResolution);
    if (!index || !name.isString() || !resolution.isString()) continue;
    // Shown in the client's menu: the host's words, fit to show.
    entries.push_back({static_cast<int>(*index), peerText(name.toString(), kMaxPeerNameChars),
                       peerText(resolution.toString(), kMaxPeerNameChars), 0});
    if (entries.size() == kMaxDisplays) break;
  }
  return entries;
}

VideoGeometry videoGeometryOf(const QJsonObject& payload) {
  VideoGeometry geometry;
  auto dimension = [&](QLatin1String name) {
    return static_cast<int>(json::integerIn(payload.value(name), 0, kMaxGeometryValue).value_or(0));
  };
  geometry.width = dimension(key::kWidth);
  geometry.height = dimension(key::kHeight);
  if (const auto active = json::integerIn(payload.value(key::kActiveDisplay), 0, kMaxGeometryValue)) {
    geometry.activeDisplay = static_cast<int>(*active);
  }
  if (const auto id = json::integerIn(payload.value(key::kDisplayId), 0, UINT32_MAX)) {
    geometry.displayId = static_cast<uint32_t>(*id);
  }
  return geometry;
}

std::vector<rtc::IceServer> iceServersOf(const QJsonObject& message) {
  std::vector<rtc::IceServer> servers;
  auto text = [&](const QJsonValue& v, std::string& out) {
    if (!v.isString() || v.toString().size() > kMaxIceServerText) return false;
    out = v.toString().toStdString();
    return true;
  };
  for (const QJsonValue& entry : message.value(key::kIceServers).toArray()) {
    if (int(servers.size()) >= kMaxIceServers) break;
    const QJsonObject object = entry.toObject();
    rtc::IceServer server;
    const QJsonValue urls = object.value(key::kUrls);
    for (const QJsonValue& url : urls.isArray() ? urls.toArray() : QJsonArray{urls}) {
      std::string one;
      if (text(url, one) && (one.rfind("turn:", 0) == 0 || one.rfind("turns:", 0) == 0 || one.rfind("stun:", 0) == 0)) {
        if (server.urls.size() < kMaxIceServers) server.urls.push_back(one);
      }
    }
    if (server.urls.empty() || !text(object.value(key::kUsername), server.username) ||
        !text(object.value(key::kCredential), server.credential)) {
      continue;
    }
    servers.push_back(std::move(server));
  }
  return servers;
}

QString deviceKeyOf(const QJsonObject& message) {
  const QString deviceKey = json::optionalString(message, key::kDeviceKey.data());
  return isHex64(deviceKey) ? deviceKey : QString();
}

QString endReasonOf(const QJsonObject& payload) {
  const QString reason = peerText(json::optionalString(payload, key::kReason.data()), kMaxPeerReasonChars);
  return reason.isEmpty() ? QStringLiteral("Session terminée") : reason;
}

}  // namespace signaling
}  // namespace lunor
