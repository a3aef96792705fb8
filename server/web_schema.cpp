// SPDX-License-Identifier: GPL-3.0-or-later
#include "web_schema.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "protocol/quality_profile.h"
#include "protocol/signaling_wire.h"

namespace lunor::signal {
namespace {

// "join-request" → joinRequest: the name a script gives the wire's name.
QString identifier(QLatin1String wireName) {
  QString out;
  bool upper = false;
  for (const QChar c : QString(wireName)) {
    if (c == QLatin1Char('-')) {
      upper = true;
      continue;
    }
    out += upper ? c.toUpper() : c;
    upper = false;
  }
  return out;
}

template <typename Enum>
QJsonObject names(std::span<const signaling::Named<Enum>> table) {
  QJsonObject object;
  for (const auto& entry : table) object.insert(identifier(entry.name), QString(entry.name));
  return object;
}

QByteArray exported(const char* name, const QJsonDocument& value) {
  return QByteArray("export const ") + name + " = Object.freeze(" + value.toJson(QJsonDocument::Indented).trimmed() +
         ");\n";
}

}  // namespace

QByteArray webSchemaModule() {
  using namespace signaling;
  const QJsonObject limits{
      {QStringLiteral("maxRoomIdChars"), kMaxRoomIdChars},
      {QStringLiteral("maxPeerNameChars"), kMaxPeerNameChars},
      {QStringLiteral("maxPeerReasonChars"), kMaxPeerReasonChars},
      {QStringLiteral("maxGeometryValue"), kMaxGeometryValue},
      {QStringLiteral("maxDisplays"), static_cast<int>(kMaxDisplays)},
      {QStringLiteral("maxIceServers"), kMaxIceServers},
      {QStringLiteral("maxIceServerText"), kMaxIceServerText},
      {QStringLiteral("maxHostChoosingMs"), kMaxHostChoosingMs},
      {QStringLiteral("maxRetryAfterMs"), static_cast<double>(kMaxRetryAfterMs)},
  };
  QJsonArray qualities;
  for (const auto profile : {QualityProfile::Low, QualityProfile::Medium, QualityProfile::High, QualityProfile::Epic}) {
    const QualitySettings& settings = settingsOf(profile);
    qualities.append(QJsonObject{{QStringLiteral("raw"), rawValue(profile)},
                                 {QStringLiteral("label"), QString::fromUtf8(settings.label)},
                                 {QStringLiteral("width"), settings.width},
                                 {QStringLiteral("height"), settings.height}});
  }
  QByteArray out =
      "// SPDX-License-Identifier: GPL-3.0-or-later\n"
      "// Made by the build from the application's wire (src/protocol/signaling_wire.h,\n"
      "// quality_profile.cpp): edit those. The signaling messages' and their payloads'\n"
      "// types, the bounds a peer's values are held to, the quality levels.\n\n";
  out += exported("messageTypes", QJsonDocument(names(messageTypes())));
  out += exported("payloadTypes", QJsonDocument(names(payloadTypes())));
  out += exported("limits", QJsonDocument(limits));
  out += exported("qualities", QJsonDocument(qualities));
  out += "export const defaultQuality = \"" + rawValue(kDefaultQuality).toLatin1() + "\";\n";
  return out;
}

}  // namespace lunor::signal
