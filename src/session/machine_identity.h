// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>

#include <QString>

class QSettings;

namespace lunor {

// Settings keys of the machine's identity.
inline constexpr char kMachineIdKey[] = "KOVA_REMOTE_MACHINE_ID_V1";
inline constexpr char kSessionIdKey[] = "kova.sessionId";

// A source of uniformly random 64-bit words.
using RandomWords = std::function<uint64_t()>;

// The system's cryptographically secure random source.
RandomWords systemRandomWords();

// Draws uniformly from [0, bound) by multiply-and-reject: a word is multiplied
// by bound, the high 64 bits are the value, and the draw is repeated while the
// low 64 bits fall below 2^64 mod bound. bound must be positive.
uint64_t uniformBelow(uint64_t bound, const RandomWords& random);

// Returns the stored machine ID unchanged, or draws a new one from
// 100000000..999999999, stores it and returns it.
QString machineId(QSettings& settings, const RandomWords& random = systemRandomWords());

}  // namespace lunor
