// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/incoming_messages.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include <QHash>

namespace lunor::incoming {
namespace {

using MessageReader = std::function<std::optional<Message>(const QJsonObject&)>;
using PayloadReader = std::function<std::optional<Payload>(const QJsonObject&)>;

template <typename T>
MessageReader plain() {
  return [](const QJsonObject&) -> std::optional<Message> { return T{}; };
}

const QHash<QString, MessageReader>& messageReaders() {
  static const QHash<QString, MessageReader> readers{
      {QStringLiteral("hello"), [](const QJsonObject& m) -> std::optional<Message> {
         return Hello{json::optionalString(m, "clientId")};
       }},
      {QStringLiteral("created"), plain<Created>()},
      {QStringLiteral("joined"), plain<Joined>()},
      {QStringLiteral("join-request"),
       [](const QJsonObject& m) -> std::optional<Message> { return signaling::joinRequest(m); }},
      {QStringLiteral("waiting-approval"), plain<WaitingApproval>()},
      {QStringLiteral("require-unattended"), plain<RequireUnattended>()},
      {QStringLiteral("unattended-denied"), [](const QJsonObject& m) -> std::optional<Message> {
         constexpr double kTwoDaysMs = 2 * 24 * 3600'000.0;
         const double wait = m.value(QLatin1String("retryAfterMs")).toDouble(0);
         return UnattendedDenied{m.value(QLatin1String("locked")).toBool(false),
                                 int64_t(std::isfinite(wait) ? std::clamp(wait, 0.0, kTwoDaysMs) : 0)};
       }},
      {QStringLiteral("approved"), [](const QJsonObject& m) -> std::optional<Message> {
         return Approved{signaling::iceServersOf(m), signaling::deviceKeyOf(m)};
       }},
      {QStringLiteral("peer-joined"), [](const QJsonObject& m) -> std::optional<Message> {
         return PeerJoined{signaling::peerJoined(m), signaling::iceServersOf(m),
                           m.contains(QLatin1String("iceServers"))};
       }},
      {QStringLiteral("rejected"), plain<Rejected>()},
      {QStringLiteral("unattended-joined"), [](const QJsonObject& m) -> std::optional<Message> {
         return UnattendedJoined{signaling::displayNameOf(m)};
       }},
      {QStringLiteral("unattended-locked"), [](const QJsonObject& m) -> std::optional<Message> {
         return UnattendedLocked{m.value(QLatin1String("failures")).toInt()};
       }},
      {QStringLiteral("devices-forgotten"), plain<DevicesForgotten>()},
      {QStringLiteral("peer-left"), [](const QJsonObject& m) -> std::optional<Message> {
         return PeerLeft{json::stringOr(m, "clientId", QStringLiteral("?"))};
       }},
      {QStringLiteral("left"), plain<Left>()},
      {QStringLiteral("room-not-found"), plain<RoomNotFound>()},
      {QStringLiteral("room-busy"), plain<RoomBusy>()},
      {QStringLiteral("error"), [](const QJsonObject& m) -> std::optional<Message> {
         return Error{json::optionalString(m, "code")};
       }},
      {QStringLiteral("refresh-request"), [](const QJsonObject&) -> std::optional<Message> {
         return RefreshRequest{QStringLiteral("refresh-request")};
       }},
      {QStringLiteral("hard-refresh-request"), [](const QJsonObject&) -> std::optional<Message> {
         return RefreshRequest{QStringLiteral("hard-refresh-request")};
       }},
      {QStringLiteral("signal"), [](const QJsonObject& m) -> std::optional<Message> {
         return decodeSignal(m.value(QLatin1String("data")).toObject());
       }},
  };
  return readers;
}

const QHash<QString, PayloadReader>& payloadReaders() {
  static const QHash<QString, PayloadReader> readers{
      {QStringLiteral("offer"), [](const QJsonObject& d) -> std::optional<Payload> {
         if (const auto sdp = signaling::descriptionOf(d)) return Offer{*sdp};
         return std::nullopt;
       }},
      {QStringLiteral("answer"), [](const QJsonObject& d) -> std::optional<Payload> {
         if (const auto sdp = signaling::descriptionOf(d)) return Answer{*sdp};
         return std::nullopt;
       }},
      {QStringLiteral("ice"), [](const QJsonObject& d) -> std::optional<Payload> {
         if (const auto candidate = signaling::candidateOf(d)) return Ice{*candidate};
         return std::nullopt;
       }},
      {QStringLiteral("end"),
       [](const QJsonObject& d) -> std::optional<Payload> { return End{signaling::endReasonOf(d)}; }},
      {QStringLiteral("quality"), [](const QJsonObject& d) -> std::optional<Payload> {
         if (const auto profile = signaling::qualityOf(d)) return Quality{*profile};
         return std::nullopt;
       }},
      {QStringLiteral("switchDisplay"), [](const QJsonObject& d) -> std::optional<Payload> {
         if (const auto index = signaling::switchIndexOf(d)) return SwitchDisplay{*index};
         return std::nullopt;
       }},
      {QStringLiteral("hard-refresh-request"),
       [](const QJsonObject&) -> std::optional<Payload> { return HardRefresh{}; }},
      {QStringLiteral("host-choosing"), [](const QJsonObject& d) -> std::optional<Payload> {
         const double ms = d.value(QLatin1String("timeoutMs")).toDouble(-1);
         if (!(ms > 0)) return std::nullopt;
         return HostChoosing{int(std::min(ms, 600'000.0))};
       }},
      {QStringLiteral("displays"),
       [](const QJsonObject& d) -> std::optional<Payload> { return Displays{signaling::displaysOf(d)}; }},
      {QStringLiteral("videoGeometry"),
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
