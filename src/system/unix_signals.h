// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

class QCoreApplication;

namespace lunor {

// Makes SIGTERM and SIGINT quit the application's event loop cleanly.
void quitOnTerminationSignals(QCoreApplication& app);
// Runs `handler` on the main thread on SIGTERM and SIGINT instead; it
// decides when to quit. A second signal quits at once.
void onTerminationSignals(QCoreApplication& app, std::function<void()> handler);
// A write past the process's file size limit (ulimit -f) fails with EFBIG
// instead of killing the process: a received file says why it failed.
void failWritesPastFileSizeLimit();

}  // namespace lunor
