// SPDX-License-Identifier: GPL-3.0-or-later
#include "web_key_table.h"

#include <algorithm>
#include <string>

#include "protocol/key_codes.h"

namespace lunor::signal {

QByteArray webKeyTableModule() {
  auto keys = macKeyTable();
  std::sort(keys.begin(), keys.end(),
            [](const auto& a, const auto& b) { return std::string(a.second.domCode) < std::string(b.second.domCode); });
  QByteArray out =
      "// SPDX-License-Identifier: GPL-3.0-or-later\n"
      "// Made by the build from the application's key table (src/protocol/key_codes.cpp): edit that one.\n"
      "// KeyboardEvent.code of a physical key -> the macOS virtual key code the wire carries.\n"
      "export const macKeyCodes = Object.freeze({\n";
  for (const auto& [mac, key] : keys) {
    out += "  " + QByteArray(key.domCode) + ": " + QByteArray::number(mac) + ",\n";
  }
  out += "});\n";
  return out;
}

}  // namespace lunor::signal
