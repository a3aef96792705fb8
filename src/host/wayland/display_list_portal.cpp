// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/wayland/display_list_portal.h"

#include <QHash>

#include "host/wayland/portal_remote_desktop.h"

namespace lunor {
namespace {

uint32_t idOf(const PortalStream& stream) {
  // Never 0, which means none, nor the display still to be chosen.
  const uint32_t id = qHash(stream.key) | 1u;
  return id == DisplayListPortal::kToBeChosenId ? 3u : id;
}

}  // namespace

std::vector<DisplayDescription> portalDisplays(const std::vector<PortalStream>& streams) {
  if (streams.empty()) return {DisplayDescription{DisplayListPortal::kToBeChosenId, 0, 0, QRect()}};
  std::vector<DisplayDescription> displays;
  for (const PortalStream& stream : streams) {
    DisplayDescription display;
    display.id = idOf(stream);
    display.width = stream.size.width();
    display.height = stream.size.height();
    display.bounds = QRect(stream.position, stream.size);
    displays.push_back(display);
  }
  return displays;
}

std::vector<DisplayDescription> DisplayListPortal::displays() { return portalDisplays(portal_.streams()); }

uint32_t DisplayListPortal::mainDisplayId() { return displays().front().id; }

QString DisplayListPortal::connectorOf(uint32_t displayId) const {
  for (const PortalStream& stream : portal_.streams()) {
    if (idOf(stream) == displayId) return stream.key;
  }
  return {};  // the display to be chosen, or one gone: the first stream
}

}  // namespace lunor
