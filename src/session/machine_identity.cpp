// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/machine_identity.h"

#include <QRandomGenerator>
#include <QSettings>

namespace lunor {

RandomWords systemRandomWords() {
  return [] { return QRandomGenerator::system()->generate64(); };
}

uint64_t uniformBelow(uint64_t bound, const RandomWords& random) {
  Q_ASSERT(bound > 0);
  // 2^64 mod bound, computed without 128-bit constants.
  const uint64_t threshold = (0 - bound) % bound;
  for (;;) {
    const unsigned __int128 product = static_cast<unsigned __int128>(random()) * bound;
    const auto low = static_cast<uint64_t>(product);
    if (low >= threshold) return static_cast<uint64_t>(product >> 64);
  }
}

QString machineId(QSettings& settings, const RandomWords& random) {
  const QVariant stored = settings.value(kMachineIdKey);
  if (stored.isValid() && !stored.toString().isNull()) return stored.toString();

  const uint64_t value = 100000000ULL + uniformBelow(900000000ULL, random);
  const QString id = QString::number(value);
  settings.setValue(kMachineIdKey, id);
  settings.sync();
  return id;
}

}  // namespace lunor
