// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/input_types.h"

namespace lunor {

std::optional<Modifier> modifierFromName(const QString& name) {
  if (name == QLatin1String("shift")) return Modifier::Shift;
  if (name == QLatin1String("alt")) return Modifier::Alt;
  if (name == QLatin1String("ctrl")) return Modifier::Ctrl;
  if (name == QLatin1String("cmd")) return Modifier::Cmd;
  return std::nullopt;
}

QString modifierName(Modifier modifier) {
  switch (modifier) {
    case Modifier::Shift: return QStringLiteral("shift");
    case Modifier::Alt: return QStringLiteral("alt");
    case Modifier::Ctrl: return QStringLiteral("ctrl");
    case Modifier::Cmd: return QStringLiteral("cmd");
  }
  return {};
}

}  // namespace lunor
