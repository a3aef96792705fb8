// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A plain X client for tests: a window that records what input reaches it.

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <tuple>

#include <QRect>
#include <QString>
#include <QStringList>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>

namespace lunor::test {

class TestWindow {
 public:
  // On the X server `name` (empty: $DISPLAY), red, at `geometry`; with a blue
  // right half when asked. Takes the keyboard focus.
  TestWindow(const QString& name, const QRect& geometry, bool blueRightHalf = false)
      : display(XOpenDisplay(name.isEmpty() ? nullptr : name.toLocal8Bit().constData())) {
    if (!display) return;
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = 0xFF0000;
    attributes.event_mask = PointerMotionMask | ButtonPressMask | ButtonReleaseMask | KeyPressMask |
                            KeyReleaseMask;
    window = XCreateWindow(display, DefaultRootWindow(display), geometry.x(), geometry.y(),
                           static_cast<unsigned>(geometry.width()), static_cast<unsigned>(geometry.height()), 0,
                           CopyFromParent, InputOutput, CopyFromParent,
                           CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
    if (blueRightHalf) {
      XSetWindowAttributes blue{};
      blue.background_pixel = 0x0000FF;
      const Window right = XCreateWindow(display, window, geometry.width() / 2, 0,
                                         static_cast<unsigned>(geometry.width() - geometry.width() / 2),
                                         static_cast<unsigned>(geometry.height()), 0, CopyFromParent,
                                         InputOutput, CopyFromParent, CWBackPixel, &blue);
      XMapWindow(display, right);
    }
    XDefineCursor(display, window, XCreateFontCursor(display, XC_left_ptr));
    XMapRaised(display, window);
    XSync(display, False);
    QTest::qWait(200);
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
  }
  // Paints colour bars and a checkerboard over the window: a picture with
  // edges and colours for comparing what the client received.
  void paintPattern() {
    if (!display) return;
    XWindowAttributes a;
    XGetWindowAttributes(display, window, &a);
    GC gc = XCreateGC(display, window, 0, nullptr);
    const unsigned long bars[] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00, 0xFF00FF, 0xFF0000, 0x0000FF, 0x202020};
    const int barWidth = a.width / 8;
    for (int i = 0; i < 8; ++i) {
      XSetForeground(display, gc, bars[i]);
      XFillRectangle(display, window, gc, i * barWidth, 0, static_cast<unsigned>(barWidth),
                     static_cast<unsigned>(a.height / 2));
    }
    const int cell = 80;
    for (int y = a.height / 2; y < a.height; y += cell) {
      for (int x = 0; x < a.width; x += cell) {
        XSetForeground(display, gc, ((x + y) / cell) % 2 ? 0xF0F0F0 : 0x303060);
        XFillRectangle(display, window, gc, x, y, cell, cell);
      }
    }
    XFreeGC(display, gc);
    XSync(display, False);
  }

  ~TestWindow() {
    if (display) XCloseDisplay(display);
  }

  // Waits for the next event of one of `types`, skipping others; nothing
  // on timeout.
  std::optional<XEvent> next(std::initializer_list<int> types, int timeoutMs = 5000) {
    std::optional<XEvent> found;
    std::ignore = QTest::qWaitFor(
        [&] {
          while (XPending(display) && !found) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
            if (std::find(types.begin(), types.end(), event.type) != types.end()) found = event;
          }
          return found.has_value();
        },
        timeoutMs);
    return found;
  }
  std::optional<XEvent> next(int type, int timeoutMs = 5000) { return next({type}, timeoutMs); }
  // The next key press that is not `skip` (a modifier), within 3 tries.
  std::optional<XEvent> nextKeyOtherThan(KeySym skip) {
    for (int i = 0; i < 3; ++i) {
      auto key = next(KeyPress);
      if (!key) return std::nullopt;
      if (XLookupKeysym(&key->xkey, 0) != skip) return key;
    }
    return std::nullopt;
  }
  // The names of the next `count` keys pressed ("h", "Return"); fewer when
  // they do not come.
  QStringList pressedKeys(int count, int timeoutMs = 10000) {
    QStringList names;
    while (names.size() < count) {
      auto key = next(KeyPress, timeoutMs);
      if (!key) break;
      names << QString::fromLatin1(XKeysymToString(XLookupKeysym(&key->xkey, 0)));
    }
    return names;
  }
  QString text(XEvent& key) {
    char buffer[8] = {};
    KeySym sym = 0;
    XLookupString(&key.xkey, buffer, sizeof buffer, &sym, nullptr);
    return QString::fromLatin1(buffer);
  }
  void drain() {
    XSync(display, False);
    while (XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
    }
  }

  Display* display = nullptr;
  Window window = 0;
};

}  // namespace lunor::test
