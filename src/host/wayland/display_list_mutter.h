// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// GNOME's monitors, as Mutter's display configuration has them
// (org.gnome.Mutter.DisplayConfig): each monitor's connector, its pixel
// size in the current mode, and its place in the desktop's layout (logical
// or physical, with its scale). Read at start and again whenever Mutter
// says the monitors changed; displays() answers from that copy.

#include <mutex>
#include <vector>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include "host/wayland/wayland_display_list.h"

namespace lunor {

// One monitor of Mutter's state, before it becomes a display.
struct MutterMonitor {
  QString connector;
  int width = 0;   // pixels of the current mode
  int height = 0;
  int x = 0;       // the logical monitor's place in the layout
  int y = 0;
  double scale = 1.0;
  bool primary = false;
};

// The monitors of a GetCurrentState reply; none when it is not one.
std::vector<MutterMonitor> parseMutterState(const QDBusMessage& reply);
// The displays of those monitors: bounds in the layout's coordinates (the
// pixel size divided by the scale in the logical layout), primary first
// for the main display, identifiers stable per connector.
std::vector<DisplayDescription> mutterDisplays(const std::vector<MutterMonitor>& monitors, bool logicalLayout);

class DisplayListMutter final : public QObject, public WaylandDisplayList {
  Q_OBJECT

 public:
  explicit DisplayListMutter(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

  std::vector<DisplayDescription> displays() override;
  uint32_t mainDisplayId() override;
  // The connector of a display; empty for an unknown identifier. Any thread.
  QString connectorOf(uint32_t displayId) const override;

 private Q_SLOTS:
  void refresh();

 private:
  QDBusConnection bus_;
  mutable std::mutex mutex_;  // guards the copy below
  std::vector<DisplayDescription> displays_;
  std::vector<QString> connectors_;  // beside displays_
  uint32_t main_ = 0;
};

}  // namespace lunor
