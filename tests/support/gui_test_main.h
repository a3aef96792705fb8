// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// main() of a test that shows windows: its own X server first (Xvnc, one
// 1920 x 1080 monitor), then the GUI application on it, so the test never
// depends on the display of whoever runs it.

#include <cstdio>
#include <memory>

#include <QGuiApplication>
#include <QTest>

#include "virtual_display.h"

namespace lunor::test {

// Starts the X server and points Qt at it, before the application is made;
// null, the reason printed, when it does not start.
inline std::unique_ptr<VirtualDisplay> startGuiDisplay(int argc, char** argv) {
  std::unique_ptr<VirtualDisplay> display;
  {
    QCoreApplication bootstrap(argc, argv);
    display = std::make_unique<VirtualDisplay>(/*twoMonitors=*/false);
  }
  if (!display->isRunning()) {
    std::fprintf(stderr, "%s\n", qPrintable(display->error()));
    return nullptr;
  }
  qputenv("QT_QPA_PLATFORM", "xcb");
  return display;
}

}  // namespace lunor::test

#define LUNOR_GUI_TEST_MAIN(TestObject)                        \
  int main(int argc, char** argv) {                            \
    const auto display = lunor::test::startGuiDisplay(argc, argv); \
    if (!display) return 1;                                    \
    QGuiApplication app(argc, argv);                           \
    TestObject test;                                           \
    return QTest::qExec(&test, argc, argv);                    \
  }
