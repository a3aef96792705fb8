// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The monitors a desktop portal's session shares, as its Start answers them.

#include <cstdint>
#include <vector>

#include <QPoint>
#include <QSize>
#include <QString>
#include <QVariant>

namespace lunor {

// One monitor shared by a portal session.
struct PortalStream {
  QString key;       // the portal's stream id where it gives one, else "#" and its rank
  uint32_t node = 0;
  QPoint position;   // in the desktop's layout
  QSize size;        // in the compositor's coordinates: what pointer motion is measured in
};

// The streams of Start's results (a(ua{sv})); none when there are none.
std::vector<PortalStream> parsePortalStreams(const QVariant& streams);

}  // namespace lunor
