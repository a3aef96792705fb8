// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a datagram between a client and its TURN server carries, as far as
// it can be told without the session's keys: a peer's datagram framed in
// ChannelData or in a Send or Data indication, and in that an RTP packet
// or an RTCP one (SRTP and SRTCP leave the fixed header clear; of an RTCP
// compound only the first packet's header can be read). Everything else
// (TURN's own requests, ICE checks, DTLS) is Other.

#include <cstddef>
#include <cstdint>

namespace lunor::bench {

struct RelayedDatagram {
  enum class Kind { Other, Rtp, Rtcp };
  Kind kind = Kind::Other;
  uint32_t ssrc = 0;       // RTP: the stream's; RTCP: the sender's
  uint8_t packetType = 0;  // RTP: the payload type; RTCP: the packet type (200-206)
  uint8_t format = 0;      // RTCP: the count or feedback message type
  bool padding = false;    // RTP: the padding bit (a probe of the link's rate)

  // RTCP feedback asking for lost packets again.
  bool isNack() const { return kind == Kind::Rtcp && packetType == 205 && format == 1; }
  // RTCP feedback asking for a new key frame.
  bool isPli() const { return kind == Kind::Rtcp && packetType == 206 && format == 1; }
  bool isFir() const { return kind == Kind::Rtcp && packetType == 206 && format == 4; }
};

RelayedDatagram classifyRelayed(const uint8_t* data, size_t size);

}  // namespace lunor::bench
