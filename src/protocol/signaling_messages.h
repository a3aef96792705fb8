// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The JSON messages the session exchanges with the signaling server, built
// and checked in one place. Builders give the exact wire form; readers take
// a received object and return its fields only when they have the right
// type and range (missing or mistyped fields are ignored without a log).

#include <cstdint>
#include <optional>
#include <vector>

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include "protocol/negotiation_types.h"
#include "protocol/quality_profile.h"
#include "protocol/signaling_wire.h"

namespace lunor {

namespace json {

// The value as an integer within [min, max], or nothing when it is not a
// number, not whole, or out of range.
std::optional<int64_t> integerIn(const QJsonValue& value, int64_t min, int64_t max);
// The member as a string; null when missing or not a string.
QString optionalString(const QJsonObject& object, const char* key);
QString stringOr(const QJsonObject& object, const char* key, const QString& fallback);
bool boolOr(const QJsonObject& object, const char* key, bool fallback);

}  // namespace json

// Text the other side chose (its name, its end reason), made fit to show
// anywhere, a terminal included: control characters and bidirectional
// overrides removed, runs of white space kept as one space, trimmed, and
// at most maxChars characters (the last one "…" when cut).
QString peerText(const QString& text, int maxChars);

// One entry of the host's display list as it travels.
struct DisplayEntry {
  int index = 0;
  QString name;
  QString resolution;
  uint32_t id = 0;  // the host's display identifier; not read by the client

  bool operator==(const DisplayEntry&) const = default;
};

namespace signaling {

// ---- server messages --------------------------------------------------------
// With "unattended" when there is a digest to give the server (it then
// admits whoever shows it) or the host checks passwords itself (hostProof:
// "proof": "host").
QJsonObject create(const QString& roomId, const std::optional<QString>& unattendedHash, bool hostProof = false);
// With "deviceKey" when deviceKey is not empty (the server's key for this
// machine at that room; servers without device keys ignore it).
// With "proof": "host" when the client comes in to prove the password to
// the host itself (a server that does not know it asks for a password).
// With "commit" when `commit` is not empty (proof::codeCommitment).
QJsonObject join(const QString& roomId, const QString& displayName,
                 const std::optional<QString>& avatar, const std::optional<QString>& passwordHash,
                 const QString& deviceKey = QString(), bool hostProof = false, const QByteArray& commit = {});
// The host's half of the code for the client `clientId` at its door, and
// the client's answer ("join-code", "join-reveal").
QJsonObject joinCode(const QString& clientId, const QByteArray& fingerprint, const QByteArray& nonce);
QJsonObject joinReveal(const QByteArray& fingerprint, const QByteArray& nonce);
// "approve", "reject" or "kick" for the client `target`.
QJsonObject answer(const QString& type, const QString& target);
// The host asks the server to forget the devices it let in.
QJsonObject forgetDevices();
// {"type": "signal", "data": payload}
QJsonObject signal(const QJsonObject& payload);

// ---- "signal" payloads -----------------------------------------------------------
QJsonObject endPayload(const QString& reason);
QJsonObject descriptionPayload(const rtc::SessionDescription& description);
QJsonObject icePayload(const rtc::IceCandidate& candidate);
QJsonObject qualityPayload(QualityProfile profile);
QJsonObject switchDisplayPayload(int index);
QJsonObject hardRefreshPayload();
// Host: its person is choosing what to share in the desktop's dialog and
// has up to `timeoutMs` to do so; the client waits that long for the
// offer. A peer that does not know it ignores it (an unknown payload).
QJsonObject hostChoosingPayload(int timeoutMs);
QJsonObject displaysPayload(const std::vector<DisplayEntry>& displays);
QJsonObject videoGeometryPayload(int width, int height, int activeDisplay, uint32_t displayId);

// ---- readers ----------------------------------------------------------------------
// The "type" of a message or payload; null when missing or not a string.
QString typeOf(const QJsonObject& object);

// The sender's "displayName" fit to show (peerText); null when missing,
// mistyped or empty once cleaned.
QString displayNameOf(const QJsonObject& message);

struct JoinRequest {
  QString clientId;      // "???" when missing
  QString displayName;   // displayNameOf()
  QString avatar;        // Base64, null when missing
  bool unattended = false;
  bool awaitingPassword = false;
  QByteArray commit;     // the client's commitment to its half of the code, when well-formed
};
JoinRequest joinRequest(const QJsonObject& message);

// A "join-code" or "join-reveal" as a host or client receives it: a
// well-formed fingerprint and nonce; the client's ID on a host's.
struct CodePart {
  QString clientId;
  QByteArray fingerprint;
  QByteArray nonce;
};
std::optional<CodePart> codePartOf(const QJsonObject& message);

struct PeerJoined {
  QString clientId;  // "?" when missing
  QString displayName;
  QString avatar;
  bool unattended = false;
  bool hostProof = false;  // admitted to prove the password to the host
};
PeerJoined peerJoined(const QJsonObject& message);

// The description text of an "offer" or "answer" payload.
std::optional<QString> descriptionOf(const QJsonObject& payload);
// The candidate of an "ice" payload: a string line, a string "sdpMid" and an
// "sdpMLineIndex" within the signed 32-bit range.
std::optional<rtc::IceCandidate> candidateOf(const QJsonObject& payload);
std::optional<QualityProfile> qualityOf(const QJsonObject& payload);
std::optional<int> switchIndexOf(const QJsonObject& payload);
// The well-formed entries of a "displays" payload, in order, at most
// kMaxDisplays, their texts fit to show (peerText).
std::vector<DisplayEntry> displaysOf(const QJsonObject& payload);

struct VideoGeometry {
  int width = 0;   // 0 when absent
  int height = 0;
  std::optional<int> activeDisplay;
  std::optional<uint32_t> displayId;
};
VideoGeometry videoGeometryOf(const QJsonObject& payload);

// The TURN servers a server message hands over ("iceServers"): at most
// kMaxIceServers well-formed entries (string URLs, username and credential, each bounded).
std::vector<rtc::IceServer> iceServersOf(const QJsonObject& message);

// The "deviceKey" an admission carries: 64 lowercase hexadecimal
// characters; null when missing or malformed.
QString deviceKeyOf(const QJsonObject& message);

// The reason of an "end" payload fit to show (peerText), or "Session
// terminée" when it has none.
QString endReasonOf(const QJsonObject& payload);

}  // namespace signaling
}  // namespace lunor
