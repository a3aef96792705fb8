// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Tagged lines on standard output ("[WS] ...", "[RemoteSession] ..."), each
// under its folder's logging category (lunor.session, lunor.host, ...): a
// line is at the category's info level, so QT_LOGGING_RULES hides a folder's
// lines ("lunor.host.info=false") or all of them ("lunor.*=false").
// Tests replace the sink to read what a component printed.

#include <functional>

#include <QString>

class QLoggingCategory;

namespace lunor {

using ConsoleSink = std::function<void(const QString& line)>;

// Prints one line as it is (no prefix), unless the category's info level is
// off; thread-safe. Lines from one thread keep their order.
void consoleLine(const QLoggingCategory& category, const QString& line);

// Replaces where lines go; an empty sink restores standard output. Returns the
// previous sink. A line its category hides reaches no sink either.
ConsoleSink setConsoleSink(ConsoleSink sink);

}  // namespace lunor
