// SPDX-License-Identifier: GPL-3.0-or-later
#include "relayed_datagram.h"

#include <algorithm>

namespace lunor::bench {
namespace {

constexpr uint32_t kStunMagicCookie = 0x2112A442;
constexpr uint16_t kSendIndication = 0x0016;
constexpr uint16_t kDataIndication = 0x0017;
constexpr uint16_t kDataAttribute = 0x0013;

uint16_t read16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t read32(const uint8_t* p) { return uint32_t(read16(p)) << 16 | read16(p + 2); }

struct Bytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// The peer's datagram inside a TURN framing, or nothing.
Bytes peerPayload(const uint8_t* data, size_t size) {
  if (size >= 4 && data[0] >= 0x40 && data[0] <= 0x4F) {  // ChannelData
    const size_t length = read16(data + 2);
    if (length > size - 4) return {};
    return {data + 4, length};
  }
  if (size < 20 || (data[0] & 0xC0) != 0 || read32(data + 4) != kStunMagicCookie) return {};
  const uint16_t type = read16(data);
  if (type != kSendIndication && type != kDataIndication) return {};
  const size_t end = 20 + std::min<size_t>(read16(data + 2), size - 20);
  for (size_t at = 20; at + 4 <= end;) {
    const uint16_t attribute = read16(data + at);
    const size_t length = read16(data + at + 2);
    if (at + 4 + length > end) return {};
    if (attribute == kDataAttribute) return {data + at + 4, length};
    at += 4 + (length + 3) / 4 * 4;
  }
  return {};
}

}  // namespace

RelayedDatagram classifyRelayed(const uint8_t* data, size_t size) {
  RelayedDatagram d;
  const Bytes payload = peerPayload(data, size);
  // RTP and RTCP, version 2, share the first byte's range 128-191 and are
  // told apart by the second (RTCP's types 192-223).
  if (payload.size < 8 || payload.data[0] < 128 || payload.data[0] > 191) return d;
  const uint8_t* p = payload.data;
  if (p[1] >= 192 && p[1] <= 223) {
    d.kind = RelayedDatagram::Kind::Rtcp;
    d.packetType = p[1];
    d.format = p[0] & 0x1F;
    d.ssrc = read32(p + 4);
  } else if (payload.size >= 12) {
    d.kind = RelayedDatagram::Kind::Rtp;
    d.packetType = p[1] & 0x7F;
    d.padding = (p[0] & 0x20) != 0;
    d.ssrc = read32(p + 8);
  }
  return d;
}

}  // namespace lunor::bench
