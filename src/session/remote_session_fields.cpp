// SPDX-License-Identifier: GPL-3.0-or-later
// The published fields of RemoteSession: each setter runs on the main thread
// and emits its signal only when the value really changes.

#include "session/remote_session.h"

namespace lunor {
namespace {

template <typename T, typename Emit>
void publish(T& field, const T& value, Emit emitChanged) {
  if (field == value) return;
  field = value;
  emitChanged();
}

// Absent (null) and empty are different values for these strings.
template <typename Emit>
void publishOptional(QString& field, const QString& value, Emit emitChanged) {
  if (field == value && field.isNull() == value.isNull()) return;
  field = value;
  emitChanged();
}

}  // namespace

void RemoteSession::setStatusNow(const QString& text) {
  Q_ASSERT(isMainThread());
  publish(status_, text, [this] { Q_EMIT statusChanged(); });
}

void RemoteSession::setRunning(bool running) {
  Q_ASSERT(isMainThread());
  publish(running_, running, [this] { Q_EMIT runningChanged(); });
}

void RemoteSession::setEndCause(EndCause cause) {
  Q_ASSERT(isMainThread());
  publish(endCause_, cause, [this] { Q_EMIT endCauseChanged(); });
}

void RemoteSession::setConnectionState(const QString& label) {
  Q_ASSERT(isMainThread());
  publish(connectionState_, label, [this] { Q_EMIT connectionStateChanged(); });
}

void RemoteSession::setPendingJoin(bool value) {
  Q_ASSERT(isMainThread());
  publish(pendingJoin_, value, [this] { Q_EMIT pendingJoinChanged(); });
}

void RemoteSession::setRequesterName(const QString& name) {
  Q_ASSERT(isMainThread());
  publishOptional(requesterName_, name, [this] { Q_EMIT requesterNameChanged(); });
}

void RemoteSession::setRequesterAvatar(const QImage& avatar) {
  Q_ASSERT(isMainThread());
  publish(requesterAvatar_, avatar, [this] { Q_EMIT requesterAvatarChanged(); });
}

void RemoteSession::setApproved(bool value) {
  Q_ASSERT(isMainThread());
  publish(approved_, value, [this] { Q_EMIT approvedChanged(); });
}

void RemoteSession::setIsWaitingApproval(bool value) {
  Q_ASSERT(isMainThread());
  publish(isWaitingApproval_, value, [this] { Q_EMIT isWaitingApprovalChanged(); });
}

void RemoteSession::setStartedAt(const QDateTime& time) {
  Q_ASSERT(isMainThread());
  publish(startedAt_, time, [this] { Q_EMIT startedAtChanged(); });
}

void RemoteSession::setEndReason(const QString& reason) {
  Q_ASSERT(isMainThread());
  publishOptional(endReason_, reason, [this] { Q_EMIT endReasonChanged(); });
}

void RemoteSession::setLastStartedAt(const QDateTime& time) {
  Q_ASSERT(isMainThread());
  publish(lastStartedAt_, time, [this] { Q_EMIT lastStartedAtChanged(); });
}

void RemoteSession::setUnattendedLocked(bool value) {
  Q_ASSERT(isMainThread());
  publish(unattendedLocked_, value, [this] { Q_EMIT unattendedLockedChanged(); });
}

void RemoteSession::setAskUnattendedPassword(bool value) {
  Q_ASSERT(isMainThread());
  publish(askUnattendedPassword_, value, [this] { Q_EMIT askUnattendedPasswordChanged(); });
}

void RemoteSession::setPasswordNotice(const QString& notice, const QDateTime& retryAt) {
  Q_ASSERT(isMainThread());
  if (passwordNotice_ == notice && passwordRetryAt_ == retryAt) return;
  passwordNotice_ = notice;
  passwordRetryAt_ = retryAt;
  Q_EMIT passwordNoticeChanged();
}

void RemoteSession::setLocalVideoTrack(std::shared_ptr<rtc::VideoTrack> track) {
  Q_ASSERT(isMainThread());
  publish(localVideoTrack_, track, [this] { Q_EMIT localVideoTrackChanged(); });
}

void RemoteSession::setRemoteVideoTrack(std::shared_ptr<rtc::VideoTrack> track) {
  Q_ASSERT(isMainThread());
  publish(remoteVideoTrack_, track, [this] { Q_EMIT remoteVideoTrackChanged(); });
}

void RemoteSession::setCurrentQuality(QualityProfile profile) {
  Q_ASSERT(isMainThread());
  publish(currentQuality_, profile, [this] { Q_EMIT currentQualityChanged(); });
}

void RemoteSession::setAvailableDisplays(const QVariantList& displays) {
  Q_ASSERT(isMainThread());
  publish(availableDisplays_, displays, [this] { Q_EMIT availableDisplaysChanged(); });
}

void RemoteSession::setCurrentDisplayIndex(int index) {
  Q_ASSERT(isMainThread());
  publish(currentDisplayIndex_, index, [this] { Q_EMIT currentDisplayIndexChanged(); });
}

void RemoteSession::setLink(const QString& summary, bool limited) {
  if (summary == linkSummary_ && limited == linkLimited_) return;
  linkSummary_ = summary;
  linkLimited_ = limited;
  Q_EMIT linkChanged();
}

void RemoteSession::setRemoteVideoSize(const QSize& size) {
  Q_ASSERT(isMainThread());
  publish(remoteVideoSize_, size, [this] { Q_EMIT remoteVideoSizeChanged(); });
}

void RemoteSession::setDisplayedVideoRect(const QRectF& rect) {
  Q_ASSERT(isMainThread());
  publish(displayedVideoRect_, rect, [this] { Q_EMIT displayedVideoRectChanged(); });
}

}  // namespace lunor
