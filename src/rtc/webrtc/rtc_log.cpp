// SPDX-License-Identifier: GPL-3.0-or-later
#include "rtc/webrtc/rtc_log.h"

#include <cstdarg>
#include <cstdio>

namespace lunor::rtc {

Q_LOGGING_CATEGORY(lcRtc, "lunor.rtc", QtInfoMsg)

void rtcLine(const char* format, ...) {
  if (!lcRtc().isInfoEnabled()) return;
  std::va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
}

}  // namespace lunor::rtc
