#pragma once

// main() of a test that shows windows: its own X server first (Xvnc, one
// 1920 x 1080 monitor), then the GUI application on it, so the test never
// depends on the display of whoever runs it.

#include <cstdio>
#include <memory>

#include <QGuiApplication>
#include <QTest>

#include "virtual_display.h"

#define LUNOR_GUI_TEST_MAIN(TestObject)                                              \
  int main(int argc, char** argv) {                                                  \
    std::unique_ptr<lunor::test::VirtualDisplay> display;                            \
    {                                                                                \
      QCoreApplication bootstrap(argc, argv);                                        \
      display = std::make_unique<lunor::test::VirtualDisplay>(/*twoMonitors=*/false); \
    }                                                                                \
    if (!display->isRunning()) {                                                     \
      std::fprintf(stderr, "%s\n", qPrintable(display->error()));                    \
      return 1;                                                                      \
    }                                                                                \
    qputenv("QT_QPA_PLATFORM", "xcb");                                               \
    int result = 0;                                                                  \
    {                                                                                \
      QGuiApplication app(argc, argv);                                               \
      TestObject test;                                                               \
      result = QTest::qExec(&test, argc, argv);                                      \
    }                                                                                \
    return result;                                                                   \
  }
