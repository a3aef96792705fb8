// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/signaling_wire.h"

#include <algorithm>


namespace lunor::signaling {
namespace {

using L = QLatin1String;

constexpr Named<MessageType> kMessageTypes[] = {
    {MessageType::Create, L("create")},
    {MessageType::Join, L("join")},
    {MessageType::Approve, L("approve")},
    {MessageType::Reject, L("reject")},
    {MessageType::Kick, L("kick")},
    {MessageType::ForgetDevices, L("forget-devices")},
    {MessageType::Signal, L("signal")},
    {MessageType::JoinCode, L("join-code")},
    {MessageType::JoinReveal, L("join-reveal")},
    {MessageType::Hello, L("hello")},
    {MessageType::Created, L("created")},
    {MessageType::Joined, L("joined")},
    {MessageType::JoinRequest, L("join-request")},
    {MessageType::WaitingApproval, L("waiting-approval")},
    {MessageType::RequireUnattended, L("require-unattended")},
    {MessageType::UnattendedDenied, L("unattended-denied")},
    {MessageType::Approved, L("approved")},
    {MessageType::PeerJoined, L("peer-joined")},
    {MessageType::Rejected, L("rejected")},
    {MessageType::UnattendedJoined, L("unattended-joined")},
    {MessageType::UnattendedLocked, L("unattended-locked")},
    {MessageType::DevicesForgotten, L("devices-forgotten")},
    {MessageType::PeerLeft, L("peer-left")},
    {MessageType::Left, L("left")},
    {MessageType::RoomNotFound, L("room-not-found")},
    {MessageType::RoomBusy, L("room-busy")},
    {MessageType::Error, L("error")},
    {MessageType::RefreshRequest, L("refresh-request")},
    {MessageType::HardRefreshRequest, L("hard-refresh-request")},
};

constexpr Named<PayloadType> kPayloadTypes[] = {
    {PayloadType::Offer, L("offer")},
    {PayloadType::Answer, L("answer")},
    {PayloadType::Ice, L("ice")},
    {PayloadType::End, L("end")},
    {PayloadType::Quality, L("quality")},
    {PayloadType::SwitchDisplay, L("switchDisplay")},
    {PayloadType::HardRefreshRequest, L("hard-refresh-request")},
    {PayloadType::HostChoosing, L("host-choosing")},
    {PayloadType::Displays, L("displays")},
    {PayloadType::VideoGeometry, L("videoGeometry")},
};

constexpr Named<ErrorCode> kErrorCodes[] = {
    {ErrorCode::BadJson, L("bad-json")},
    {ErrorCode::BadEncoding, L("bad-encoding")},
    {ErrorCode::MissingType, L("missing-type")},
    {ErrorCode::UnknownType, L("unknown-type")},
    {ErrorCode::RateLimited, L("rate-limited")},
    {ErrorCode::TooManyRooms, L("too-many-rooms")},
    {ErrorCode::BadRoomId, L("bad-room-id")},
    {ErrorCode::BadOwnerKey, L("bad-owner-key")},
    {ErrorCode::RoomTaken, L("room-taken")},
    {ErrorCode::OwnRoom, L("own-room")},
    {ErrorCode::JoinCooldown, L("join-cooldown")},
    {ErrorCode::AlreadyJoined, L("already-joined")},
    {ErrorCode::NoRoom, L("no-room")},
    {ErrorCode::UnknownTarget, L("unknown-target")},
    {ErrorCode::ForgetFailed, L("forget-failed")},
    {ErrorCode::BadSignal, L("bad-signal")},
    {ErrorCode::NotInRoom, L("not-in-room")},
};

// The tables list every value in declaration order: a value is its own index.
template <typename Enum, size_t N>
QLatin1String nameIn(const Named<Enum> (&table)[N], Enum value) {
  return table[static_cast<size_t>(value)].name;
}

template <typename Enum, size_t N>
std::optional<Enum> valueIn(const Named<Enum> (&table)[N], QStringView name) {
  const auto found = std::find_if(std::begin(table), std::end(table), [&](const Named<Enum>& e) { return name == e.name; });
  if (found == std::end(table)) return std::nullopt;
  return found->value;
}

template <typename Enum, size_t N>
constexpr bool inOrder(const Named<Enum> (&table)[N]) {
  for (size_t i = 0; i < N; ++i) {
    if (static_cast<size_t>(table[i].value) != i) return false;
  }
  return true;
}
static_assert(inOrder(kMessageTypes) && inOrder(kPayloadTypes) && inOrder(kErrorCodes));

}  // namespace

std::span<const Named<MessageType>> messageTypes() { return kMessageTypes; }
std::span<const Named<PayloadType>> payloadTypes() { return kPayloadTypes; }
std::span<const Named<ErrorCode>> errorCodes() { return kErrorCodes; }

QLatin1String nameOf(MessageType type) { return nameIn(kMessageTypes, type); }
QLatin1String nameOf(PayloadType type) { return nameIn(kPayloadTypes, type); }
QLatin1String nameOf(ErrorCode code) { return nameIn(kErrorCodes, code); }

std::optional<MessageType> messageTypeNamed(QStringView name) { return valueIn(kMessageTypes, name); }
std::optional<PayloadType> payloadTypeNamed(QStringView name) { return valueIn(kPayloadTypes, name); }
std::optional<ErrorCode> errorCodeNamed(QStringView name) { return valueIn(kErrorCodes, name); }

bool isValidRoomId(const QString& id, int maxChars) {
  return !id.isEmpty() && id.size() <= maxChars && std::all_of(id.begin(), id.end(), [](QChar c) {
           return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' ||
                  c == u'-';
         });
}

}  // namespace lunor::signaling
