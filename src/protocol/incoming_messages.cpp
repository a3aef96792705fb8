// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/incoming_messages.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include <QHash>

namespace lunor::incoming {
namespace {

using signaling::MessageType;
using signaling::PayloadType;
using signaling::nameOf;
namespace key = signaling::key;

using MessageReader = std::function<std::optional<Message>(const QJsonObject&)>;
using PayloadReader = std::function<std::optional<Payload>(const QJsonObject&)>;

template <typename T>
MessageReader plain() {
  return [](const QJsonObject&) -> std::optional<Message> { return T{}; };
}

const QHash<QString, MessageReader>& messageReaders() {
  static const QHash<QString, MessageReader> readers{
      {nameOf(MessageType::Hello), [](const QJsonObject& m) -> std::optional<Message> {
         return Hello{json::optionalString(m, key::kClientId.data())};
       }},
      {nameOf(MessageType::Created), plain<Created>()},
      {nameOf(MessageType::Joined), plain<Joined>()},
      {nameOf(MessageType::JoinRequest),
       [](const QJsonObject& m) -> std::optional<Message> { return signaling::joinRequest(m); }},
      {nameOf(MessageType::WaitingApproval), plain<WaitingApproval>()},
      {nameOf(MessageType::RequireUnattended), [](const QJsonObject& m) -> std::optional<Message> {
         return RequireUnattended{m.value(key::kProof) == key::kProofByHost};
       }},
      {nameOf(MessageType::UnattendedDenied), [](const QJsonObject& m) -> std::optional<Message> {
         const double wait = m.value(key::kRetryAfterMs).toDouble(0);
         return UnattendedDenied{m.value(key::kLocked).toBool(false),
                                 int64_t(std::isfinite(wait) ? std::clamp(wait, 0.0, double(signaling::kMaxRetryAfterMs)) : 0)};
       }},
      {nameOf(MessageType::Approved), [](const QJsonObject& m) -> std::optional<Message> {
         return Approved{signaling::iceServersOf(m), signaling::deviceKeyOf(m)};
       }},
      {nameOf(MessageType::PeerJoined), [](const QJsonObject& m) -> std::optional<Message> {
         return PeerJoined{signaling::peerJoined(m), signaling::iceServersOf(m),
                           m.contains(key::kIceServers)};
       }},
      {nameOf(MessageType::Rejected), plain<Rejected>()},
      {nameOf(MessageType::JoinCode), [](const QJsonObject& m) -> std::optional<Message> {
         const auto part = signaling::codePartOf(m);
         return part ? std::optional<Message>(JoinCode{*part}) : std::nullopt;
       }},
      {nameOf(MessageType::JoinReveal), [](const QJsonObject& m) -> std::optional<Message> {
         const auto part = signaling::codePartOf(m);
         return part ? std::optional<Message>(JoinReveal{*part}) : std::nullopt;
       }},
      {nameOf(MessageType::UnattendedJoined), [](const QJsonObject& m) -> std::optional<Message> {
         return UnattendedJoined{signaling::displayNameOf(m)};
       }},
      {nameOf(MessageType::UnattendedLocked), [](const QJsonObject& m) -> std::optional<Message> {
         return UnattendedLocked{m.value(key::kFailures).toInt()};
       }},
      {nameOf(MessageType::DevicesForgotten), plain<DevicesForgotten>()},
      {nameOf(MessageType::PeerLeft), [](const QJsonObject& m) -> std::optional<Message> {
         return PeerLeft{json::stringOr(m, key::kClientId.data(), QStringLiteral("?"))};
       }},
      {nameOf(MessageType::Left), plain<Left>()},
      {nameOf(MessageType::RoomNotFound), plain<RoomNotFound>()},
      {nameOf(MessageType::RoomBusy), plain<RoomBusy>()},
      {nameOf(MessageType::Error), [](const QJsonObject& m) -> std::optional<Message> {
         return Error{json::optionalString(m, key::kCode.data())};
       }},
      {nameOf(MessageType::RefreshRequest), [](const QJsonObject&) -> std::optional<Message> {
         return RefreshRequest{nameOf(MessageType::RefreshRequest)};
       }},
      {nameOf(MessageType::HardRefreshRequest), [](const QJsonObject&) -> std::optional<Message> {
         return RefreshRequest{nameOf(MessageType::HardRefreshRequest)};
       }},
      {nameOf(MessageType::Signal), [](const QJsonObject& m) -> std::optional<Message> {
         return decodeSignal(m.value(key::kData).toObject());
       }},
  };
  return readers;
}

const QHash<QString, PayloadReader>& payloadReaders() {
  static const QHash<QString, PayloadReader> readers{
      {nameOf(PayloadType::Offer), [](const QJsonObject& d) -> std::optional<Payload> {
         if (const auto sdp = signaling::descriptionOf(d)) return Offer{*sdp};
         return std::nullopt;
       }},
      {nameOf(PayloadType::Answer), [](const QJsonObject& d) -> std::optional<Payload> {
         if (const auto sdp = signaling::descriptionOf(d)) return Answer{*sdp};
         return std::nullopt;
       }},
      {nameOf(PayloadType::Ice), [](const QJsonObject& d) -> std::optional<Payload> {
         if (const auto candidate = signaling::candidateOf(d)) return Ice{*candidate};
         return std::nullopt;
       }},
      {nameOf(PayloadType::End),
       [](const QJsonObject& d) -> std::optional<Payload> { return End{signaling::endReasonOf(d)}; }},
      {nameOf(PayloadType::Quality), [](const QJsonObject& d) -> std::optional<Payload> {
         if (const auto profile = signaling::qualityOf(d)) return Quality{*profile};
         return std::nullopt;
       }},
      {nameOf(PayloadType::SwitchDisplay), [](const QJsonObject& d) -> std::optional<Payload> {
         if (const auto index = signaling::switchIndexOf(d)) return SwitchDisplay{*index};
         return std::nullopt;
       }},
      {nameOf(PayloadType::HardRefreshRequest),
       [](const QJsonObject&) -> std::optional<Payload> { return HardRefresh{}; }},
      {nameOf(PayloadType::HostChoosing), [](const QJsonObject& d) -> std::optional<Payload> {
         const double ms = d.value(key::kTimeoutMs).toDouble(-1);
         if (!(ms > 0)) return std::nullopt;
         return HostChoosing{int(std::min(ms, double(signaling::kMaxHostChoosingMs)))};
       }},
      {nameOf(PayloadType::Displays),
       [](const QJsonObject& d) -> std::optional<Payload> { return Displays{signaling::displaysOf(d)}; }},
      {nameOf(PayloadType::VideoGeometry),
       [](const QJsonObject& d) -> std::optional<Payload> { return signaling::videoGeometryOf(d); }},
  };
  return readers;
}

}  // namespace

Signal decodeSignal(const QJsonObject& data) {
  Signal signal{signaling::typeOf(data), std::nullopt};
  if (signal.payloadType.isNull()) return signal;
  const auto reader = payloadReaders().constFind(signal.payloadType);
  if (reader != payloadReaders().constEnd()) signal.payload = (*reader)(data);
  return signal;
}

std::optional<Incoming> decode(const QJsonObject& object) {
  const QString type = signaling::typeOf(object);
  if (type.isNull()) return std::nullopt;
  Incoming incoming{type, std::nullopt};
  const auto reader = messageReaders().constFind(type);
  if (reader != messageReaders().constEnd()) incoming.message = (*reader)(object);
  return incoming;
}

}  // namespace lunor::incoming
