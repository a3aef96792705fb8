// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How a session's published field changes: its signal goes out only when the
// value really changes.

#include <QString>

namespace lunor {

template <typename T, typename Emit>
void publish(T& field, const T& value, Emit emitChanged) {
  if (field == value) return;
  field = value;
  emitChanged();
}

// Absent (null) and empty are different values for these strings.
template <typename Emit>
void publishOptional(QString& field, const QString& value, Emit emitChanged) {
  if (field == value && field.isNull() == value.isNull()) return;
  field = value;
  emitChanged();
}

}  // namespace lunor
