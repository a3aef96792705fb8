// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A process a test starts goes with the test, however the test ends (a
// crash, an abort, a timeout's kill): the kernel kills it once the thread
// that started it is gone.

#include <csignal>
#include <sys/prctl.h>

#include <QProcess>

namespace lunor::test {

inline void dieWithTest(QProcess& process) {
  process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

}  // namespace lunor::test
