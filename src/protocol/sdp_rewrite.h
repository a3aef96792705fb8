// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "protocol/quality_profile.h"

namespace lunor {

// The host's offer as it leaves: H264 payload types first on the
// "m=video <port> RTP/SAVPF" line, then "b=AS:<kbps>" and "b=TIAS:<bps>"
// right after the first "m=video" line. Line ends are kept as they were (the
// two added lines end in LF). Sets *bandwidthAdded when the lines went in.
QString rewriteOfferSdp(const QString& sdp, const QualitySettings& quality,
                        bool* bandwidthAdded = nullptr);

}  // namespace lunor
