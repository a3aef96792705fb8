// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/server_messages.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "protocol/password_proof.h"
#include "protocol/wire_text.h"

namespace lunor::server_messages {
namespace key = signaling::key;
namespace {

QJsonObject typed(MessageType type) { return {{key::kType, signaling::nameOf(type)}}; }

QJsonArray iceServersArray(const std::vector<rtc::IceServer>& servers) {
  QJsonArray array;
  for (const auto& server : servers) {
    QJsonArray urls;
    for (const auto& url : server.urls) urls.append(QString::fromStdString(url));
    array.append(QJsonObject{{key::kUrls, urls},
                             {key::kUsername, QString::fromStdString(server.username)},
                             {key::kCredential, QString::fromStdString(server.credential)}});
  }
  return array;
}

void insertIceServers(QJsonObject& message, const std::vector<rtc::IceServer>& servers) {
  if (!servers.empty()) message.insert(key::kIceServers, iceServersArray(servers));
}

Create createOf(const QJsonObject& message) {
  Create create{message.value(key::kRoomId).toString(), std::nullopt, QString()};
  if (const QJsonValue ownerKey = message.value(key::kOwnerKey); !ownerKey.isUndefined()) {
    create.ownerKey = ownerKey.toString();
  }
  const QJsonObject unattended = message.value(key::kUnattended).toObject();
  const QString hash = unattended.value(key::kHash).toString();
  if (unattended.value(key::kEnabled).toBool() && isHex64(hash)) create.unattendedHash = hash;
  create.hostProof = unattended.value(key::kEnabled).toBool() && unattended.value(key::kProof) == key::kProofByHost;
  return create;
}

std::optional<QString> stringOf(const QJsonObject& message, QLatin1String name) {
  const QJsonValue value = message.value(name);
  return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

Join joinOf(const QJsonObject& message) {
  Join join{message.value(key::kRoomId).toString(), message.value(key::kDisplayName).toString(),
            stringOf(message, key::kAvatar), stringOf(message, key::kPasswordHash), QString()};
  // Anything but a well-formed key is as if none was shown.
  if (const QString deviceKey = message.value(key::kDeviceKey).toString(); isHex64(deviceKey)) join.deviceKey = deviceKey;
  join.hostProof = message.value(key::kProof) == key::kProofByHost;
  join.commit = base64Bytes(message.value(key::kCommit).toString(), proof::kCommitBytes).value_or(QByteArray());
  return join;
}

}  // namespace

Request decode(const QByteArray& utf8) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(utf8, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return Malformed{ErrorCode::BadJson};
  const QJsonObject message = document.object();
  const QJsonValue typeValue = message.value(key::kType);
  if (!typeValue.isString()) return Malformed{ErrorCode::MissingType};
  const QString name = typeValue.toString();
  const auto type = signaling::messageTypeNamed(name);
  if (!type) return Unknown{name};
  switch (*type) {
    case MessageType::Create: return createOf(message);
    case MessageType::Join: return joinOf(message);
    case MessageType::Approve:
    case MessageType::Reject:
    case MessageType::Kick: return Answer{*type, message.value(key::kTarget).toString()};
    case MessageType::Signal: {
      const QJsonValue data = message.value(key::kData);
      return Signal{data.isObject() ? std::optional(data.toObject()) : std::nullopt};
    }
    case MessageType::ForgetDevices: return ForgetDevices{};
    case MessageType::JoinCode:
    case MessageType::JoinReveal: return CodePart{*type, signaling::codePartOf(message)};
    default: return Unknown{name};  // the server's own messages, not a connection's
  }
}

QByteArray encode(const QJsonObject& message) { return QJsonDocument(message).toJson(QJsonDocument::Compact); }

QJsonObject hello(const QString& clientId) {
  return {{key::kType, signaling::nameOf(MessageType::Hello)}, {key::kClientId, clientId}};
}

QJsonObject created(const QString& roomId) {
  return {{key::kType, signaling::nameOf(MessageType::Created)}, {key::kRoomId, roomId}};
}

QJsonObject joined(const QString& roomId) {
  return {{key::kType, signaling::nameOf(MessageType::Joined)}, {key::kRoomId, roomId}};
}

QJsonObject roomNotFound(const QString& roomId) {
  return {{key::kType, signaling::nameOf(MessageType::RoomNotFound)}, {key::kRoomId, roomId}};
}

QJsonObject error(ErrorCode code) {
  return {{key::kType, signaling::nameOf(MessageType::Error)}, {key::kCode, signaling::nameOf(code)}};
}

QJsonObject bare(MessageType type) { return typed(type); }

QJsonObject joinRequest(const QString& clientId, const QString& displayName, bool unattended, bool awaitingPassword,
                        const std::optional<QString>& avatar, const QByteArray& commit) {
  QJsonObject message{{key::kType, signaling::nameOf(MessageType::JoinRequest)},
                      {key::kClientId, clientId},
                      {key::kDisplayName, displayName},
                      {key::kUnattended, unattended},
                      {key::kAwaitingPassword, awaitingPassword}};
  if (avatar) message.insert(key::kAvatar, *avatar);
  if (!commit.isEmpty()) message.insert(key::kCommit, QString::fromLatin1(commit.toBase64()));
  return message;
}

QJsonObject codePart(MessageType type, const signaling::CodePart& part) {
  QJsonObject message{{key::kType, signaling::nameOf(type)},
                      {key::kFingerprint, QString::fromLatin1(part.fingerprint)},
                      {key::kNonce, QString::fromLatin1(part.nonce.toBase64())}};
  if (!part.clientId.isEmpty()) message.insert(key::kClientId, part.clientId);
  return message;
}

QJsonObject approved(const QString& deviceKey, const std::vector<rtc::IceServer>& iceServers) {
  QJsonObject message{{key::kType, signaling::nameOf(MessageType::Approved)}};
  if (!deviceKey.isEmpty()) message.insert(key::kDeviceKey, deviceKey);
  insertIceServers(message, iceServers);
  return message;
}

QJsonObject peerJoined(const QString& clientId, bool unattended, const std::vector<rtc::IceServer>& iceServers,
                       const std::optional<QString>& displayName, const std::optional<QString>& avatar,
                       bool hostProof) {
  QJsonObject message{{key::kType, signaling::nameOf(MessageType::PeerJoined)},
                      {key::kClientId, clientId},
                      {key::kUnattended, unattended}};
  if (displayName) message.insert(key::kDisplayName, *displayName);
  if (avatar) message.insert(key::kAvatar, *avatar);
  if (hostProof) message.insert(key::kProof, key::kProofByHost);
  insertIceServers(message, iceServers);
  return message;
}

QJsonObject requireUnattended(bool hostProof) {
  QJsonObject message = typed(MessageType::RequireUnattended);
  if (hostProof) message.insert(key::kProof, key::kProofByHost);
  return message;
}

QJsonObject unattendedJoined(const QString& displayName) {
  return {{key::kType, signaling::nameOf(MessageType::UnattendedJoined)}, {key::kDisplayName, displayName}};
}

QJsonObject unattendedDenied(std::optional<int64_t> retryAfterMs, bool locked) {
  QJsonObject message = typed(MessageType::UnattendedDenied);
  if (locked) message.insert(key::kLocked, true);
  if (retryAfterMs) message.insert(key::kRetryAfterMs, static_cast<double>(*retryAfterMs));
  return message;
}

QJsonObject unattendedLocked(int failures) {
  return {{key::kType, signaling::nameOf(MessageType::UnattendedLocked)}, {key::kFailures, failures}};
}

QJsonObject peerLeft(const QString& clientId) {
  return {{key::kType, signaling::nameOf(MessageType::PeerLeft)}, {key::kClientId, clientId}};
}

}  // namespace lunor::server_messages
