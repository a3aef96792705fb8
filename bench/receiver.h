// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The receiving side of the glass-to-glass benchmark: joins the host's
// session, reads the stamp out of every decoded picture and reports what
// it saw over a measured window.

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>

#include "picture_quality.h"
#include "rtc/rtc_types.h"
#include "protocol/control_message.h"
#include "protocol/quality_profile.h"

namespace lunor::bench {

class Stamp;

// A picture the receiver got: when (monotonicUs), and when the stamp it
// shows was drawn (0: none could be read).
struct SeenPicture {
  int64_t atUs = 0;
  int64_t drawnUs = 0;
};

// What a receiver saw between beginWindow() and endWindow().
struct ReceiverWindow {
  int64_t startUs = 0;  // monotonicUs at beginWindow()
  double seconds = 0;
  std::vector<double> latenciesMs;  // stamp drawn → picture decoded
  std::vector<uint32_t> timedStamps;  // the counter each latency was read from
  int frames = 0;
  int unreadable = 0;  // no stamp in the picture
  int repeats = 0;     // the same stamp as the picture before
  int width = 0, height = 0;
  double bytesReceived = 0;
  // Means per frame, from the receiving library's stats (ms); negative when
  // the receiver does not report them.
  double jitterBufferMs = -1;        // as the library reports it
  double jitterBufferTargetMs = -1;  // what its estimator aimed for
  double assemblyMs = -1;            // first to last packet of a frame
  double decodeMs = -1;
  double processingMs = -1;  // first packet → decoded
  double cpuSeconds = -1;    // the receiver's own CPU over the window
  // Per key pressed through sendKey: from its call to the moment the
  // receiver's client put the message on the channel, where that is not the
  // same moment (the browser: the DevTools hop into the page).
  std::vector<double> keyHandOverMs;
  std::vector<SeenPicture> pictures;  // every picture of the window, in order
  // What the receiving library asked of the host and missed, where the
  // receiver reports it (packets lost can go down: duplicates count
  // against it).
  std::optional<double> nacksSent;
  std::optional<double> plisSent;
  std::optional<double> packetsLost;
  std::optional<double> freezes;        // the browser's own count of pictures held too long
  std::optional<double> frozenSeconds;  // and their time
};

// A picture kept while Receiver::keepPictures is on: when it came, the
// stamp it shows, its luma.
struct KeptPicture {
  int64_t atUs = 0;
  std::optional<uint32_t> stamp;
  LumaPicture luma;
};

// The message a client's keyboard sends for a key (a macOS key code) going
// down or up on its first display.
inline ControlMessage keyMessage(uint16_t macKeyCode, bool down) {
  ControlMessage message;
  message.type = down ? ControlMessage::Type::KeyDown : ControlMessage::Type::KeyUp;
  message.keyCode = macKeyCode;
  message.down = down;
  return message;
}

// Fills the window's library figures from the counters at its start and end.
inline void addReceiveStats(ReceiverWindow& w, const rtc::VideoReceiveStats& a, const rtc::VideoReceiveStats& b) {
  w.bytesReceived = double(b.bytesReceived - a.bytesReceived);
  const double emitted = double(b.jitterBufferEmittedCount - a.jitterBufferEmittedCount);
  const double decoded = double(b.framesDecoded - a.framesDecoded);
  if (emitted > 0) {
    w.jitterBufferMs = (b.jitterBufferDelay - a.jitterBufferDelay) * 1000 / emitted;
    w.jitterBufferTargetMs = (b.jitterBufferTargetDelay - a.jitterBufferTargetDelay) * 1000 / emitted;
  }
  if (decoded > 0) {
    w.decodeMs = (b.totalDecodeTime - a.totalDecodeTime) * 1000 / decoded;
    w.processingMs = (b.totalProcessingDelay - a.totalProcessingDelay) * 1000 / decoded;
    w.assemblyMs = (b.totalAssemblyTime - a.totalAssemblyTime) * 1000 / decoded;
  }
}

class Receiver {
 public:
  virtual ~Receiver() = default;
  // Joins room with the unattended password and asks for profile; returns
  // the milliseconds from the join to the first picture, or nothing.
  virtual std::optional<double> join(const QString& room, const QString& password,
                                     QualityProfile profile) = 0;
  virtual void beginWindow() = 0;
  virtual ReceiverWindow endWindow() = 0;
  virtual void leave() = 0;
  // From the next join on, media only through the TURN server at turnUrl
  // ("turn:127.0.0.1:PORT", with the application's fixed TURN user), on
  // relayed candidates only; empty: any path, no servers.
  virtual void setTurnRelay(const QString& turnUrl) = 0;
  virtual QString name() const = 0;
  virtual QString error() const { return {}; }
  // Sends a key (a macOS key code) down or up, as a client's keyboard
  // would; false where the receiver cannot.
  virtual bool sendKey(uint16_t /*macKeyCode*/, bool /*down*/) { return false; }
  // Sends the file at path to the host, as a person dropping it on the
  // stage would; false where the receiver cannot (or the host takes none).
  virtual bool sendFile(const QString& /*path*/) { return false; }
  // The file being sent: over (done, failed, declined) or not, and how.
  struct FileState {
    bool over = false;
    bool done = false;
    QString reason;
  };
  virtual FileState fileState() const { return {true, false, QStringLiteral("not supported")}; }
  // While on, every picture got is kept, until taken; false where the
  // receiver cannot.
  virtual bool keepPictures(bool /*on*/) { return false; }
  virtual std::vector<KeptPicture> takeKeptPictures() { return {}; }
};

}  // namespace lunor::bench
