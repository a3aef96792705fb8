// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/signaling_messages.h"

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

const QString kType = QStringLiteral("type");

}  // namespace

QJsonObject create(const QString& roomId, const std::optional<QString>& unattendedHash) {
  QJsonObject message{{kType, QStringLiteral("create")},
                      {QStringLiteral("roomId"), roomId},
                      {QStringLiteral("requiresApproval"), true}};
  if (unattendedHash) {
    message.insert(QStringLiteral("unattended"),
                   QJsonObject{{QStringLiteral("enabled"), true}, {QStringLiteral("hash"), *unattendedHash}});
  }
  return message;
}

QJsonObject join(const QString& roomId, const QString& displayName,
                 const std::optional<QString>& avatar, const std::optional<QString>& passwordHash,
                 const QString& deviceKey) {
  QJsonObject message{{kType, QStringLiteral("join")},
                      {QStringLiteral("roomId"), roomId},
                      {QStringLiteral("displayName"), displayName}};
  if (avatar) message.insert(QStringLiteral("avatar"), *avatar);
  if (passwordHash) message.insert(QStringLiteral("passwordHash"), *passwordHash);
  if (!deviceKey.isEmpty()) message.insert(QStringLiteral("deviceKey"), deviceKey);
  return message;
}

QJsonObject answer(const QString& type, const QString& target) {
  return {{kType, type}, {QStringLiteral("target"), target}};
}

QJsonObject signal(const QJsonObject& payload) {
  return {{kType, QStringLiteral("signal")}, {QStringLiteral("data"), payload}};
}

QJsonObject endPayload(const QString& reason) {
  return {{kType, QStringLiteral("end")}, {QStringLiteral("reason"), reason}};
}

QJsonObject descriptionPayload(const rtc::SessionDescription& description) {
  const QString type =
      description.type == rtc::SdpType::Offer ? QStringLiteral("offer") : QStringLiteral("answer");
  return {{kType, type},
          {QStringLiteral("sdp"),
           QJsonObject{{kType, type}, {QStringLiteral("sdp"), QString::fromStdString(description.sdp)}}}};
}

QJsonObject icePayload(const rtc::IceCandidate& candidate) {
  return {{kType, QStringLiteral("ice")},
          {QStringLiteral("candidate"),
           QJsonObject{{QStringLiteral("candidate"), QString::fromStdString(candidate.sdp)},
                       {QStringLiteral("sdpMid"), QString::fromStdString(candidate.sdpMid.value_or("0"))},
                       {QStringLiteral("sdpMLineIndex"), candidate.sdpMLineIndex}}}};
}

QJsonObject qualityPayload(QualityProfile profile) {
  return {{kType, QStringLiteral("quality")}, {QStringLiteral("value"), rawValue(profile)}};
}

QJsonObject switchDisplayPayload(int index) {
  return {{kType, QStringLiteral("switchDisplay")}, {QStringLiteral("displayIndex"), index}};
}

QJsonObject hardRefreshPayload() { return {{kType, QStringLiteral("hard-refresh-request")}}; }

QJsonObject hostChoosingPayload(int timeoutMs) {
  return {{kType, QStringLiteral("host-choosing")}, {QStringLiteral("timeoutMs"), timeoutMs}};
}

QJsonObject displaysPayload(const std::vector<DisplayEntry>& displays) {
  QJsonArray entries;
  for (const auto& display : displays) {
    entries.append(QJsonObject{{QStringLiteral("index"), display.index},
                               {QStringLiteral("name"), display.name},
                               {QStringLiteral("resolution"), display.resolution},
                               {QStringLiteral("id"), static_cast<double>(display.id)}});
  }
  return {{kType, QStringLiteral("displays")}, {QStringLiteral("displays"), entries}};
}

QJsonObject videoGeometryPayload(int width, int height, int activeDisplay, uint32_t displayId) {
  return {{kType, QStringLiteral("videoGeometry")},
          {QStringLiteral("width"), width},
          {QStringLiteral("height"), height},
          {QStringLiteral("activeDisplay"), activeDisplay},
          {QStringLiteral("displayID"), static_cast<double>(displayId)}};
}

QString typeOf(const QJsonObject& object) { return json::optionalString(object, "type"); }

QString displayNameOf(const QJsonObject& message) {
  const QString name = json::optionalString(message, "displayName");
  if (name.isNull()) return name;
  const QString clean = peerText(name, kMaxPeerNameChars);
  return clean.isEmpty() ? QString() : clean;
}

JoinRequest joinRequest(const QJsonObject& message) {
  return {json::stringOr(message, "clientId", QStringLiteral("???")), displayNameOf(message),
          json::optionalString(message, "avatar"), json::boolOr(message, "unattended", false),
          json::boolOr(message, "awaitingPassword", false)};
}

PeerJoined peerJoined(const QJsonObject& message) {
  return {json::stringOr(message, "clientId", QStringLiteral("?")), displayNameOf(message),
          json::optionalString(message, "avatar"), json::boolOr(message, "unattended", false)};
}

std::optional<QString> descriptionOf(const QJsonObject& payload) {
  const QJsonValue outer = payload.value(QLatin1String("sdp"));
  if (!outer.isObject()) return std::nullopt;
  const QJsonValue inner = outer.toObject().value(QLatin1String("sdp"));
  if (!inner.isString()) return std::nullopt;
  return inner.toString();
}

std::optional<rtc::IceCandidate> candidateOf(const QJsonObject& payload) {
  const QJsonValue value = payload.value(QLatin1String("candidate"));
  if (!value.isObject()) return std::nullopt;
  const QJsonObject candidate = value.toObject();
  const QJsonValue line = candidate.value(QLatin1String("candidate"));
  const QJsonValue mid = candidate.value(QLatin1String("sdpMid"));
  const auto index = json::integerIn(candidate.value(QLatin1String("sdpMLineIndex")), INT32_MIN, INT32_MAX);
  if (!line.isString() || !mid.isString() || !index) return std::nullopt;
  return rtc::IceCandidate{line.toString().toStdString(), mid.toString().toStdString(),
                           static_cast<int>(*index)};
}

std::optional<QualityProfile> qualityOf(const QJsonObject& payload) {
  const QJsonValue value = payload.value(QLatin1String("value"));
  return value.isString() ? qualityFromRaw(value.toString()) : std::nullopt;
}

std::optional<int> switchIndexOf(const QJsonObject& payload) {
  const auto index = json::integerIn(payload.value(QLatin1String("displayIndex")), INT32_MIN, INT32_MAX);
  if (!index) return std::nullopt;
  return static_cast<int>(*index);
}

std::vector<DisplayEntry> displaysOf(const QJsonObject& payload) {
  std::vector<DisplayEntry> entries;
  for (const QJsonValue& value : payload.value(QLatin1String("displays")).toArray()) {
    const QJsonObject entry = value.toObject();
    const auto index = json::integerIn(entry.value(QLatin1String("index")), 0, 1'000'000);
    const QJsonValue name = entry.value(QLatin1String("name"));
    const QJsonValue resolution = entry.value(QLatin1String("resolution"));
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
  auto dimension = [&](const char* key) {
    return static_cast<int>(json::integerIn(payload.value(QLatin1String(key)), 0, 1'000'000).value_or(0));
  };
  geometry.width = dimension("width");
  geometry.height = dimension("height");
  if (const auto active = json::integerIn(payload.value(QLatin1String("activeDisplay")), 0, 1'000'000)) {
    geometry.activeDisplay = static_cast<int>(*active);
  }
  if (const auto id = json::integerIn(payload.value(QLatin1String("displayID")), 0, UINT32_MAX)) {
    geometry.displayId = static_cast<uint32_t>(*id);
  }
  return geometry;
}

std::vector<rtc::IceServer> iceServersOf(const QJsonObject& message) {
  constexpr int kMaxServers = 4;
  constexpr int kMaxText = 512;
  std::vector<rtc::IceServer> servers;
  auto text = [&](const QJsonValue& v, std::string& out) {
    if (!v.isString() || v.toString().size() > kMaxText) return false;
    out = v.toString().toStdString();
    return true;
  };
  for (const QJsonValue& entry : message.value(QLatin1String("iceServers")).toArray()) {
    if (int(servers.size()) >= kMaxServers) break;
    const QJsonObject object = entry.toObject();
    rtc::IceServer server;
    const QJsonValue urls = object.value(QLatin1String("urls"));
    for (const QJsonValue& url : urls.isArray() ? urls.toArray() : QJsonArray{urls}) {
      std::string one;
      if (text(url, one) && (one.rfind("turn:", 0) == 0 || one.rfind("turns:", 0) == 0 || one.rfind("stun:", 0) == 0)) {
        if (server.urls.size() < kMaxServers) server.urls.push_back(one);
      }
    }
    if (server.urls.empty() || !text(object.value(QLatin1String("username")), server.username) ||
        !text(object.value(QLatin1String("credential")), server.credential)) {
      continue;
    }
    servers.push_back(std::move(server));
  }
  return servers;
}

QString deviceKeyOf(const QJsonObject& message) {
  const QString key = json::optionalString(message, "deviceKey");
  return isHex64(key) ? key : QString();
}

QString endReasonOf(const QJsonObject& payload) {
  const QString reason = peerText(json::optionalString(payload, "reason"), kMaxPeerReasonChars);
  return reason.isEmpty() ? QStringLiteral("Session terminée") : reason;
}

}  // namespace signaling
}  // namespace lunor
