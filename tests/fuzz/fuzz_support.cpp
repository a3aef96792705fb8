// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz_support.h"

#include <QCoreApplication>

// Before the first input: the application object that Qt's image plugins
// and event-free classes expect.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QCoreApplication app(*argc, *argv);
  return 0;
}
