#pragma once

// What every fuzz target shares: a Qt application object for the image
// plugins, and a way to stop at a broken property with a clear message.

#include <cstdio>
#include <cstdlib>
#include <tuple>

#include <QCoreApplication>

namespace lunor::fuzz {

inline void initialise(int* argc, char*** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QCoreApplication app(*argc, *argv);
}

// A property that must hold for every input; aborts (a finding) otherwise.
inline void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

}  // namespace lunor::fuzz
