// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// H264 encoders behind one small interface, apart from the WebRTC library:
// OpenH264 (BSD) and x264 (GPL), each set up for screen content at low
// latency (no B-frames, no look-ahead, one picture in, one out). The
// library's encoder factory wraps them; the encoder benchmark drives them
// directly.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lunor::rtc {

// What the stream says of its colours, so that every decoder turns them back
// the same way: screens are sRGB (BT.709 primaries, the sRGB curve), and the
// capture's conversion to I420 uses BT.601 coefficients on the limited
// range. Decoders left to guess take BT.709 coefficients for HD pictures
// (browsers do), which turns red orange. Codes of H.264's VUI.
inline constexpr int kVuiPrimariesBt709 = 1;
inline constexpr int kVuiTransferSrgb = 13;     // IEC 61966-2-1
inline constexpr int kVuiMatrixBt601 = 6;       // SMPTE 170M

struct H264EncoderConfig {
  int width = 0;
  int height = 0;
  double fps = 30;
  int bitrateBps = 0;  // what the link may carry now
  bool screenContent = true;
  int qpMax = 51;
  int threads = 1;  // 0: the encoder chooses
  int slices = 1;   // 0: the encoder chooses
  int maxNalBytes = 0;  // each slice at most this big (single-NAL packetisation), 0: no limit
  // OpenH264: 0 low, 1 medium, 2 high complexity.
  int complexity = 0;
  // x264: its speed preset, and the quality aimed at while the bit rate
  // allows it (CRF; lower is better; 0: none, the bit rate as an average,
  // as a plain x264 pipeline codes, for comparing).
  std::string preset = "ultrafast";
  double crf = 28;
};

// One picture in I420.
struct H264Picture {
  const uint8_t* y = nullptr;
  const uint8_t* u = nullptr;
  const uint8_t* v = nullptr;
  int strideY = 0, strideU = 0, strideV = 0;
  int width = 0, height = 0;
  int64_t timestampUs = 0;  // increasing
  bool keyFrame = false;    // asked for
  // A still picture's sharpening (see StillSharpener): the buffer model
  // opened, and the picture coded at refineQp whatever the rate control
  // would choose (0: as it chooses). An engine that cannot codes it as any
  // other.
  bool bufferOpen = false;
  int refineQp = 0;
  // With the buffer open, the rows of macroblocks (16 pixels) the pass
  // refines, [refineFrom, refineTo) from the top (none: a repeat between two
  // bands); the others stay as the viewer has them (an engine that cannot
  // codes them all).
  static constexpr int kAllRows = 1 << 20;
  static constexpr int macroblockRows(int height) { return (height + 15) / 16; }
  int refineFrom = 0;
  int refineTo = kAllRows;
};

struct H264Output {
  std::vector<uint8_t> annexB;  // empty: the encoder skipped the picture
  bool keyFrame = false;
  int qp = -1;  // -1 when the encoder does not say
};

class H264Engine {
 public:
  virtual ~H264Engine() = default;
  virtual bool open(const H264EncoderConfig& config, std::string* error) = 0;
  virtual void setRates(int bitrateBps, double fps) = 0;
  virtual bool encode(const H264Picture& picture, H264Output& out) = 0;
  virtual std::string name() const = 0;
};

// "x264" or "openh264"; null for another name.
std::unique_ptr<H264Engine> createH264Engine(const std::string& name);
std::vector<std::string> h264EngineNames();

// Decodes a stream of either encoder (constrained baseline) for the benchmark's
// quality figures.
class H264PictureDecoder {
 public:
  struct Planes {
    const uint8_t* y = nullptr;
    const uint8_t* u = nullptr;
    const uint8_t* v = nullptr;
    int strideY = 0, strideUV = 0;
    int width = 0, height = 0;
  };
  H264PictureDecoder();
  ~H264PictureDecoder();
  H264PictureDecoder(const H264PictureDecoder&) = delete;
  H264PictureDecoder& operator=(const H264PictureDecoder&) = delete;
  // The picture `annexB` makes, valid until the next call; false on an error
  // or when it makes none.
  bool decode(const std::vector<uint8_t>& annexB, Planes& out);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lunor::rtc
