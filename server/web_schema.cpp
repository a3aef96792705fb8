// SPDX-License-Identifier: GPL-3.0-or-later
#include "web_schema.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "protocol/control_message.h"
#include "protocol/key_codes.h"
#include "protocol/quality_profile.h"
#include "protocol/signaling_wire.h"

namespace lunor::signal {
namespace {

// "join-request" → joinRequest: the name a script gives the wire's name.
QString identifier(const QString& wireName) {
  QString out;
  bool upper = false;
  for (const QChar c : wireName) {
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

QJsonObject names(const std::vector<QString>& wireNames) {
  QJsonObject object;
  for (const QString& name : wireNames) object.insert(identifier(name), name);
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
  QJsonObject modifierFlags;
  for (const auto modifier : {Modifier::Cmd, Modifier::Shift, Modifier::Alt, Modifier::Ctrl}) {
    modifierFlags.insert(modifierName(modifier), static_cast<double>(modifierKey(modifier).flag));
  }
  QByteArray out =
      "// SPDX-License-Identifier: GPL-3.0-or-later\n"
      "// Made by the build from the application's wire (src/protocol: signaling_wire.h,\n"
      "// control_message.cpp, key_codes.h, quality_profile.cpp): edit those. The\n"
      "// signaling messages' and their payloads' types, the control messages' types\n"
      "// and modifier flags, the bounds a peer's values are held to, the quality levels.\n\n";
  out += exported("messageTypes", QJsonDocument(names(messageTypes())));
  out += exported("payloadTypes", QJsonDocument(names(payloadTypes())));
  out += exported("controlTypes", QJsonDocument(names(controlMessageTypeNames())));
  out += exported("modifierFlags", QJsonDocument(modifierFlags));
  out += exported("limits", QJsonDocument(limits));
  out += exported("qualities", QJsonDocument(qualities));
  out += "export const defaultQuality = \"" + rawValue(kDefaultQuality).toLatin1() + "\";\n";
  return out;
}

}  // namespace lunor::signal
