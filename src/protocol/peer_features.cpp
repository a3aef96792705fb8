// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/peer_features.h"

#include <algorithm>
#include <cmath>

#include <QJsonArray>
#include <QJsonDocument>

namespace lunor {
namespace {

constexpr char kType[] = "features";
constexpr char kClipboard[] = "clipboard";
constexpr char kFiles[] = "files";
constexpr char kSession[] = "session";
constexpr char kSeparate[] = "separate";
constexpr char kScreenSizeType[] = "screenSize";

int64_t limit(const QJsonObject& object, const char* key, int64_t ours) {
  const QJsonValue value = object.value(QLatin1String(key));
  if (!value.isDouble()) return ours;
  const double v = value.toDouble();
  if (!(v >= 1) || v != std::floor(v) || v > double(ours)) return ours;
  return int64_t(v);
}

int side(const QJsonObject& object, const char* key) {
  const double v = object.value(QLatin1String(key)).toDouble(0);
  return v >= 1 && v <= kScreenSizeMax && v == std::floor(v) ? int(v) : 0;
}

}  // namespace

PeerFeatures ourFeatures() {
  PeerFeatures features;
  features.clipboard = true;
  features.files = true;
  return features;
}

QByteArray encodePeerFeatures(const PeerFeatures& features) {
  QJsonArray names;
  if (features.clipboard) names.append(QLatin1String(kClipboard));
  if (features.files) names.append(QLatin1String(kFiles));
  QJsonObject object{{QStringLiteral("t"), QLatin1String(kType)},
                     {QStringLiteral("v"), 1},
                     {QStringLiteral("features"), names}};
  if (features.clipboard) {
    object[QStringLiteral("clipboardText")] = double(features.clipboardTextMax);
    object[QStringLiteral("clipboardImage")] = double(features.clipboardImageMax);
  }
  if (features.separateSession) object[QLatin1String(kSession)] = QLatin1String(kSeparate);
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<PeerFeatures> decodePeerFeatures(const QJsonObject& object) {
  if (object.value(QLatin1String("t")).toString() != QLatin1String(kType)) return std::nullopt;
  PeerFeatures features;
  for (const QJsonValue& name : object.value(QLatin1String("features")).toArray()) {
    if (name.toString() == QLatin1String(kClipboard)) features.clipboard = true;
    if (name.toString() == QLatin1String(kFiles)) features.files = true;
  }
  features.clipboardTextMax = limit(object, "clipboardText", PeerFeatures::kClipboardTextMax);
  features.clipboardImageMax = limit(object, "clipboardImage", PeerFeatures::kClipboardImageMax);
  features.separateSession = object.value(QLatin1String(kSession)).toString() == QLatin1String(kSeparate);
  return features;
}

PeerFeatures commonFeatures(const PeerFeatures& ours, const PeerFeatures& theirs) {
  PeerFeatures common;
  common.clipboard = ours.clipboard && theirs.clipboard;
  common.files = ours.files && theirs.files;
  common.separateSession = ours.separateSession || theirs.separateSession;
  common.clipboardTextMax = std::min(ours.clipboardTextMax, theirs.clipboardTextMax);
  common.clipboardImageMax = std::min(ours.clipboardImageMax, theirs.clipboardImageMax);
  return common;
}

QByteArray encodeScreenSizeRequest(QSize size) {
  const QJsonObject object{{QStringLiteral("t"), QLatin1String(kScreenSizeType)},
                           {QStringLiteral("w"), size.width()},
                           {QStringLiteral("h"), size.height()}};
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<QSize> decodeScreenSizeRequest(const QJsonObject& object) {
  if (object.value(QLatin1String("t")).toString() != QLatin1String(kScreenSizeType)) return std::nullopt;
  const QSize size(side(object, "w"), side(object, "h"));
  if (size.width() == 0 || size.height() == 0) return std::nullopt;
  return size;
}

}  // namespace lunor
