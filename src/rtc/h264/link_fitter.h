#pragma once

// Fits a screen's video to the link: when the rate the link carries now is
// below what sharp pictures of this screen cost at the full frame rate, the
// frame rate goes down first (sharp text a few times a second beats blurred
// text at every frame), then the size. What a sharp picture costs is learnt
// from the encoder's own output, brought back to a reference quantiser
// (six steps of quantiser halve the bits). Time comes in with the pictures.

#include <cstddef>
#include <cstdint>

namespace lunor::rtc {

class LinkFitter {
 public:
  // Below this frame rate the picture gets smaller instead.
  static constexpr double kMinFps = 5;
  // The quantiser of a sharp picture of text (x264 aims at about 28).
  static constexpr int kSharpQp = 28;
  // The sizes tried, as fractions of the full one.
  static constexpr double kScales[] = {1.0, 0.75, 0.5};
  // A smaller size is kept this long at least before going back up, and
  // going up needs this much room.
  static constexpr int64_t kHoldUs = 3'000'000;
  static constexpr double kHeadroom = 1.3;

  struct Decision {
    bool encode = true;
    int width = 0;
    int height = 0;
  };

  LinkFitter(int width, int height, double fps);

  void setTarget(int bitrateBps, double fps);
  // Whether to encode the picture that came at `timestampUs`, and at what
  // size. A key frame asked for is always encoded.
  Decision next(int64_t timestampUs, bool keyFrame);
  // What the encoder made of a picture it was given (key frames, which
  // cost more whatever the link, teach nothing).
  void encoded(size_t bytes, int qp, int width, int height, bool keyFrame);

  double bitsPerPixel() const { return bitsPerPixel_; }
  double scale() const { return kScales[scaleIndex_]; }
  double frameRate() const { return fps_; }

 private:
  // The frame rate the link allows at scale index `i`.
  double allowedFps(size_t i) const;

  int width_, height_;
  double profileFps_;
  double targetBps_ = 0;
  double bitsPerPixel_ = 0;  // of a sharp picture; 0 until learnt
  size_t scaleIndex_ = 0;
  int64_t scaledAtUs_ = 0;
  double fps_;
  int64_t lastUs_ = -1;  // the last picture's time
  double credit_ = 1;    // pictures that may be encoded now
};

}  // namespace lunor::rtc
