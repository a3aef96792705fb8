// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/x11/screen_resizer_x11.h"

#include <vector>

#include <QByteArray>
#include <QScopeGuard>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace lunor {
namespace {

constexpr double kMillimetresPerPixel = 25.4 / 96;  // what the server reports as its size; 96 dpi

// The output to size: the primary, else the first that is connected and
// has a CRTC to show it.
RROutput shownOutput(Display* d, Window root, XRRScreenResources* res) {
  std::vector<RROutput> candidates{XRRGetOutputPrimary(d, root)};
  candidates.insert(candidates.end(), res->outputs, res->outputs + res->noutput);
  for (const RROutput output : candidates) {
    if (output == None) continue;
    XRROutputInfo* info = XRRGetOutputInfo(d, res, output);
    if (!info) continue;
    const bool usable = info->connection == RR_Connected && (info->crtc != None || info->ncrtc > 0);
    XRRFreeOutputInfo(info);
    if (usable) return output;
  }
  return None;
}

// A mode of exactly `size` the output can show, made if the server has none
// (`made` says so).
RRMode modeOfSize(Display* d, Window root, XRRScreenResources* res, RROutput output, XRROutputInfo* info,
                  QSize size, bool* made) {
  *made = false;
  for (int i = 0; i < res->nmode; ++i) {
    const XRRModeInfo& mode = res->modes[i];
    if (int(mode.width) != size.width() || int(mode.height) != size.height()) continue;
    bool listed = false;
    for (int j = 0; j < info->nmode; ++j) listed = listed || info->modes[j] == mode.id;
    if (!listed) XRRAddOutputMode(d, output, mode.id);
    return mode.id;
  }
  QByteArray name = QStringLiteral("%1x%2").arg(size.width()).arg(size.height()).toLatin1();
  XRRModeInfo timing{};
  timing.width = unsigned(size.width());
  timing.height = unsigned(size.height());
  timing.hTotal = timing.width;
  timing.vTotal = timing.height;
  timing.dotClock = static_cast<unsigned long>(size.width()) * size.height() * 60;  // 60 Hz
  timing.name = name.data();
  timing.nameLength = unsigned(name.size());
  const RRMode mode = XRRCreateMode(d, root, &timing);
  if (mode != None) XRRAddOutputMode(d, output, mode);
  *made = mode != None;
  return mode;
}

void forgetMode(Display* d, RROutput output, RRMode mode) {
  XRRDeleteOutputMode(d, output, mode);
  XRRDestroyMode(d, mode);
}

bool setScreen(Display* d, Window root, XRRScreenResources* res, RRCrtc crtc, RROutput output, RRMode mode,
               QSize size) {
  // The CRTC off while the screen changes size under it, then on again.
  XRRSetCrtcConfig(d, res, crtc, CurrentTime, 0, 0, None, RR_Rotate_0, nullptr, 0);
  XRRSetScreenSize(d, root, size.width(), size.height(), int(size.width() * kMillimetresPerPixel),
                   int(size.height() * kMillimetresPerPixel));
  return XRRSetCrtcConfig(d, res, crtc, CurrentTime, 0, 0, mode, RR_Rotate_0, &output, 1) == RRSetConfigSuccess;
}

}  // namespace

bool ScreenResizerX11::resize(QSize size) {
  if (!connection_.isOpen() || size.isEmpty()) return false;
  std::lock_guard lock(connection_.mutex());
  Display* d = connection_.display();
  const Window root = DefaultRootWindow(d);
  X11ErrorTrap trap(d);
  int eventBase = 0, errorBase = 0, minW = 0, minH = 0, maxW = 0, maxH = 0;
  if (!XRRQueryExtension(d, &eventBase, &errorBase) || !XRRGetScreenSizeRange(d, root, &minW, &minH, &maxW, &maxH) ||
      size.width() < minW || size.height() < minH || size.width() > maxW || size.height() > maxH) {
    return false;
  }
  XRRScreenResources* res = XRRGetScreenResourcesCurrent(d, root);
  if (!res) return false;
  const auto freeResources = qScopeGuard([res] { XRRFreeScreenResources(res); });
  const RROutput output = shownOutput(d, root, res);
  XRROutputInfo* info = output != None ? XRRGetOutputInfo(d, res, output) : nullptr;
  if (!info) return false;
  const auto freeInfo = qScopeGuard([info] { XRRFreeOutputInfo(info); });
  const RRCrtc crtc = info->crtc != None ? info->crtc : info->crtcs[0];
  XRRCrtcInfo* shown = XRRGetCrtcInfo(d, res, crtc);
  if (!shown) return false;
  const RRMode before = shown->mode;
  const QSize shownSize(int(shown->width), int(shown->height));
  XRRFreeCrtcInfo(shown);
  // The root's size as the server has it now (this connection's idea of it
  // dates from its opening).
  Window ignored = None;
  int x = 0, y = 0;
  unsigned rootWidth = 0, rootHeight = 0, border = 0, depth = 0;
  XGetGeometry(d, root, &ignored, &x, &y, &rootWidth, &rootHeight, &border, &depth);
  const QSize screenBefore{int(rootWidth), int(rootHeight)};
  if (shownSize == size && screenBefore == size && before != None) return true;

  bool made = false;
  const RRMode mode = modeOfSize(d, root, res, output, info, size, &made);
  if (mode == None || trap.failed()) return false;
  XGrabServer(d);
  const bool done = setScreen(d, root, res, crtc, output, mode, size) && !trap.failed();
  if (!done && before != None) setScreen(d, root, res, crtc, output, before, screenBefore);  // as it was
  XUngrabServer(d);
  // Only the mode made last stays: a window dragged through many sizes
  // leaves no trail of them on the server.
  if (done) {
    if (madeMode_ != None && madeMode_ != mode) forgetMode(d, output, madeMode_);
    madeMode_ = made || madeMode_ == mode ? mode : None;
  } else if (made) {
    forgetMode(d, output, mode);
  }
  XSync(d, False);
  return done;
}

}  // namespace lunor
