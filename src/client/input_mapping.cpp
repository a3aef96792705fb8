// SPDX-License-Identifier: GPL-3.0-or-later
#include "client/input_mapping.h"

#include <algorithm>
#include <cmath>

#include "protocol/key_codes.h"

namespace lunor {

QPointF normalisedPosition(QPointF p, const QRectF& displayedRect, const QRectF& bounds) {
  const QRectF r = displayedRect.width() > 0 ? displayedRect : bounds;
  if (!(r.width() > 0) || !(r.height() > 0)) return {0, 0};
  auto clamp = [](double v, double low, double high) {
    if (std::isnan(v)) return low;
    return std::max(low, std::min(v, high));
  };
  const double cx = clamp(p.x(), r.left(), r.left() + r.width());
  const double cy = clamp(p.y(), r.top(), r.top() + r.height());
  return {(cx - r.left()) / r.width(), 1.0 - (cy - r.top()) / r.height()};
}

std::vector<ControlMessage> modifierChanges(uint32_t before, uint32_t after) {
  using namespace modifier_flags;
  const uint32_t changed = before ^ after;
  std::vector<ControlMessage> messages;
  for (const auto& [flag, modifier] : {std::pair{kCmd, Modifier::Cmd}, std::pair{kShift, Modifier::Shift},
                                       std::pair{kAlt, Modifier::Alt}, std::pair{kCtrl, Modifier::Ctrl}}) {
    if (!(changed & flag)) continue;
    ControlMessage message;
    message.type = ControlMessage::Type::Modifier;
    message.modifier = modifier;
    message.down = (after & flag) != 0;
    messages.push_back(message);
  }
  return messages;
}

int ClickCounter::press(int button, QPointF position, qint64 timestampMs) {
  const bool again = button == button_ && timestampMs - timestampMs_ <= intervalMs_ &&
                     timestampMs >= timestampMs_ &&
                     std::abs(position.x() - position_.x()) <= distance_ &&
                     std::abs(position.y() - position_.y()) <= distance_;
  count_ = again ? count_ + 1 : 1;
  button_ = button;
  position_ = position;
  timestampMs_ = timestampMs;
  return count_;
}

QPointF wheelPixels(QPoint angleDelta, QPoint pixelDelta) {
  constexpr double kPixelsPerNotch = 40.0;
  constexpr double kAnglePerNotch = 120.0;
  if (!pixelDelta.isNull()) return {double(pixelDelta.x()), -double(pixelDelta.y())};
  return {angleDelta.x() * kPixelsPerNotch / kAnglePerNotch, -angleDelta.y() * kPixelsPerNotch / kAnglePerNotch};
}

}  // namespace lunor
