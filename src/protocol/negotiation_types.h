// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the peers' negotiation puts on the wire: session descriptions, ICE
// candidates, and the relay servers a signaling server hands over. Plain
// values, shared by our WebRTC interface and the signaling messages.

#include <optional>
#include <string>
#include <vector>

namespace lunor::rtc {

// Session description types, numbered as the logs number them (offer 0, answer 2).
enum class SdpType : int {
  Offer = 0,
  PrAnswer = 1,
  Answer = 2,
  Rollback = 3,
};

struct SessionDescription {
  SdpType type = SdpType::Offer;
  std::string sdp;
};

struct IceCandidate {
  std::string sdp;                    // the "candidate:..." line
  std::optional<std::string> sdpMid;  // absent when the library gives none
  int sdpMLineIndex = 0;
};

struct IceServer {
  std::vector<std::string> urls;
  std::string username;
  std::string credential;
};

}  // namespace lunor::rtc
