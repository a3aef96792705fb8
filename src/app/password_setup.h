// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// --set-unattended-password and --clear-unattended-password: unattended
// access for a host run by an operator. The password is never taken from
// the command line.

#include <cstdio>

namespace lunor {

class SessionEnvironment;

// Reads the password (twice, without echo, on a terminal; one line from
// standard input otherwise), stores it, mirrors its digest and switches
// unattended access on. The exit code: 0, or 1 with the reason on `errors`.
int setUnattendedPassword(SessionEnvironment& environment, std::FILE* input = stdin, std::FILE* errors = stderr);
// Forgets the password and switches unattended access off.
int clearUnattendedPassword(SessionEnvironment& environment);

}  // namespace lunor
