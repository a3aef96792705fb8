// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a session receives from the signaling server, decoded once, at the
// edge, into typed values: the session and its roles dispatch on them and
// never look at a "type" string again. Unknown types keep only their name
// (for the log); a message or payload whose members do not make sense is
// dropped here.

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include <QJsonObject>
#include <QString>

#include "protocol/negotiation_types.h"
#include "protocol/quality_profile.h"
#include "protocol/signaling_messages.h"

namespace lunor::incoming {

// ---- "signal" payloads ------------------------------------------------------
struct Offer {
  QString sdp;
};
struct Answer {
  QString sdp;
};
struct Ice {
  rtc::IceCandidate candidate;
};
struct End {
  QString reason;  // fit to show; "Session terminée" when none was given
};
struct Quality {
  QualityProfile profile;
};
struct SwitchDisplay {
  int index = 0;
};
struct HardRefresh {};
// The host's person chooses what to share; the offer may take this long.
struct HostChoosing {
  int timeoutMs = 0;  // at most 10 minutes
};
struct Displays {
  std::vector<DisplayEntry> entries;  // the well-formed ones; may be empty
};
using Payload = std::variant<Offer, Answer, Ice, End, Quality, SwitchDisplay, HardRefresh, HostChoosing, Displays,
                             signaling::VideoGeometry>;

// ---- server messages ----------------------------------------------------------
struct Hello {
  QString clientId;  // null when missing
};
struct Created {};
struct Joined {};
struct WaitingApproval {};
struct RequireUnattended {
  bool hostProof = false;  // the host checks the password itself
};
// A password refused: wrong, or not even tried because of too many wrong
// ones (from this address, or today for the whole room: locked). Not to be
// tried again for retryAfterMs (0: at once; at most two days).
struct UnattendedDenied {
  bool locked = false;
  int64_t retryAfterMs = 0;
};
// An admission: the client's "approved", or "peer-joined" on either side.
// Both may hand over the pair's TURN servers.
struct Approved {
  std::vector<rtc::IceServer> iceServers;
  QString deviceKey;  // null when none or malformed
};
struct PeerJoined {
  signaling::PeerJoined peer;
  std::vector<rtc::IceServer> iceServers;
  bool carriesIceServers = false;  // "iceServers" was there, usable or not
};
struct Rejected {};
// The halves of the code compared at the door: the host's to the client,
// the client's to the host.
struct JoinCode {
  signaling::CodePart part;
};
struct JoinReveal {
  signaling::CodePart part;
};
struct UnattendedJoined {
  QString displayName;  // fit to show; null when none
};
struct UnattendedLocked {
  int failures = 0;
};
struct DevicesForgotten {};
struct PeerLeft {
  QString clientId;  // "?" when missing
};
struct Left {};
struct RoomNotFound {};
struct RoomBusy {};
struct Error {
  QString code;  // null when missing
};
// "refresh-request" or "hard-refresh-request" from the server.
struct RefreshRequest {
  QString type;
};
// A "signal" message; its payload is absent when its type is unknown or
// its members do not make sense.
struct Signal {
  QString payloadType;  // null when the payload has no type
  std::optional<Payload> payload;
};
using Message = std::variant<Hello, Created, Joined, signaling::JoinRequest, WaitingApproval, RequireUnattended,
                             UnattendedDenied, Approved, PeerJoined, Rejected, JoinCode, JoinReveal,
                             UnattendedJoined, UnattendedLocked,
                             DevicesForgotten, PeerLeft, Left, RoomNotFound, RoomBusy, Error, RefreshRequest, Signal>;

struct Incoming {
  QString type;                    // as received, for the log
  std::optional<Message> message;  // nothing for a type we do not know
};

// Nothing for an object without a string "type" (ignored without a log).
std::optional<Incoming> decode(const QJsonObject& object);
// The payload of a "signal" message's "data".
Signal decodeSignal(const QJsonObject& data);

}  // namespace lunor::incoming
