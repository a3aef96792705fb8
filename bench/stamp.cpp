// SPDX-License-Identifier: GPL-3.0-or-later
#include "stamp.h"

#include <chrono>
#include <ctime>

#include <poll.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace lunor::bench {

namespace {

constexpr uint32_t kCounterMask = (1u << kStampBits) - 1;

double threadCpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

}  // namespace

int64_t monotonicUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void forEachStampBlock(uint32_t counter, const std::function<void(int column, int row, bool white)>& block) {
  block(0, 0, true);
  block(1, 0, false);
  block(0, 1, false);
  block(1, 1, true);
  for (int bit = 0; bit < kStampBits; ++bit) {
    const bool on = (counter >> (kStampBits - 1 - bit)) & 1u;
    block(2 + bit, 0, on);
    block(2 + bit, 1, !on);
  }
}

StampWindow::StampWindow(std::string display, int periodMs)
    : displayName_(std::move(display)),
      periodMs_(periodMs),
      drawn_(std::make_unique<std::atomic<int64_t>[]>(kCounterMask + 1)) {}

StampWindow::~StampWindow() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool StampWindow::start() {
  Display* display = XOpenDisplay(displayName_.c_str());
  if (!display) return false;
  thread_ = std::thread([this, display] { run(display); });
  return true;
}

int64_t StampWindow::drawnAt(uint32_t counter) const {
  return drawn_[counter & kCounterMask].load(std::memory_order_relaxed);
}

void StampWindow::run(void* opaque) {
  Display* display = static_cast<Display*>(opaque);
  const int screen = DefaultScreen(display);
  const Window root = RootWindow(display, screen);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = BlackPixel(display, screen);
  const Window window =
      XCreateWindow(display, root, 0, 0, kStampWidth, kStampHeight, 0, CopyFromParent, InputOutput,
                    CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
  const Pixmap pixmap = XCreatePixmap(display, window, kStampWidth, kStampHeight,
                                      static_cast<unsigned>(DefaultDepth(display, screen)));
  GC white = XCreateGC(display, pixmap, 0, nullptr);
  GC black = XCreateGC(display, pixmap, 0, nullptr);
  XSetForeground(display, white, WhitePixel(display, screen));
  XSetForeground(display, black, BlackPixel(display, screen));
  XMapRaised(display, window);
  XSync(display, False);

  uint32_t counter = 0;
  auto next = std::chrono::steady_clock::now();
  int ticks = 0;
  while (!stop_) {
    next += std::chrono::milliseconds(periodMs_);
    std::this_thread::sleep_until(next);
    if (paused_) continue;
    counter = (counter + 1) & kCounterMask;
    forEachStampBlock(counter, [&](int column, int row, bool on) {
      XFillRectangle(display, pixmap, on ? white : black, column * kStampBlock, row * kStampBlock,
                     kStampBlock, kStampBlock);
    });
    // One copy: the whole stamp changes at once on the screen.
    XCopyArea(display, pixmap, window, white, 0, 0, kStampWidth, kStampHeight, 0, 0);
    // Whatever else maps later must not cover the stamp.
    if (++ticks % 60 == 0) XRaiseWindow(display, window);
    XSync(display, False);
    drawn_[counter].store(monotonicUs(), std::memory_order_relaxed);
    cpuSeconds_ = threadCpu();
  }
  XFreeGC(display, white);
  XFreeGC(display, black);
  XFreePixmap(display, pixmap);
  XDestroyWindow(display, window);
  XCloseDisplay(display);
}

TypingStamp::TypingStamp(std::string display)
    : displayName_(std::move(display)),
      sent_(std::make_unique<std::atomic<int64_t>[]>(kCounterMask + 1)),
      keyEvent_(std::make_unique<std::atomic<int64_t>[]>(kCounterMask + 1)),
      glyphDrawn_(std::make_unique<std::atomic<int64_t>[]>(kCounterMask + 1)) {}

TypingStamp::~TypingStamp() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool TypingStamp::start() {
  Display* display = XOpenDisplay(displayName_.c_str());
  if (!display) return false;
  thread_ = std::thread([this, display] { run(display); });
  return true;
}

void TypingStamp::sent(uint32_t counter) { sent_[counter & kCounterMask].store(monotonicUs()); }

int64_t TypingStamp::drawnAt(uint32_t counter) const { return sent_[counter & kCounterMask].load(); }

int64_t TypingStamp::keyEventAt(uint32_t counter) const { return keyEvent_[counter & kCounterMask].load(); }

int64_t TypingStamp::glyphDrawnAt(uint32_t counter) const { return glyphDrawn_[counter & kCounterMask].load(); }

void TypingStamp::run(void* opaque) {
  Display* display = static_cast<Display*>(opaque);
  const int screen = DefaultScreen(display);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = BlackPixel(display, screen);
  attributes.event_mask = KeyPressMask;
  const Window window = XCreateWindow(display, RootWindow(display, screen), 0, 0, kStampWidth, kStampHeight, 0,
                                      CopyFromParent, InputOutput, CopyFromParent,
                                      CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
  GC white = XCreateGC(display, window, 0, nullptr);
  GC black = XCreateGC(display, window, 0, nullptr);
  XSetForeground(display, white, WhitePixel(display, screen));
  XSetForeground(display, black, BlackPixel(display, screen));
  XMapRaised(display, window);
  XSync(display, False);
  XSetInputFocus(display, window, RevertToParent, CurrentTime);
  auto draw = [&](uint32_t counter) {
    forEachStampBlock(counter, [&](int column, int row, bool on) {
      XFillRectangle(display, window, on ? white : black, column * kStampBlock, row * kStampBlock, kStampBlock,
                     kStampBlock);
    });
    XSync(display, False);
  };
  draw(0);
  // Woken by the connection itself, so that a key's arrival is timed when
  // it comes, not at the next look.
  pollfd connection{ConnectionNumber(display), POLLIN, 0};
  while (!stop_) {
    if (XPending(display) == 0) {
      poll(&connection, 1, 50);
      continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    if (event.type != KeyPress) continue;
    const int64_t arrived = monotonicUs();
    const uint32_t counter = (received_ + 1) & kCounterMask;
    keyEvent_[counter].store(arrived);
    draw(counter);
    glyphDrawn_[counter].store(monotonicUs());
    ++received_;
  }
  XFreeGC(display, white);
  XFreeGC(display, black);
  XDestroyWindow(display, window);
  XCloseDisplay(display);
}

std::optional<uint32_t> readStamp(const LumaView& picture, int screenWidth) {
  const double scale = double(picture.width) / screenWidth;
  const double block = kStampBlock * scale;
  const int half = std::max(0, int(block / 4));
  if (kStampColumns * block > picture.width || 2 * block > picture.height) return std::nullopt;
  auto sample = [&](int column, int row) {
    const int cx = int((column + 0.5) * block);
    const int cy = int((row + 0.5) * block);
    int sum = 0, count = 0;
    for (int y = cy - half; y <= cy + half; ++y) {
      for (int x = cx - half; x <= cx + half; ++x) {
        sum += picture.data[size_t(y) * picture.stride + size_t(x)];
        ++count;
      }
    }
    return sum / count;
  };
  const int high = std::min(sample(0, 0), sample(1, 1));
  const int low = std::max(sample(1, 0), sample(0, 1));
  if (high - low < 64) return std::nullopt;
  const int threshold = (high + low) / 2;
  uint32_t counter = 0;
  for (int bit = 0; bit < kStampBits; ++bit) {
    const bool on = sample(2 + bit, 0) > threshold;
    const bool inverted = sample(2 + bit, 1) > threshold;
    if (on == inverted) return std::nullopt;
    counter = (counter << 1) | (on ? 1u : 0u);
  }
  return counter;
}

}  // namespace lunor::bench
