// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How the windows show file transfers: sizes and rates in French units, and
// one row per transfer for the lists of the stage and the HUD.

#include <cstdint>
#include <vector>

#include <QString>
#include <QVariantList>

#include "features/feature_exchange.h"

namespace lunor {

// "512 o", "12,3 Ko", "48,0 Mo", "1,07 Go" (powers of 1000, as file managers show them).
QString byteSizeText(int64_t bytes);

// One map per transfer: id, name, outgoing, state ("waiting", "running",
// "done", "failed", "cancelled", "declined", "interrupted"), fraction (0 to 1), detail
// (what the row says under the name) and active (it may still be cancelled).
QVariantList transferRows(const std::vector<FeatureExchange::Transfer>& transfers);

}  // namespace lunor
