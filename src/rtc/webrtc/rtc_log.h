// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// lunor.rtc: the lines of our WebRTC adapter (the encoder, "[Encoder] ...",
// and the congestion control, "[Link] ..."). They go to standard error, beside
// the library's own messages; QT_LOGGING_RULES="lunor.rtc.info=false" hides
// them.

#include <QLoggingCategory>

namespace lunor::rtc {

Q_DECLARE_LOGGING_CATEGORY(lcRtc)

// Prints printf's `format` on standard error as it is, unless lcRtc's info
// level is off. The format carries its own line end. Thread-safe.
void rtcLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace lunor::rtc
