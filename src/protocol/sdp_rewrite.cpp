// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/sdp_rewrite.h"

#include <QRegularExpression>
#include <QStringList>

namespace lunor {
namespace {

QString preferH264(const QString& sdp) {
  static const QRegularExpression videoLine(QStringLiteral("m=video \\d+ RTP\\/SAVPF ([0-9 ]+)"));
  const QRegularExpressionMatch match = videoLine.match(sdp);
  if (!match.hasMatch()) return sdp;

  QStringList h264;
  QStringList other;
  const QString prefix = QStringLiteral("a=rtpmap:");
  for (const QString& line : sdp.split(QLatin1Char('\n'))) {
    if (!line.startsWith(prefix)) continue;
    QString rest = line;
    rest.remove(prefix);
    const QStringList pieces = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (pieces.size() < 2) continue;
    (pieces[1].toUpper().contains(QLatin1String("H264")) ? h264 : other) << pieces[0];
  }
  if (h264.isEmpty()) return sdp;

  QString result = sdp;
  result.replace(match.capturedStart(1), match.capturedLength(1), (h264 + other).join(QLatin1Char(' ')));
  return result;
}

QString addBandwidth(const QString& sdp, const QualitySettings& quality, bool* added) {
  QStringList lines = sdp.split(QLatin1Char('\n'));
  for (qsizetype i = 0; i < lines.size(); ++i) {
    if (!lines[i].startsWith(QLatin1String("m=video"))) continue;
    lines.insert(i + 1, QStringLiteral("b=TIAS:%1").arg(quality.maxBitrateBps));
    lines.insert(i + 1, QStringLiteral("b=AS:%1").arg(quality.sdpBandwidthKbps));
    if (added) *added = true;
    break;
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

QString rewriteOfferSdp(const QString& sdp, const QualitySettings& quality, bool* bandwidthAdded) {
  if (bandwidthAdded) *bandwidthAdded = false;
  return addBandwidth(preferH264(sdp), quality, bandwidthAdded);
}

}  // namespace lunor
