// SPDX-License-Identifier: GPL-3.0-or-later
// The published fields of Session: each setter runs on the main thread
// and emits its signal only when the value really changes.

#include "session/published.h"
#include "session/session.h"

namespace lunor {

void Session::setStatusNow(Status status, const QString& detail) {
  LUNOR_REQUIRE_THREAD(this);
  if (status_ == status && statusDetail_ == detail) return;
  status_ = status;
  statusDetail_ = detail;
  Q_EMIT statusChanged();
}

void Session::setRunning(bool running) {
  LUNOR_REQUIRE_THREAD(this);
  publish(running_, running, [this] { Q_EMIT runningChanged(); });
}

void Session::setEndCause(EndCause cause) {
  LUNOR_REQUIRE_THREAD(this);
  publish(endCause_, cause, [this] { Q_EMIT endCauseChanged(); });
}

void Session::setConnectionState(LinkState state) {
  LUNOR_REQUIRE_THREAD(this);
  publish(linkState_, state, [this] { Q_EMIT connectionStateChanged(); });
}

void Session::setRequesterName(const QString& name) {
  LUNOR_REQUIRE_THREAD(this);
  publishOptional(requesterName_, name, [this] { Q_EMIT requesterNameChanged(); });
}

void Session::setRequesterAvatar(const QImage& avatar) {
  LUNOR_REQUIRE_THREAD(this);
  publish(requesterAvatar_, avatar, [this] { Q_EMIT requesterAvatarChanged(); });
}

void Session::setStartedAt(const QDateTime& time) {
  LUNOR_REQUIRE_THREAD(this);
  publish(startedAt_, time, [this] { Q_EMIT startedAtChanged(); });
}

void Session::setEndReason(const QString& reason) {
  LUNOR_REQUIRE_THREAD(this);
  publishOptional(endReason_, reason, [this] { Q_EMIT endReasonChanged(); });
}

void Session::setLastStartedAt(const QDateTime& time) {
  LUNOR_REQUIRE_THREAD(this);
  publish(lastStartedAt_, time, [this] { Q_EMIT lastStartedAtChanged(); });
}

void Session::setCurrentQuality(QualityProfile profile) {
  LUNOR_REQUIRE_THREAD(this);
  publish(currentQuality_, profile, [this] { Q_EMIT currentQualityChanged(); });
}

void Session::setAvailableDisplays(const QVariantList& displays) {
  LUNOR_REQUIRE_THREAD(this);
  publish(availableDisplays_, displays, [this] { Q_EMIT availableDisplaysChanged(); });
}

void Session::setCurrentDisplayIndex(int index) {
  LUNOR_REQUIRE_THREAD(this);
  publish(currentDisplayIndex_, index, [this] { Q_EMIT currentDisplayIndexChanged(); });
}

}  // namespace lunor
