// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/file_wire.h"

#include <cmath>

#include <QJsonDocument>
#include <QJsonObject>

namespace lunor {
namespace {

using Type = FileMessage::Type;

struct TypeName {
  Type type;
  const char* name;
};
constexpr TypeName kTypes[] = {{Type::Offer, "offer"}, {Type::Accept, "accept"}, {Type::Decline, "decline"},
                               {Type::Ack, "ack"},     {Type::Done, "done"},     {Type::Failed, "failed"},
                               {Type::Cancel, "cancel"}};

std::optional<int64_t> count(const QJsonObject& object, const char* key) {
  const QJsonValue value = object.value(QLatin1String(key));
  if (!value.isDouble()) return std::nullopt;
  const double v = value.toDouble();
  if (!(v >= 0) || v != std::floor(v) || v > 9.0e15) return std::nullopt;
  return int64_t(v);
}

constexpr int kMaxReasonChars = 200;

}  // namespace

QByteArray encodeFileMessage(const FileMessage& m) {
  QJsonObject object;
  for (const auto& entry : kTypes) {
    if (entry.type == m.type) object[QStringLiteral("t")] = QLatin1String(entry.name);
  }
  switch (m.type) {
    case Type::Offer:
      object[QStringLiteral("id")] = m.id;
      object[QStringLiteral("name")] = m.name;
      object[QStringLiteral("size")] = double(m.size);
      object[QStringLiteral("sha256")] = QString::fromLatin1(m.sha256.toHex());
      if (!m.resumeKey.isEmpty()) object[QStringLiteral("resume")] = QString::fromLatin1(m.resumeKey.toHex());
      break;
    case Type::Accept:
    case Type::Ack:
      object[QStringLiteral("offset")] = double(m.offset);
      break;
    case Type::Decline:
    case Type::Failed:
      object[QStringLiteral("reason")] = m.reason;
      break;
    case Type::Done:
    case Type::Cancel:
      break;
  }
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<FileMessage> decodeFileMessage(const QByteArray& text) {
  const QJsonDocument document = QJsonDocument::fromJson(text);
  if (!document.isObject()) return std::nullopt;
  const QJsonObject object = document.object();
  const QString t = object.value(QLatin1String("t")).toString();
  FileMessage m;
  bool known = false;
  for (const auto& entry : kTypes) {
    if (t == QLatin1String(entry.name)) {
      m.type = entry.type;
      known = true;
    }
  }
  if (!known) return std::nullopt;
  switch (m.type) {
    case Type::Offer: {
      m.id = object.value(QLatin1String("id")).toString();
      m.name = object.value(QLatin1String("name")).toString();
      const auto size = count(object, "size");
      const QString hex = object.value(QLatin1String("sha256")).toString();
      m.sha256 = QByteArray::fromHex(hex.toLatin1());
      if (m.id.isEmpty() || m.id.size() > 64 || !size || hex.size() != 64 || m.sha256.size() != 32) return std::nullopt;
      m.size = *size;
      // Optional; a malformed one is as none: the part is the transfer's own.
      const QString resume = object.value(QLatin1String("resume")).toString();
      if (resume.size() == 64) m.resumeKey = QByteArray::fromHex(resume.toLatin1());
      if (m.resumeKey.size() != 32) m.resumeKey.clear();
      break;
    }
    case Type::Accept:
    case Type::Ack: {
      const auto offset = count(object, "offset");
      if (!offset) return std::nullopt;
      m.offset = *offset;
      break;
    }
    case Type::Decline:
    case Type::Failed:
      m.reason = object.value(QLatin1String("reason")).toString().left(kMaxReasonChars);
      break;
    case Type::Done:
    case Type::Cancel:
      break;
  }
  return m;
}

}  // namespace lunor
