// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Tagged lines on standard output ("[WS] ...", "[RemoteSession] ...").
// Tests replace the sink to read what a component printed.

#include <functional>

#include <QString>

namespace lunor {

using ConsoleSink = std::function<void(const QString& line)>;

// Prints one line; thread-safe. Lines from one thread keep their order.
void consoleLine(const QString& line);

// Replaces where lines go; an empty sink restores standard output. Returns the
// previous sink.
ConsoleSink setConsoleSink(ConsoleSink sink);

}  // namespace lunor
