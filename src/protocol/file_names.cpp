// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/file_names.h"

#include <QDir>
#include <QFileInfo>

#include "protocol/wire_text.h"

namespace lunor {
namespace {

constexpr int kMaxNameBytes = 255;
constexpr int kMaxExtensionChars = 16;
const QString kFallback = QStringLiteral("fichier");

// The longest prefix of `text` whose UTF-8 fits `bytes`, without cutting a
// surrogate pair.
QString fitBytes(const QString& text, int bytes) {
  QString fitted;
  int used = 0;
  for (int i = 0; i < text.size(); ++i) {
    const int width = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    const int cost = text.mid(i, width).toUtf8().size();
    if (used + cost > bytes) break;
    fitted += text.mid(i, width);
    used += cost;
    i += width - 1;
  }
  return fitted;
}

}  // namespace

QString sanitizeFileName(const QString& name) {
  QString base = name.mid(std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\'))) + 1);
  QString clean;
  clean.reserve(base.size());
  for (const QChar c : base) {
    const char16_t u = c.unicode();
    if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || isBidiControl(u)) continue;  // controls, direction
    clean += c;
  }
  while (!clean.isEmpty() && (clean.front() == QLatin1Char('.') || clean.front().isSpace())) clean.remove(0, 1);
  while (!clean.isEmpty() && clean.back().isSpace()) clean.chop(1);
  if (clean.isEmpty()) return kFallback;
  if (clean.toUtf8().size() <= kMaxNameBytes) return clean;
  const int dot = clean.lastIndexOf(QLatin1Char('.'));
  const QString extension = dot > 0 && clean.size() - dot <= kMaxExtensionChars ? clean.mid(dot) : QString();
  const QString stem = fitBytes(clean.left(clean.size() - extension.size()), kMaxNameBytes - int(extension.toUtf8().size()));
  return stem.isEmpty() ? kFallback : stem + extension;
}

QString unusedFileName(const QString& folder, const QString& name) {
  const QDir dir(folder);
  auto taken = [&](const QString& candidate) {
    return QFileInfo::exists(dir.filePath(candidate)) || QFileInfo::exists(dir.filePath(candidate + QStringLiteral(".part")));
  };
  if (!taken(name)) return name;
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  const QString extension = dot > 0 ? name.mid(dot) : QString();
  const QString stem = name.left(name.size() - extension.size());
  for (int n = 2;; ++n) {
    const QString suffix = QStringLiteral(" (%1)").arg(n);
    // Still within the limit once numbered.
    const QString candidate =
        sanitizeFileName(fitBytes(stem, kMaxNameBytes - int((suffix + extension).toUtf8().size())) + suffix + extension);
    if (!taken(candidate)) return candidate;
  }
}

}  // namespace lunor
