// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The library's congestion controller, told about gaps in the link.
//
// During a gap (see LinkGapDetector) whatever is encoded goes nowhere, yet
// the library retransmits it when the link returns and the receiver plays
// it in turn: after a 2 s blackout, 2 s of the past before the present.
// This controller pauses the encoders while the link is in a gap (a target
// rate of zero; our encoders start again from a key frame), keeps a trickle
// of padding going so that the link's return is heard at once, and ignores
// the gap's losses, which say nothing about the link's capacity.
//
// On a link that reorders packets it also puts right the arrival times the
// library misreads (feedback_repair.h) and tells the delay-based estimate
// of the delays' floor rather than their spread (delay_floor.h).

#include <cstdint>
#include <memory>

#include "api/transport/network_control.h"

namespace lunor::rtc::adapter {

std::unique_ptr<webrtc::NetworkControllerFactoryInterface> createGapAwareControllerFactory();

// How many gaps have ended in this process, on any connection. An encoder
// that sees the count change sends a key frame: the receiver has missed
// pictures and must not wait for them. (With several connections, every
// encoder starts a key frame when one link comes back: rare and harmless.)
uint64_t linkResumptions();

}  // namespace lunor::rtc::adapter
