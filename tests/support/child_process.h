// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A process a test starts goes with the test however it ends (a crash, an
// abort, a timeout's kill): the kernel kills it with the starting thread.

#include <csignal>
#include <sys/prctl.h>

#include <QProcess>

namespace lunor::test {

inline void dieWithTest(QProcess& process) {
  process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

}  // namespace lunor::test
