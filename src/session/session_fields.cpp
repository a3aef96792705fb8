// SPDX-License-Identifier: GPL-3.0-or-later
// The published fields of Session: each setter runs on the main thread
// and emits its signal only when the value really changes.

#include "session/published.h"
#include "session/session.h"

namespace lunor {

void Session::setStatusNow(const QString& text) {
  Q_ASSERT(isMainThread());
  publish(status_, text, [this] { Q_EMIT statusChanged(); });
}

void Session::setRunning(bool running) {
  Q_ASSERT(isMainThread());
  publish(running_, running, [this] { Q_EMIT runningChanged(); });
}

void Session::setEndCause(EndCause cause) {
  Q_ASSERT(isMainThread());
  publish(endCause_, cause, [this] { Q_EMIT endCauseChanged(); });
}

void Session::setConnectionState(const QString& label) {
  Q_ASSERT(isMainThread());
  publish(connectionState_, label, [this] { Q_EMIT connectionStateChanged(); });
}

void Session::setRequesterName(const QString& name) {
  Q_ASSERT(isMainThread());
  publishOptional(requesterName_, name, [this] { Q_EMIT requesterNameChanged(); });
}

void Session::setRequesterAvatar(const QImage& avatar) {
  Q_ASSERT(isMainThread());
  publish(requesterAvatar_, avatar, [this] { Q_EMIT requesterAvatarChanged(); });
}

void Session::setStartedAt(const QDateTime& time) {
  Q_ASSERT(isMainThread());
  publish(startedAt_, time, [this] { Q_EMIT startedAtChanged(); });
}

void Session::setEndReason(const QString& reason) {
  Q_ASSERT(isMainThread());
  publishOptional(endReason_, reason, [this] { Q_EMIT endReasonChanged(); });
}

void Session::setLastStartedAt(const QDateTime& time) {
  Q_ASSERT(isMainThread());
  publish(lastStartedAt_, time, [this] { Q_EMIT lastStartedAtChanged(); });
}

void Session::setCurrentQuality(QualityProfile profile) {
  Q_ASSERT(isMainThread());
  publish(currentQuality_, profile, [this] { Q_EMIT currentQualityChanged(); });
}

void Session::setAvailableDisplays(const QVariantList& displays) {
  Q_ASSERT(isMainThread());
  publish(availableDisplays_, displays, [this] { Q_EMIT availableDisplaysChanged(); });
}

void Session::setCurrentDisplayIndex(int index) {
  Q_ASSERT(isMainThread());
  publish(currentDisplayIndex_, index, [this] { Q_EMIT currentDisplayIndexChanged(); });
}

}  // namespace lunor
