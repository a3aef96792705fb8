// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What every fuzz target shares: a Qt application object (fuzz_support.cpp
// makes it before the first input), the input as bytes, and a way to stop at
// a broken property with a clear message.

#include <cstdio>
#include <cstdlib>
#include <tuple>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

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

// What the signaling server sends: one JSON object with a type.
inline void requireServerFrame(const QByteArray& json) {
  const QJsonDocument document = QJsonDocument::fromJson(json);
  require(document.isObject() && document.object().value("type").isString(), "every frame is an object with a type");
}

}  // namespace lunor::fuzz
