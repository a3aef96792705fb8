// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// lunor.host: the host's lines (capture, "[ScreenCapturer] ...", and the
// input's mapping).
// Lines are at info level (consoleLine): QT_LOGGING_RULES="lunor.host.info=false"
// hides them.

#include <QLoggingCategory>

namespace lunor {

Q_DECLARE_LOGGING_CATEGORY(lcHost)

}  // namespace lunor
