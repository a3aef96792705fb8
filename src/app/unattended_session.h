// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// --enable-unattended-session: this computer reachable from boot, nobody
// logged in, on a desktop of its own (lunor-remote-session.service run by
// the user's lingering systemd manager).

#include <functional>

#include <QStringList>

namespace lunor {

class DefaultEnvironment;

// Runs a command (its first word the program), its output on ours; its exit
// code, -1 when it could not run.
using CommandRunner = std::function<int(const QStringList&)>;
int runCommand(const QStringList& command);

// Needs unattended access on with a password. Copies the host's secrets to
// the private file (the keyring stays shut while nobody is logged in),
// switches lingering on and enables the unit (started now when the user's
// manager answers). The exit code: 0, or 1 with the reason on standard error.
int enableUnattendedSession(DefaultEnvironment& environment, const CommandRunner& run = runCommand);

}  // namespace lunor
