// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How close a received picture is to what the screen showed: PSNR and SSIM
// of the luma, the screen read back from the X server and turned to luma as
// the host's capture turns it, the picture scaled to the screen's size as a
// viewer would show it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lunor::bench {

struct LumaPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> y;  // width × height, no padding
};

// A copy of a plane of samples.
LumaPicture copyLuma(const uint8_t* data, int stride, int width, int height);

// The root window of the X display (":N") as the capture's BT.601
// limited-range luma; nothing when it cannot be read.
std::optional<LumaPicture> grabScreenLuma(const std::string& display);

// Two planes of w × h samples: PSNR in dB (100 for equal planes), and the
// mean SSIM over 8 × 8 blocks.
double psnr(const uint8_t* a, int strideA, const uint8_t* b, int strideB, int w, int h);
double ssim(const uint8_t* a, int strideA, const uint8_t* b, int strideB, int w, int h);

// picture against reference, picture scaled (bilinear) to the reference's
// size when it is another.
struct Likeness {
  double psnr = 0;
  double ssim = 0;
};
Likeness likeness(const LumaPicture& reference, const LumaPicture& picture);

// A plane of samples made smaller by averaging the area each new sample
// covers (a box filter, as the host's scaler does).
LumaPicture shrunk(const uint8_t* data, int stride, int width, int height, int toWidth, int toHeight);

}  // namespace lunor::bench
