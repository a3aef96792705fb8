// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The signaling wire's vocabulary, in one place for every side that speaks
// it: the application, the server, and the web client (through the module
// the build makes from these tables). The messages' and payloads' types,
// the error codes the server answers with, the members' names, and the
// bounds a reader holds a peer's values to.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include <QLatin1String>
#include <QString>
#include <QStringView>

namespace lunor {

// Peer text (a name, an end reason) is cut to this many characters to be shown.
inline constexpr int kMaxPeerNameChars = 64;
inline constexpr int kMaxPeerReasonChars = 300;

namespace signaling {

// Every "type" of a message on the signaling socket, either way.
enum class MessageType {
  // to the server
  Create,
  Join,
  Approve,
  Reject,
  Kick,
  ForgetDevices,
  Signal,  // both ways: the server relays it between a room's host and its client
  // Both ways, between a host and a client at its door, for the code both
  // may compare before the client is let in (see proof::shortCode).
  JoinCode,
  JoinReveal,
  // from the server
  Hello,
  Created,
  Joined,
  JoinRequest,
  WaitingApproval,
  RequireUnattended,
  UnattendedDenied,
  Approved,
  PeerJoined,
  Rejected,
  UnattendedJoined,
  UnattendedLocked,
  DevicesForgotten,
  PeerLeft,
  Left,
  RoomNotFound,
  RoomBusy,
  Error,
  RefreshRequest,
  HardRefreshRequest,
};

// The "type" of a "signal" message's payload.
enum class PayloadType {
  Offer,
  Answer,
  Ice,
  End,
  Quality,
  SwitchDisplay,
  HardRefreshRequest,
  HostChoosing,
  Displays,
  VideoGeometry,
};

// The "code" of an "error" from the server.
enum class ErrorCode {
  BadJson,        // the frame is not a JSON object
  BadEncoding,    // a binary frame that is not UTF-8
  MissingType,
  UnknownType,
  RateLimited,
  TooManyRooms,   // the address asked for too many room IDs this minute
  BadRoomId,
  BadOwnerKey,
  RoomTaken,      // the ID is another's room
  OwnRoom,        // a host joining its own room
  JoinCooldown,
  AlreadyJoined,
  NoRoom,         // a host's request, but it hosts no room
  UnknownTarget,
  ForgetFailed,
  BadSignal,      // a "signal" without an object for "data"
  NotInRoom,      // a "signal" with nobody to relay it to
};

template <typename Enum>
struct Named {
  Enum value;
  QLatin1String name;
};

// Each value with its wire name, in declaration order.
std::span<const Named<MessageType>> messageTypes();
std::span<const Named<PayloadType>> payloadTypes();
std::span<const Named<ErrorCode>> errorCodes();

QLatin1String nameOf(MessageType type);
QLatin1String nameOf(PayloadType type);
QLatin1String nameOf(ErrorCode code);
// The value of an exact wire name; nothing for any other text.
std::optional<MessageType> messageTypeNamed(QStringView name);
std::optional<PayloadType> payloadTypeNamed(QStringView name);
std::optional<ErrorCode> errorCodeNamed(QStringView name);

// The members' names.
namespace key {
inline constexpr QLatin1String kType("type");
// rooms and joins
inline constexpr QLatin1String kRoomId("roomId");
inline constexpr QLatin1String kOwnerKey("ownerKey");
inline constexpr QLatin1String kRequiresApproval("requiresApproval");
inline constexpr QLatin1String kUnattended("unattended");  // a create's object; a join's and admission's flag
inline constexpr QLatin1String kEnabled("enabled");
inline constexpr QLatin1String kHash("hash");
// "proof": "host" in "create" (its "unattended"), "join", "require-unattended"
// and "peer-joined": the password is proved to the host itself, not to us.
inline constexpr QLatin1String kProof("proof");
inline constexpr QLatin1String kProofByHost("host");
// "commit" in "join" and "join-request"; "fingerprint" and "nonce" in
// "join-code" and "join-reveal" (Base64 but the fingerprint).
inline constexpr QLatin1String kCommit("commit");
inline constexpr QLatin1String kFingerprint("fingerprint");
inline constexpr QLatin1String kNonce("nonce");
inline constexpr QLatin1String kDisplayName("displayName");
inline constexpr QLatin1String kAvatar("avatar");
inline constexpr QLatin1String kPasswordHash("passwordHash");
inline constexpr QLatin1String kDeviceKey("deviceKey");
inline constexpr QLatin1String kTarget("target");
inline constexpr QLatin1String kClientId("clientId");
inline constexpr QLatin1String kAwaitingPassword("awaitingPassword");
inline constexpr QLatin1String kLocked("locked");
inline constexpr QLatin1String kRetryAfterMs("retryAfterMs");
inline constexpr QLatin1String kFailures("failures");
inline constexpr QLatin1String kCode("code");
inline constexpr QLatin1String kIceServers("iceServers");
inline constexpr QLatin1String kUrls("urls");
inline constexpr QLatin1String kUsername("username");
inline constexpr QLatin1String kCredential("credential");
// "signal" and its payloads
inline constexpr QLatin1String kData("data");
inline constexpr QLatin1String kReason("reason");
inline constexpr QLatin1String kSdp("sdp");
inline constexpr QLatin1String kCandidate("candidate");
inline constexpr QLatin1String kSdpMid("sdpMid");
inline constexpr QLatin1String kSdpMLineIndex("sdpMLineIndex");
inline constexpr QLatin1String kValue("value");
inline constexpr QLatin1String kDisplayIndex("displayIndex");
inline constexpr QLatin1String kTimeoutMs("timeoutMs");
inline constexpr QLatin1String kDisplays("displays");
inline constexpr QLatin1String kIndex("index");
inline constexpr QLatin1String kName("name");
inline constexpr QLatin1String kResolution("resolution");
inline constexpr QLatin1String kId("id");
inline constexpr QLatin1String kWidth("width");
inline constexpr QLatin1String kHeight("height");
inline constexpr QLatin1String kActiveDisplay("activeDisplay");
inline constexpr QLatin1String kDisplayId("displayID");
}  // namespace key

// ---- bounds ------------------------------------------------------------------
// A room ID: 1 to this many letters, digits, '-' or '_' (a server may take fewer).
inline constexpr int kMaxRoomIdChars = 64;
// A display's index, a width or a height: 0 to this.
inline constexpr int kMaxGeometryValue = 1'000'000;
// Displays of a "displays" payload that are read.
inline constexpr size_t kMaxDisplays = 16;
// Relay servers a message hands over, URLs of one, and characters of each text.
inline constexpr int kMaxIceServers = 4;
inline constexpr int kMaxIceServerText = 512;
// The longest a host's person may choose what to share ("host-choosing").
inline constexpr int kMaxHostChoosingMs = 10 * 60'000;
// The longest wait an "unattended-denied" may ask for (two days).
inline constexpr int64_t kMaxRetryAfterMs = 2 * 24 * 3600'000LL;

// True for an ID of 1 to maxChars letters, digits, '-' or '_'.
bool isValidRoomId(const QString& id, int maxChars = kMaxRoomIdChars);

}  // namespace signaling
}  // namespace lunor
