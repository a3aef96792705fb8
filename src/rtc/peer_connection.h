// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The WebRTC operations and events the session relies on, as our own
// interfaces. The library-backed implementation lives in rtc/webrtc/; tests
// use fakes. Nothing outside rtc/webrtc/ includes the library's headers.
//
// Threads: observers are called on the library's own threads, never on the Qt
// main thread. Completions likewise. Setting an observer to null waits for a
// callback already running on another thread to return, so once
// `setObserver(nullptr)` has returned no further call reaches the old observer.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rtc/rtc_types.h"

namespace lunor::rtc {

// A captured picture, 32-bit BGRA (B, G, R, A bytes in memory).
struct VideoFrameView {
  const uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;  // bytes per row
  int64_t timestampUs = 0;
};

struct I420FrameView;
// Writes the picture scaled to width × height as 32-bit BGRX (B, G, R, X
// bytes in memory; BT.601, limited range) at bgra, rows stride bytes apart.
using ToBgra = void (*)(const I420FrameView& frame, uint8_t* bgra, int stride, int width, int height);

// A decoded picture in the decoder's own layout, I420: a Y plane of the
// full size, and U and V planes of half the width and height (rounded up).
// The planes are the library's: valid during the onFrame() call only.
struct I420FrameView {
  const uint8_t* y = nullptr;
  const uint8_t* u = nullptr;
  const uint8_t* v = nullptr;
  int strideY = 0;
  int strideU = 0;
  int strideV = 0;
  int width = 0;
  int height = 0;
  int64_t timestampUs = 0;
  // The implementation's own conversion (fast, vectorised).
  ToBgra toBgra = nullptr;
};

class VideoSink {
 public:
  virtual ~VideoSink() = default;
  // Called on a library thread for every frame the track renders.
  virtual void onFrame(const I420FrameView& frame) = 0;
};

// The host's screen source: frames go in, the track carries them out.
class VideoSource {
 public:
  virtual ~VideoSource() = default;
  // Scales (never up) and drops frames so the output fits width x height at
  // fps; like the platform's adaptOutputFormat.
  virtual void adaptOutputFormat(int width, int height, int fps) = 0;
  // Feeds one BGRA frame; any thread. The data is copied before returning.
  virtual void pushFrame(const VideoFrameView& frame) = 0;
  // Feeds the last frame again with a new timestamp (for a still screen),
  // without converting it again. False when no frame came yet. Any thread.
  virtual bool repeatLastFrame(int64_t timestampUs) = 0;
  // Feeds the last frame again now, encoded as a key frame: for a peer that
  // has no picture yet (the first ones may be lost before its path is up).
  // Any thread.
  virtual void sendKeyFrame() = 0;
  // True while the encoder sharpens a still picture pass by pass: a repeat
  // at each frame interval carries the next part. Any thread.
  virtual bool wantsRepeats() const { return false; }
};

class VideoTrack {
 public:
  virtual ~VideoTrack() = default;
  virtual std::string trackId() const = 0;
  // The sink must stay alive until removeSink() has returned.
  virtual void addSink(VideoSink* sink) = 0;
  virtual void removeSink(VideoSink* sink) = 0;
  // Marks the track as screen content (keep detail, drop frames before sharpness).
  virtual void setScreenContent(bool screen) = 0;
};

class RtpSender {
 public:
  virtual ~RtpSender() = default;
  virtual std::string trackId() const = 0;
  virtual std::vector<RtpEncoding> encodings() const = 0;
  // Writes the limits back; a sender with no encoding gets the first one.
  virtual Error setEncodings(const std::vector<RtpEncoding>& encodings) = 0;
};

class DataChannelObserver {
 public:
  virtual ~DataChannelObserver() = default;
  virtual void onStateChange(DataChannelState state) = 0;
  virtual void onMessage(const std::string& data, bool binary) = 0;
};

class DataChannel {
 public:
  virtual ~DataChannel() = default;
  virtual std::string label() const = 0;
  virtual DataChannelState state() const = 0;
  // Returns false when the channel refused the message (not open, buffer full).
  virtual bool send(const std::string& data, bool binary) = 0;
  // Bytes handed to send() and not yet passed to the network. The library
  // closes a channel whose buffer would exceed 16 MiB: large contents are
  // sent a piece at a time, while this stays low.
  virtual uint64_t bufferedAmount() const = 0;
  // The observer must outlive its registration; see the header comment.
  virtual void setObserver(DataChannelObserver* observer) = 0;
  // Closes the channel once what was sent on it has left; the peer sees
  // those messages, then the close.
  virtual void close() = 0;
};

class PeerConnectionObserver {
 public:
  virtual ~PeerConnectionObserver() = default;
  virtual void onIceConnectionChange(IceConnectionState state) = 0;
  virtual void onIceCandidate(const IceCandidate& candidate) = 0;
  // A receiver was added whose track is video.
  virtual void onVideoTrack(std::shared_ptr<VideoTrack> track) = 0;
  // The peer opened a data channel.
  virtual void onDataChannel(std::shared_ptr<DataChannel> channel) = 0;
};

using DescriptionCallback =
    std::function<void(std::optional<SessionDescription> description, Error error)>;
using CompletionCallback = std::function<void(Error error)>;

class PeerConnection {
 public:
  virtual ~PeerConnection() = default;

  virtual void setObserver(PeerConnectionObserver* observer) = 0;

  // Returns the new sender, or null when the library refused the track.
  virtual std::shared_ptr<RtpSender> addTrack(std::shared_ptr<VideoTrack> track,
                                              const std::vector<std::string>& streamIds) = 0;
  virtual std::vector<std::shared_ptr<RtpSender>> senders() = 0;
  // Returns null when the channel could not be made.
  virtual std::shared_ptr<DataChannel> createDataChannel(const std::string& label,
                                                         bool ordered) = 0;

  // Puts the codec named `codecName` (e.g. "H264") first for the video
  // senders, ahead of the rest in the library's order.
  virtual Error preferVideoCodec(const std::string& codecName) = 0;
  // Bandwidth estimation bounds for the whole connection, in bits per second.
  virtual Error setBitrateRange(int minBps, int startBps, int maxBps) = 0;

  virtual void createOffer(const MediaConstraints& constraints, DescriptionCallback done) = 0;
  virtual void createAnswer(const MediaConstraints& constraints, DescriptionCallback done) = 0;
  virtual void setLocalDescription(const SessionDescription& description,
                                   CompletionCallback done) = 0;
  virtual void setRemoteDescription(const SessionDescription& description,
                                    CompletionCallback done) = 0;
  virtual void addIceCandidate(const IceCandidate& candidate, CompletionCallback done) = 0;
  virtual void restartIce() = 0;
  // Replaces the ICE servers (TURN credentials handed over later); the next
  // gathering, after an ICE restart, uses them.
  virtual Error setIceServers(const std::vector<IceServer>& servers) = 0;
  virtual IceConnectionState iceConnectionState() = 0;
  // The library's counters for the video; `done` runs on a library thread.
  virtual void getStats(std::function<void(ConnectionStats stats)> done) = 0;
  virtual void close() = 0;
};

// One per session: owns the library's network, worker and signaling threads
// and the builtin video encoder and decoder factories.
class PeerConnectionFactory {
 public:
  virtual ~PeerConnectionFactory() = default;

  virtual std::shared_ptr<VideoSource> createVideoSource() = 0;
  virtual std::shared_ptr<VideoTrack> createVideoTrack(std::shared_ptr<VideoSource> source,
                                                       const std::string& trackId) = 0;
  // Returns null when the library refuses the configuration. The observer is
  // borrowed: clear it with setObserver(nullptr) before it goes away.
  virtual std::shared_ptr<PeerConnection> createPeerConnection(
      const Configuration& configuration, const MediaConstraints& constraints,
      PeerConnectionObserver* observer) = 0;
  // Every connection of this factory presents the same DTLS certificate,
  // made with the factory: its fingerprint as a description carries it
  // ("sha-256 AB:CD:…"), known before any connection. Empty if none.
  virtual std::string certificateFingerprint() const = 0;
};

}  // namespace lunor::rtc
