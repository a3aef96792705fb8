// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The glass-to-glass stamp: a small window in the screen's top-left corner
// whose binary counter is redrawn every 16 ms, with the time of each draw,
// and the reading of that counter back out of a decoded picture.
//
// Layout, in 24 px blocks on a 1920 px wide screen: row 0 is white, black,
// then the 20 bits of the counter (most significant first, white = 1); row 1
// repeats it inverted, so a block that reads the same in both rows marks a
// picture that cannot be trusted.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lunor::bench {

inline constexpr int kStampBlock = 24;
inline constexpr int kStampBits = 20;
inline constexpr int kStampColumns = kStampBits + 2;
inline constexpr int kStampWidth = kStampColumns * kStampBlock;
inline constexpr int kStampHeight = 2 * kStampBlock;

// Microseconds on the monotonic clock (the same in every process).
int64_t monotonicUs();

// Whatever draws the stamp on the shared screen.
class Stamp {
 public:
  virtual ~Stamp() = default;
  // When the counter value was drawn (monotonicUs, once the display server
  // has it), or 0 when it is unknown.
  virtual int64_t drawnAt(uint32_t counter) const = 0;
  // While paused nothing on the screen moves.
  virtual void setPaused(bool paused) = 0;
  // CPU seconds the drawing has cost this process.
  virtual double cpuSeconds() const { return 0; }
  // Whether a counter is timed at its first sight only (a typed key), not
  // in every picture that shows it.
  virtual bool timedOnce() const { return false; }
};

// The stamp's blocks for a counter value: column and row in blocks, and
// whether the block is white.
void forEachStampBlock(uint32_t counter, const std::function<void(int column, int row, bool white)>& block);

// An X11 window in the top-left corner, drawn by a thread of this process.
class StampWindow final : public Stamp {
 public:
  // display: ":N". Draws from start() until the window is destroyed.
  explicit StampWindow(std::string display, int periodMs = 16);
  ~StampWindow();
  StampWindow(const StampWindow&) = delete;
  StampWindow& operator=(const StampWindow&) = delete;

  // False when the X server could not be opened.
  bool start();
  void setPaused(bool paused) override { paused_ = paused; }
  int64_t drawnAt(uint32_t counter) const override;
  double cpuSeconds() const override { return cpuSeconds_.load(); }

 private:
  void run(void* display);

  std::string displayName_;
  int periodMs_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> paused_{false};
  std::atomic<double> cpuSeconds_{0};
  std::unique_ptr<std::atomic<int64_t>[]> drawn_;
};

// The keystroke stamp: an X11 window in the top-left corner with the
// keyboard's focus, whose counter is the number of key presses it received,
// redrawn at each. drawnAt(k) is when the k-th key was sent (sent() says),
// so that the latency read back is key sent → glyph seen; keyEventAt(k) and
// glyphDrawnAt(k) split the way up to the screen.
class TypingStamp final : public Stamp {
 public:
  explicit TypingStamp(std::string display);
  ~TypingStamp();
  TypingStamp(const TypingStamp&) = delete;
  TypingStamp& operator=(const TypingStamp&) = delete;

  bool start();
  // The key that will make the counter `counter` was sent now.
  void sent(uint32_t counter);
  uint32_t received() const { return received_.load(); }
  void setPaused(bool) override {}
  int64_t drawnAt(uint32_t counter) const override;
  bool timedOnce() const override { return true; }
  // When the window read the KeyPress that made `counter` off its X
  // connection, and when the server had drawn the new counter (after
  // XSync), in monotonicUs; 0 for a key not received yet.
  int64_t keyEventAt(uint32_t counter) const;
  int64_t glyphDrawnAt(uint32_t counter) const;

 private:
  void run(void* display);

  std::string displayName_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<uint32_t> received_{0};
  // Indexed by counter.
  std::unique_ptr<std::atomic<int64_t>[]> sent_;
  std::unique_ptr<std::atomic<int64_t>[]> keyEvent_;
  std::unique_ptr<std::atomic<int64_t>[]> glyphDrawn_;
};

// A plane of 8-bit samples (the Y plane of a decoded picture, or a grey
// rendering of an RGB one).
struct LumaView {
  const uint8_t* data;
  int stride;
  int width;
  int height;
};

// The counter in the picture; screenWidth is the width of the screen the
// picture shows (the picture may be scaled).
std::optional<uint32_t> readStamp(const LumaView& picture, int screenWidth = 1920);

}  // namespace lunor::bench
