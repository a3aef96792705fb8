// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/wayland/portal_streams.h"

#include <optional>
#include <utility>

#include <QDBusArgument>
#include <QVariantMap>

namespace lunor {
namespace {

// An (ii); nothing when the value is not one.
std::optional<std::pair<int, int>> intPair(const QVariant& value) {
  if (!value.canConvert<QDBusArgument>()) return std::nullopt;
  const QDBusArgument argument = qvariant_cast<QDBusArgument>(value);
  if (argument.currentSignature() != QLatin1String("(ii)")) return std::nullopt;
  int a = 0, b = 0;
  argument.beginStructure();
  argument >> a >> b;
  argument.endStructure();
  return std::pair{a, b};
}

}  // namespace

std::vector<PortalStream> parsePortalStreams(const QVariant& streams) {
  if (!streams.canConvert<QDBusArgument>()) return {};
  const QDBusArgument argument = qvariant_cast<QDBusArgument>(streams);
  if (argument.currentSignature() != QLatin1String("a(ua{sv})")) return {};
  std::vector<PortalStream> result;
  argument.beginArray();
  while (!argument.atEnd()) {
    uint node = 0;
    QVariantMap properties;
    argument.beginStructure();
    argument >> node >> properties;
    argument.endStructure();
    PortalStream stream;
    stream.node = node;
    const QString id = properties.value(QStringLiteral("id")).toString();
    stream.key = id.isEmpty() ? QStringLiteral("#%1").arg(result.size()) : id;
    if (const auto position = intPair(properties.value(QStringLiteral("position")))) {
      stream.position = QPoint(position->first, position->second);
    }
    if (const auto size = intPair(properties.value(QStringLiteral("size")))) {
      stream.size = QSize(size->first, size->second);
    }
    result.push_back(stream);
  }
  argument.endArray();
  return result;
}

}  // namespace lunor
