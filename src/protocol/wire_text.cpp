// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/wire_text.h"

#include <algorithm>

#include <QStringDecoder>

namespace lunor {

std::optional<QString> utf8Text(const QByteArray& bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = decoder(bytes);
  if (decoder.hasError()) return std::nullopt;
  return text;
}

bool isHex64(QStringView text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](QChar c) {
           return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
         });
}

std::optional<QByteArray> base64Bytes(const QString& text, int size) {
  if (text.size() > (size + 2) / 3 * 4) return std::nullopt;
  const auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded || decoded.decoded.size() != size || QString::fromLatin1(decoded.decoded.toBase64()) != text) {
    return std::nullopt;
  }
  return decoded.decoded;
}

QString mebibytes(int64_t bytes) { return QString::number(double(bytes) / (1 << 20), 'f', 1) + QStringLiteral(" Mio"); }

}  // namespace lunor
