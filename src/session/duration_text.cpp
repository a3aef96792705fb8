// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/duration_text.h"

#include <algorithm>

namespace lunor {

QString endDurationText(qint64 seconds) {
  const qint64 t = seconds < 0 ? 0 : seconds;
  if (t < 60) return QString::number(t) + QLatin1Char('s');
  if (t < 3600) return QString::asprintf("%lldm %02llds", t / 60, t % 60);
  return QString::asprintf("%lldh %02lldm %02llds", t / 3600, (t % 3600) / 60, t % 60);
}

QString waitText(qint64 milliseconds) {
  const qint64 seconds = (std::max<qint64>(milliseconds, 0) + 999) / 1000;
  if (seconds < 60) return QStringLiteral("%1 s").arg(seconds);
  const qint64 minutes = (seconds + 59) / 60;
  if (minutes < 60) return QStringLiteral("%1 min").arg(minutes);
  return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString hudDurationText(qint64 seconds) {
  const qint64 t = seconds < 0 ? 0 : seconds;
  if (t < 3600) return QString::asprintf("%02lld:%02lld", t / 60, t % 60);
  return QString::asprintf("%02lld:%02lld:%02lld", t / 3600, (t % 3600) / 60, t % 60);
}

}  // namespace lunor
