// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The signaling server's side of the wire: what a connection sends it,
// decoded once into typed requests, and what it answers, built here in
// their exact wire form. The application reads those answers through
// `incoming` and builds its requests with `signaling`; both ends take every
// name from signaling_wire.h.

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include "protocol/negotiation_types.h"
#include "protocol/signaling_messages.h"
#include "protocol/signaling_wire.h"

namespace lunor::server_messages {

using signaling::ErrorCode;
using signaling::MessageType;

// ---- what the server reads ---------------------------------------------------
// Members of the wrong type read as empty, as a server that only ever asks
// a value for its text does.

// A frame that is no message: the error it is answered with.
struct Malformed {
  ErrorCode code = ErrorCode::BadJson;  // BadJson or MissingType
};
// A type the server does not take from a connection (its name for the log).
struct Unknown {
  QString type;
};
struct Create {
  QString roomId;
  std::optional<QString> ownerKey;  // the text of "ownerKey" when it is there at all
  QString unattendedHash;           // a well-formed hash of an enabled "unattended"; empty otherwise
  bool hostProof = false;           // an enabled "unattended" the host checks itself
};
struct Join {
  QString roomId;
  QString displayName;                 // as sent, uncut
  std::optional<QString> avatar;       // when a string
  std::optional<QString> passwordHash; // when a string
  QString deviceKey;                   // a well-formed device key, or empty
  bool hostProof = false;              // the client proves the password to the host
  QByteArray commit;                   // its commitment to its half of the code, when well-formed
};
// "approve", "reject" or "kick" of the client `target`.
struct Answer {
  MessageType type = MessageType::Approve;
  QString target;
};
struct Signal {
  std::optional<QJsonObject> data;  // nothing when "data" is not an object
};
struct ForgetDevices {};
// "join-code" (from a host, for `part.clientId`) or "join-reveal" (from a
// client at a door); nothing in `part` when it is not well-formed.
struct CodePart {
  MessageType type = MessageType::JoinCode;
  std::optional<signaling::CodePart> part;
};

using Request = std::variant<Malformed, Unknown, Create, Join, Answer, Signal, ForgetDevices, CodePart>;

// The request in one text frame (UTF-8).
Request decode(const QByteArray& utf8);

// ---- what the server sends -----------------------------------------------------
// The compact JSON a message travels as.
QByteArray encode(const QJsonObject& message);

QJsonObject hello(const QString& clientId);
QJsonObject created(const QString& roomId);
QJsonObject joined(const QString& roomId);
QJsonObject roomNotFound(const QString& roomId);
QJsonObject error(ErrorCode code);
// A message that carries nothing but its type: "waiting-approval",
// "require-unattended", "rejected", "left", "room-busy", "devices-forgotten".
QJsonObject bare(MessageType type);
// To a room's host: a client at its door.
QJsonObject joinRequest(const QString& clientId, const QString& displayName, bool unattended, bool awaitingPassword,
                        const std::optional<QString>& avatar, const QByteArray& commit = {});
// A half of the code passed on: the host's to the client (no clientId), the
// client's to the host (its clientId).
QJsonObject codePart(MessageType type, const signaling::CodePart& part);
// To the client let in: its device key for the room (none when empty), and
// the pair's relay servers (if any).
QJsonObject approved(const QString& deviceKey, const std::vector<rtc::IceServer>& iceServers);
// To either side of the admitted pair: the other one (the client's name
// and picture go to the host only), and the pair's relay servers (if any).
QJsonObject peerJoined(const QString& clientId, bool unattended, const std::vector<rtc::IceServer>& iceServers,
                       const std::optional<QString>& displayName = std::nullopt,
                       const std::optional<QString>& avatar = std::nullopt, bool hostProof = false);
// The password is needed; "proof": "host" when the host checks it itself.
QJsonObject requireUnattended(bool hostProof);
QJsonObject unattendedJoined(const QString& displayName);
// A password refused: "locked" only when the room's day is spent; the wait
// when there is one to tell.
QJsonObject unattendedDenied(std::optional<int64_t> retryAfterMs = std::nullopt, bool locked = false);
QJsonObject unattendedLocked(int failures);
QJsonObject peerLeft(const QString& clientId);

}  // namespace lunor::server_messages
