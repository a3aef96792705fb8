// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace lunor {

// The end alerts' duration: "0s", "42s", "3m 07s", "1h 02m 03s".
// Negative values count as zero.
QString endDurationText(qint64 seconds);

// How long until something may be tried again, rounded up: "45 s",
// "5 min", "23 h 05 min".
QString waitText(qint64 milliseconds);

// The floating HUD's clock: "00:00", "03:07", "01:02:03".
QString hudDurationText(qint64 seconds);

}  // namespace lunor
