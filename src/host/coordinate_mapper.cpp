// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/coordinate_mapper.h"

#include <algorithm>
#include <cmath>

#include "host/display_list.h"
#include "host/host_log.h"
#include "system/console_log.h"

namespace lunor {
namespace {

// Doubles as the platform prints them: "720.0", "0.25".
QString plain(double value) {
  if (std::isfinite(value) && value == std::floor(value) && std::abs(value) < 1e15) {
    return QString::number(value, 'f', 1);
  }
  return QString::number(value, 'g', 15);
}

double clampUnit(double value) {
  if (std::isnan(value)) return 1.0;
  return std::max(0.0, std::min(value, 1.0));
}

}  // namespace

namespace {

QRect boundsOf(DisplayList& displays, uint32_t displayId) {
  for (const auto& display : displays.displays()) {
    if (display.id == displayId) return display.bounds;
  }
  return {};
}

}  // namespace

QPointF CoordinateMapper::hostPoint(uint32_t displayId, double x, double y) const {
  return map(displayId, QRectF(boundsOf(displays_, displayId)), x, y);
}

QPoint CoordinateMapper::hostPixel(uint32_t displayId, double x, double y) const {
  const QRect bounds = boundsOf(displays_, displayId);
  const QPointF p = map(displayId, QRectF(bounds), x, y);
  const int px = static_cast<int>(std::floor(p.x()));
  const int py = static_cast<int>(std::floor(p.y()));
  return {std::clamp(px, bounds.left(), std::max(bounds.left(), bounds.right())),
          std::clamp(py, bounds.top(), std::max(bounds.top(), bounds.bottom()))};
}

QPoint CoordinateMapper::displayPixel(uint32_t displayId, double x, double y) const {
  QSize size;
  for (const auto& display : displays_.displays()) {
    if (display.id == displayId) size = QSize(display.width, display.height);
  }
  const QPointF p = map(displayId, QRectF(0, 0, size.width(), size.height()), x, y);
  return {std::clamp(static_cast<int>(std::floor(p.x())), 0, std::max(0, size.width() - 1)),
          std::clamp(static_cast<int>(std::floor(p.y())), 0, std::max(0, size.height() - 1))};
}

QPointF CoordinateMapper::map(uint32_t displayId, const QRectF& bounds, double x, double y) {
  const double nx = clampUnit(x);
  const double ny = clampUnit(y);
  const QPointF result(bounds.x() + nx * bounds.width(), bounds.y() + ny * bounds.height());
  if (lcHost().isDebugEnabled()) {
    consoleLine(lcHost(), QStringLiteral("🟢 [CoordMapper] NORMALIZED → HOST"));
    consoleLine(lcHost(), QStringLiteral("   displayID=%1").arg(displayId));
    consoleLine(lcHost(), QStringLiteral("   bounds=(%1, %2, %3, %4)")
                              .arg(plain(bounds.x()), plain(bounds.y()), plain(bounds.width()),
                                   plain(bounds.height())));
    consoleLine(lcHost(), QString::asprintf("   normalized=(%.4f, %.4f)", nx, ny));
    consoleLine(lcHost(),
                QString::asprintf("   → x = %.2f + %.4f × %.2f = %.2f", bounds.x(), nx, bounds.width(), result.x()));
    consoleLine(lcHost(),
                QString::asprintf("   → y = %.2f + %.4f × %.2f = %.2f", bounds.y(), ny, bounds.height(), result.y()));
    consoleLine(lcHost(), QStringLiteral("   → point=(%1, %2)").arg(plain(result.x()), plain(result.y())));
  }
  return result;
}

}  // namespace lunor
