// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/clipboard_wire.h"

#include <cmath>

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include "protocol/wire_text.h"

namespace lunor {
namespace {

constexpr char kHeaderType[] = "clip";

// A part's size in a header: a whole number of bytes, 0 when absent.
std::optional<int64_t> partSize(const QJsonObject& header, const char* key) {
  const QJsonValue value = header.value(QLatin1String(key));
  if (value.isUndefined()) return 0;
  if (!value.isDouble()) return std::nullopt;
  const double v = value.toDouble();
  if (!(v >= 0) || v != std::floor(v) || v > 1e15) return std::nullopt;
  return int64_t(v);
}


}  // namespace

QByteArray ClipboardContent::digest() const {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  for (const QByteArray& part : {text.toUtf8(), html.toUtf8(), png}) {
    const quint64 size = qToBigEndian<quint64>(quint64(part.size()));
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(&size), sizeof size));
    hash.addData(part);
  }
  return hash.result();
}

std::optional<QSize> pngSize(const QByteArray& png) {
  static const QByteArray kSignature("\x89PNG\r\n\x1a\n", 8);
  // Signature, then the IHDR chunk: length (13), type, width, height.
  if (png.size() < 24 || !png.startsWith(kSignature) || png.mid(12, 4) != "IHDR") return std::nullopt;
  const auto* bytes = reinterpret_cast<const uchar*>(png.constData());
  const quint32 width = qFromBigEndian<quint32>(bytes + 16);
  const quint32 height = qFromBigEndian<quint32>(bytes + 20);
  if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff) return std::nullopt;
  return QSize(int(width), int(height));
}

std::optional<QString> imageRefusal(QSize size, int64_t encodedBytes, const PeerFeatures& limits) {
  const double decoded = double(size.width()) * size.height() * 4;
  if (decoded <= double(limits.clipboardImageMax) && encodedBytes <= limits.clipboardImageMax) return std::nullopt;
  return QStringLiteral("image trop grande (%1×%2, limite %3)")
      .arg(size.width())
      .arg(size.height())
      .arg(mebibytes(limits.clipboardImageMax));
}

std::optional<QString> clipboardRefusal(const ClipboardContent& content, const PeerFeatures& limits) {
  const int64_t text = content.text.toUtf8().size();
  const int64_t html = content.html.toUtf8().size();
  if (text > limits.clipboardTextMax || html > limits.clipboardTextMax) {
    return QStringLiteral("texte trop long (%1, limite %2)")
        .arg(mebibytes(std::max(text, html)), mebibytes(limits.clipboardTextMax));
  }
  if (!content.png.isEmpty()) {
    const auto size = pngSize(content.png);
    if (!size) return QStringLiteral("image illisible");
    return imageRefusal(*size, content.png.size(), limits);
  }
  return std::nullopt;
}

std::vector<WireMessage> encodeClipboard(const ClipboardContent& content, uint32_t id) {
  const QByteArray text = content.text.toUtf8();
  const QByteArray html = content.html.toUtf8();
  const QJsonObject header{{QStringLiteral("t"), QLatin1String(kHeaderType)},
                           {QStringLiteral("id"), double(id)},
                           {QStringLiteral("text"), double(text.size())},
                           {QStringLiteral("html"), double(html.size())},
                           {QStringLiteral("png"), double(content.png.size())}};
  std::vector<WireMessage> messages{{QJsonDocument(header).toJson(QJsonDocument::Compact), false}};
  const QByteArray all = text + html + content.png;
  for (qsizetype at = 0; at < all.size(); at += kClipboardChunkBytes) {
    messages.push_back({all.mid(at, kClipboardChunkBytes), true});
  }
  return messages;
}

ClipboardAssembler::Result ClipboardAssembler::take(const QByteArray& data, bool binary) {
  if (binary) {
    if (expected_ == 0) return {};  // bytes of no announced content
    if (data.size() > expected_) {
      expected_ = 0;
      received_.clear();
      const bool wasRefused = std::exchange(refused_, false);
      if (wasRefused) return {};
      return {Outcome::Refused, {}, QStringLiteral("plus d’octets qu’annoncé")};
    }
    expected_ -= data.size();
    if (!refused_) received_.append(data);
    if (expected_ > 0) return {};
    if (std::exchange(refused_, false)) return {};
    return finish();
  }

  const QJsonDocument document = QJsonDocument::fromJson(data);
  if (!document.isObject() || document.object().value(QLatin1String("t")).toString() != QLatin1String(kHeaderType)) {
    return {};  // not ours to read
  }
  // A new content: whatever was unfinished is gone.
  received_.clear();
  expected_ = 0;
  refused_ = false;
  const QJsonObject header = document.object();
  const auto text = partSize(header, "text"), html = partSize(header, "html"), png = partSize(header, "png");
  if (!text || !html || !png) return {Outcome::Refused, {}, QStringLiteral("en-tête illisible")};
  textBytes_ = *text, htmlBytes_ = *html, pngBytes_ = *png;
  expected_ = textBytes_ + htmlBytes_ + pngBytes_;
  QString reason;
  if (textBytes_ > limits_.clipboardTextMax || htmlBytes_ > limits_.clipboardTextMax) {
    reason = QStringLiteral("texte trop long (%1, limite %2)")
                 .arg(mebibytes(std::max(textBytes_, htmlBytes_)), mebibytes(limits_.clipboardTextMax));
  } else if (pngBytes_ > limits_.clipboardImageMax) {
    reason = QStringLiteral("image trop grande (%1, limite %2)")
                 .arg(mebibytes(pngBytes_), mebibytes(limits_.clipboardImageMax));
  }
  if (!reason.isEmpty()) {
    refused_ = expected_ > 0;
    return {Outcome::Refused, {}, reason};
  }
  if (expected_ == 0) return {};  // an empty content: nothing to apply
  received_.reserve(expected_);
  return {};
}

ClipboardAssembler::Result ClipboardAssembler::finish() {
  Result result;
  ClipboardContent& content = result.content;
  content.text = QString::fromUtf8(received_.constData(), textBytes_);
  content.html = QString::fromUtf8(received_.constData() + textBytes_, htmlBytes_);
  content.png = received_.mid(textBytes_ + htmlBytes_);
  received_.clear();
  if (const auto refusal = clipboardRefusal(content, limits_)) return {Outcome::Refused, {}, *refusal};
  result.outcome = Outcome::Complete;
  return result;
}

}  // namespace lunor
