// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// lunor.session: the lines of what host and client share (the session's
// log, "[RemoteSession] ...", and the signaling link's, "[WS] ...").
// Lines are at info level (consoleLine): QT_LOGGING_RULES="lunor.session.info=false"
// hides them.

#include <QLoggingCategory>

namespace lunor {

Q_DECLARE_LOGGING_CATEGORY(lcSession)

}  // namespace lunor
