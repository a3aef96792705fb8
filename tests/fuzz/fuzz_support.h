#pragma once

// What every fuzz target shares: a Qt application object (fuzz_support.cpp
// makes it before the first input), the input as bytes, and a way to stop at
// a broken property with a clear message.

#include <cstdio>
#include <cstdlib>
#include <tuple>

#include <QByteArray>

namespace lunor::fuzz {

inline QByteArray bytes(const uint8_t* data, size_t size) {
  return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// A property that must hold for every input; aborts (a finding) otherwise.
inline void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

}  // namespace lunor::fuzz
