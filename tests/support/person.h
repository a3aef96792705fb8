// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A person at a test's X server: finds windows by title, looks at the
// screen, moves the pointer, clicks and types, through XTEST.

#include <tuple>
#include <utility>
#include <vector>

#include <QImage>
#include <QRect>
#include <QString>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace lunor::test {

// The person at the client's machine.
class Person {
 public:
  explicit Person(const QString& display) : display_(XOpenDisplay(display.toLocal8Bit().constData())) {}
  ~Person() {
    if (display_) XCloseDisplay(display_);
  }
  bool ready() const { return display_ != nullptr; }

  // The viewable top-level windows whose title (_NET_WM_NAME, UTF-8) starts
  // with `title`, in stacking order (bottom first), with their geometry.
  std::vector<std::pair<Window, QRect>> windows(const QString& title) {
    // Windows may go while we look at them: their errors are ignored.
    XSync(display_, False);
    auto previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    const Atom netWmName = XInternAtom(display_, "_NET_WM_NAME", False);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    std::vector<std::pair<Window, QRect>> found;
    XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count; ++i) {
      Atom type = 0;
      int format = 0;
      unsigned long items = 0, after = 0;
      unsigned char* name = nullptr;
      if (XGetWindowProperty(display_, children[i], netWmName, 0, 256, False, AnyPropertyType, &type, &format,
                             &items, &after, &name) == Success && name) {
        if (QString::fromUtf8(reinterpret_cast<char*>(name), static_cast<qsizetype>(items)).startsWith(title)) {
          XWindowAttributes a{};
          if (XGetWindowAttributes(display_, children[i], &a) && a.map_state == IsViewable) found.emplace_back(children[i], QRect(a.x, a.y, a.width, a.height));
        }
        XFree(name);
      }
    }
    if (children) XFree(children);
    XSync(display_, False);
    XSetErrorHandler(previous);
    return found;
  }
  // The first such window's geometry, or a null rectangle.
  QRect window(const QString& title) {
    const auto all = windows(title);
    return all.empty() ? QRect() : all.front().second;
  }
  // Waits for such a window; its geometry, or a null rectangle on timeout.
  QRect waitForWindow(const QString& title, int timeoutMs = 20000) {
    QRect found;
    std::ignore = QTest::qWaitFor([&] { return !(found = window(title)).isNull(); }, timeoutMs);
    return found;
  }
  // The screen's pixels in `area`.
  QImage grab(const QRect& area) {
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), area.x(), area.y(),
                              static_cast<unsigned>(area.width()), static_cast<unsigned>(area.height()), AllPlanes,
                              ZPixmap);
    if (!image) return {};
    QImage grabbed(area.size(), QImage::Format_RGB32);
    for (int y = 0; y < area.height(); ++y) {
      for (int x = 0; x < area.width(); ++x) grabbed.setPixel(x, y, 0xFF000000 | XGetPixel(image, x, y));
    }
    XDestroyImage(image);
    return grabbed;
  }
  // The share of the rectangle's pixels that are close to `rgb`.
  double shareOf(const QRect& area, QRgb rgb) {
    const QImage image = grab(area);
    long close = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QRgb p = image.pixel(x, y);
        const int dr = qRed(p) - qRed(rgb), dg = qGreen(p) - qGreen(rgb), db = qBlue(p) - qBlue(rgb);
        if (dr * dr + dg * dg + db * db < 60 * 60) ++close;
      }
    }
    return image.isNull() ? 0 : double(close) / (double(image.width()) * image.height());
  }
  // A fingerprint of the rectangle's pixels: equal fingerprints, an
  // unchanged picture.
  quint64 fingerprint(const QRect& area) {
    const QImage image = grab(area);
    return image.isNull() ? 0 : qHashBits(image.constBits(), static_cast<size_t>(image.sizeInBytes()), 1);
  }
  // Waits until the rectangle shows something other than `before` (0: any
  // picture) and has stayed the same for a moment: a screen that has come
  // and is drawn, ready for the keyboard.
  bool settlesOnNew(const QRect& area, quint64 before = 0, int timeoutMs = 20000) {
    quint64 last = 0;
    return QTest::qWaitFor(
        [&] {
          const quint64 now = fingerprint(area);
          const bool steady = now == last && now != before;
          last = now;
          if (!steady) QTest::qWait(150);
          return steady;
        },
        timeoutMs);
  }
  // Asks the first viewable top-level window titled `title` to close, as a
  // window manager's close button does (WM_DELETE_WINDOW).
  bool closeWindow(const QString& title) {
    const auto all = windows(title);
    if (all.empty()) return false;
    const Window target = all.front().first;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = target;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, target, False, NoEventMask, &event);
    XFlush(display_);
    return true;
  }
  void moveTo(QPoint p) {
    XTestFakeMotionEvent(display_, -1, p.x(), p.y(), CurrentTime);
    XFlush(display_);
  }
  void click(QPoint p) {
    moveTo(p);
    QTest::qWait(100);
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    XFlush(display_);
  }
  void type(const QString& text) {
    for (QChar c : text) key(c == QLatin1Char('\n') ? XK_Return : c.unicode());
  }
  void key(KeySym sym) {
    const KeyCode code = XKeysymToKeycode(display_, sym);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    XFlush(display_);
    QTest::qWait(30);
  }

 private:
  Display* display_;
};

}  // namespace lunor::test
