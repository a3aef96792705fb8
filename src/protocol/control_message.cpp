// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/control_message.h"

#include <cmath>
#include <limits>

#include <QJsonDocument>

#include "protocol/signaling_messages.h"

namespace lunor {
namespace {

using Type = ControlMessage::Type;

struct TypeName {
  Type type;
  const char* name;
};
constexpr TypeName kTypes[] = {
    {Type::Move, "move"},       {Type::MouseDown, "mdown"},     {Type::MouseUp, "mup"},
    {Type::Drag, "drag"},       {Type::DoubleClick, "doubleclick"}, {Type::Scroll, "scroll"},
    {Type::KeyDown, "keydown"}, {Type::KeyUp, "keyup"},         {Type::Modifier, "mod"},
};

double numberOr0(const QJsonObject& object, const char* key) {
  const QJsonValue value = object.value(QLatin1String(key));
  return value.isDouble() && !std::isnan(value.toDouble()) ? value.toDouble() : 0.0;
}

// A delta must fit a signed 32-bit count of pixels after negation.
double boundedDelta(double delta) {
  constexpr double kLimit = std::numeric_limits<int32_t>::max();
  return std::clamp(delta, -kLimit, kLimit);
}

bool pointerType(Type type) {
  return type == Type::MouseDown || type == Type::MouseUp || type == Type::Drag ||
         type == Type::DoubleClick;
}

}  // namespace

std::optional<ControlMessage> decodeControlMessage(const QByteArray& bytes) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  return decodeControlMessage(document.object());
}

std::optional<ControlMessage> decodeControlMessage(const QJsonObject& object) {
  const QJsonValue t = object.value(QLatin1String("t"));
  if (!t.isString()) return std::nullopt;
  const QString name = t.toString();
  const auto known = std::find_if(std::begin(kTypes), std::end(kTypes),
                                  [&](const TypeName& entry) { return name == QLatin1String(entry.name); });
  if (known == std::end(kTypes)) return std::nullopt;

  // Only the fields the type uses are read: the rest of a message means nothing.
  ControlMessage message;
  message.type = known->type;
  if (message.type != Type::Modifier) {
    message.displayIndex = static_cast<int>(
        json::integerIn(object.value(QLatin1String("displayIndex")), -1'000'000, 1'000'000).value_or(0));
  }
  if (message.type != Type::KeyDown && message.type != Type::KeyUp && message.type != Type::Modifier) {
    message.x = numberOr0(object, "x");
    message.y = numberOr0(object, "y");
  }

  switch (message.type) {
    case Type::Move:
      break;
    case Type::MouseDown:
    case Type::MouseUp:
    case Type::Drag:
    case Type::DoubleClick:
      message.button = static_cast<int>(json::integerIn(object.value(QLatin1String("b")), 0, 2).value_or(0));
      break;
    case Type::Scroll:
      message.dx = boundedDelta(numberOr0(object, "dx"));
      message.dy = boundedDelta(numberOr0(object, "dy"));
      break;
    case Type::KeyDown:
    case Type::KeyUp: {
      message.down = message.type == Type::KeyDown;
      const QJsonValue code = object.value(QLatin1String("keyCode"));
      if (const auto integer = json::integerIn(code, INT64_MIN / 2, INT64_MAX / 2)) {
        // An integer that is no key code is dropped, not wrapped.
        if (*integer < 0 || *integer > 65535) return std::nullopt;
        message.keyCode = static_cast<uint16_t>(*integer);
        break;
      }
      const QJsonValue key = object.value(QLatin1String("key"));
      const QString text = key.isString() ? key.toString() : QString();
      // One UTF-16 unit at most: characters beyond U+FFFF have no key to type.
      if (text.isEmpty() || text.at(0).isSurrogate()) return std::nullopt;
      message.character = text.at(0).unicode();
      break;
    }
    case Type::Modifier: {
      const QJsonValue k = object.value(QLatin1String("k"));
      const QJsonValue d = object.value(QLatin1String("d"));
      const auto modifier = k.isString() ? modifierFromName(k.toString()) : std::nullopt;
      if (!modifier || !d.isBool()) return std::nullopt;
      message.modifier = *modifier;
      message.down = d.toBool();
      break;
    }
  }
  return message;
}

std::vector<QString> controlMessageTypeNames() {
  std::vector<QString> names;
  for (const TypeName& entry : kTypes) names.push_back(QLatin1String(entry.name));
  names.push_back(QJsonDocument::fromJson(kPictureShownMessage).object().value(QLatin1String("t")).toString());
  return names;
}

QByteArray encodeControlMessage(const ControlMessage& message) {
  const auto entry = std::find_if(std::begin(kTypes), std::end(kTypes),
                                  [&](const TypeName& e) { return e.type == message.type; });
  QJsonObject object{{QStringLiteral("t"), QLatin1String(entry->name)}};
  if (message.type == Type::Modifier) {
    object.insert(QStringLiteral("k"), modifierName(message.modifier));
    object.insert(QStringLiteral("d"), message.down);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
  }
  if (message.type == Type::KeyDown || message.type == Type::KeyUp) {
    if (message.keyCode) {
      object.insert(QStringLiteral("keyCode"), *message.keyCode);
    } else {
      object.insert(QStringLiteral("key"), QString(QChar(message.character)));
    }
  } else {
    if (pointerType(message.type)) object.insert(QStringLiteral("b"), message.button);
    object.insert(QStringLiteral("x"), message.x);
    object.insert(QStringLiteral("y"), message.y);
    if (message.type == Type::Scroll) {
      object.insert(QStringLiteral("dx"), message.dx);
      object.insert(QStringLiteral("dy"), message.dy);
    }
  }
  object.insert(QStringLiteral("displayIndex"), message.displayIndex);
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

}  // namespace lunor
