// SPDX-License-Identifier: GPL-3.0-or-later
// The host's rewrite of an offer, on any text: it never loses a line, and
// adds the two bandwidth lines at most once.

#include "fuzz_support.h"
#include "protocol/sdp_rewrite.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lunor;
  const QString sdp = QString::fromUtf8(fuzz::bytes(data, size));
  bool added = false;
  const QString rewritten = rewriteOfferSdp(sdp, settingsOf(QualityProfile::High), &added);
  fuzz::require(rewritten.count(QLatin1Char('\n')) == sdp.count(QLatin1Char('\n')) + (added ? 2 : 0),
                "only the two bandwidth lines are added");
  return 0;
}
