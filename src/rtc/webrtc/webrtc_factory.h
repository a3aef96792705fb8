// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Entry point of the library-backed adapter. This header is safe to include
// anywhere: it does not pull in the library's headers.

#include <memory>
#include <optional>
#include <string>

#include "rtc/peer_connection.h"

namespace lunor::rtc {

struct FactoryOptions {
  // Lets ICE use loopback interfaces, which the library ignores otherwise:
  // for tests and benchmarks whose peers share a machine with no other
  // interface. Unset: LUNOR_ICE_LOOPBACK=1 in the environment says so. A
  // real session never needs them (and would try its relay from there).
  std::optional<bool> allowLoopback;
  // The H264 encoder: "x264", "openh264" (as the library sets it up, ours)
  // or "library" (the library's own); empty: LUNOR_H264_ENCODER, else x264.
  std::string h264Encoder;
};

// Sets the library up for this process (log level, field trials); once,
// whatever calls it first. Anything that uses the library calls it.
void initialiseWebRtcLibrary();

// The library's conversion of a decoded picture to BGRX, vectorised (what
// the tracks' frames carry), for pictures from elsewhere.
ToBgra libraryToBgra();

// Makes a factory with its own network, worker and signaling threads and the
// builtin video encoder and decoder factories. Returns null on failure.
std::unique_ptr<PeerConnectionFactory> createWebRtcFactory(const FactoryOptions& options = {});

}  // namespace lunor::rtc
