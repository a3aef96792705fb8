// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/permission_manager.h"

#include <QTimer>
#include <QUrl>

#include "system/permission_checks.h"

namespace lunor {

QString PermissionManager::toString(Status status) {
  switch (status) {
    case Status::Granted: return QStringLiteral("granted");
    case Status::Denied: return QStringLiteral("denied");
    case Status::Unknown: break;
  }
  return QStringLiteral("unknown");
}

PermissionManager::PermissionManager(PermissionChecks& checks, QObject* parent)
    : QObject(parent), checks_(checks) {}

void PermissionManager::set(Status& field, Status value) {
  if (field == value) return;
  field = value;
  Q_EMIT changed();
}

void PermissionManager::checkAccessibility(bool prompt) {
  const Status status = checks_.accessibilityTrusted(prompt) ? Status::Granted : Status::Denied;
  const QString problem = status == Status::Denied ? checks_.accessibilityProblem() : QString();
  QTimer::singleShot(0, this, [this, status, problem] {
    if (accessibilityProblem_ != problem) {
      accessibilityProblem_ = problem;
      if (accessibility_ == status) Q_EMIT changed();
    }
    set(accessibility_, status);
  });
}

void PermissionManager::checkScreenRecording() {
  const Status status = checks_.screenCaptureAllowed() ? Status::Granted : Status::Denied;
  QTimer::singleShot(0, this, [this, status] { set(screenRecording_, status); });
}

void PermissionManager::checkMicrophone() {
  switch (checks_.microphone()) {
    case MicrophoneAuthorization::Authorized: set(microphone_, Status::Granted); break;
    case MicrophoneAuthorization::Denied:
    case MicrophoneAuthorization::Restricted: set(microphone_, Status::Denied); break;
    case MicrophoneAuthorization::NotDetermined: set(microphone_, Status::Unknown); break;
  }
}

void PermissionManager::refreshAll() {
  checkAccessibility(false);
  checkScreenRecording();
  checkMicrophone();
}

void PermissionManager::requestScreenRecording(std::function<void()> completion) {
  checks_.requestScreenCapture();
  QTimer::singleShot(100, this, [this, completion = std::move(completion)] {
    checkScreenRecording();
    if (completion) completion();
  });
}

void PermissionManager::openSystemSettings(const QString& url) {
  // X11 has no settings page for either permission; the links are macOS ones.
  const QUrl link(url, QUrl::StrictMode);
  Q_UNUSED(link);
}

}  // namespace lunor
