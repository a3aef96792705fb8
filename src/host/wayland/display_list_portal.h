// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The monitors a desktop portal shares: those a person chose for the
// running session, or for the last one. Before the first session the
// portal lists nothing (only a session tells which monitors exist, and
// opening one may ask a person), so the list holds one display standing
// for "the monitor the person will choose", of unknown size: sharing it
// starts a session and shares its first stream; the real monitors, with
// their sizes and places, replace it as soon as that session starts.

#include "host/wayland/wayland_display_list.h"

namespace lunor {

class PortalRemoteDesktop;
struct PortalStream;

// The displays of a portal session's streams: pixel size and bounds both
// the stream's size in the compositor's coordinates (what input is
// measured in) at its position; identifiers stable per stream id. With no
// streams, the one display to be chosen.
std::vector<DisplayDescription> portalDisplays(const std::vector<PortalStream>& streams);

class DisplayListPortal final : public WaylandDisplayList {
 public:
  // The display that stands for the monitor the person will choose.
  static constexpr uint32_t kToBeChosenId = 1;

  // portal is borrowed and must outlive the list.
  explicit DisplayListPortal(PortalRemoteDesktop& portal) : portal_(portal) {}

  std::vector<DisplayDescription> displays() override;
  uint32_t mainDisplayId() override;
  QString connectorOf(uint32_t displayId) const override;

 private:
  PortalRemoteDesktop& portal_;
};

}  // namespace lunor
