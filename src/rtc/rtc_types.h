// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Plain value types of our WebRTC adapter. Nothing here depends on the
// library, so the rest of the program can speak about peer connections
// without seeing its headers.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/negotiation_types.h"

namespace lunor::rtc {

// ICE connection states, numbered as the library and the wire logs number them.
enum class IceConnectionState : int {
  New = 0,
  Checking = 1,
  Connected = 2,
  Completed = 3,
  Failed = 4,
  Disconnected = 5,
  Closed = 6,
  Unknown = 7,  // anything the library adds later
};

// Data channel ready states (0 connecting, 1 open, 2 closing, 3 closed).
enum class DataChannelState : int {
  Connecting = 0,
  Open = 1,
  Closing = 2,
  Closed = 3,
};

enum class IceTransportPolicy { NoCandidates, Relay, NoHost, All };

struct Configuration {
  std::vector<IceServer> iceServers;
  bool unifiedPlan = true;
  bool gatherContinually = true;
  bool tcpCandidates = false;
  IceTransportPolicy iceTransportPolicy = IceTransportPolicy::All;
};

// String-to-string constraints, as the peers write them ("true"/"false").
struct MediaConstraints {
  std::map<std::string, std::string> mandatory;
  std::map<std::string, std::string> optional;
};

// One RTP encoding's bitrate limits, in bits per second.
struct RtpEncoding {
  std::optional<int> minBitrateBps;
  std::optional<int> maxBitrateBps;
  std::optional<double> maxFramerate;
};

// What the library counts about a connection's video, as far as we read it.
// Counters run from the start of the stream; times are in seconds.
struct VideoReceiveStats {
  uint64_t bytesReceived = 0;
  uint32_t framesReceived = 0;
  uint32_t framesDecoded = 0;
  uint32_t framesDropped = 0;
  double totalDecodeTime = 0;
  double totalProcessingDelay = 0;  // from the first packet to the decoded frame
  double jitterBufferDelay = 0;     // summed over the frames the buffer let out
  double jitterBufferTargetDelay = 0;  // what the buffer aimed for, summed likewise
  double totalAssemblyTime = 0;     // first to last packet, frames of several packets
  uint64_t jitterBufferEmittedCount = 0;
  uint32_t frameWidth = 0;
  uint32_t frameHeight = 0;
  double framesPerSecond = 0;
  uint64_t qpSum = 0;  // over the decoded frames
  uint32_t packetsReceived = 0;
  int32_t packetsLost = 0;
  uint32_t nackCount = 0;  // NACKs this side sent
  std::string decoder;
};

struct VideoSendStats {
  uint64_t bytesSent = 0;
  uint32_t framesEncoded = 0;
  uint32_t framesSent = 0;
  uint32_t keyFramesEncoded = 0;
  double totalEncodeTime = 0;
  double totalPacketSendDelay = 0;  // summed over the packets: queued to sent (pacing)
  uint32_t packetsSent = 0;
  uint64_t qpSum = 0;
  uint32_t frameWidth = 0;
  uint32_t frameHeight = 0;
  double framesPerSecond = 0;
  double targetBitrate = 0;  // bits per second
  uint32_t nackCount = 0;    // NACKs the receiver sent
  uint64_t retransmittedPackets = 0;
  std::string encoder;
  std::string qualityLimitation;
};

struct ConnectionStats {
  std::optional<VideoReceiveStats> receive;
  std::optional<VideoSendStats> send;
  std::optional<double> roundTripTime;             // seconds, the pair in use
  std::optional<double> availableOutgoingBitrate;  // bits per second
};

// An error reported by the library in a completion; empty message means success.
struct Error {
  std::string message;
  bool ok() const { return message.empty(); }
};

}  // namespace lunor::rtc
