// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QObject>
#include <QString>

namespace lunor {

class PermissionChecks;

// Whether hosting may capture the screen and post input, as the main window
// shows it. Each status starts "unknown" and changes on the main thread.
class PermissionManager final : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString accessibility READ accessibility NOTIFY changed)
  Q_PROPERTY(QString screenRecording READ screenRecording NOTIFY changed)
  Q_PROPERTY(QString microphone READ microphone NOTIFY changed)
  Q_PROPERTY(bool allGranted READ allGranted NOTIFY changed)
  // Why accessibility is denied, when the platform says; empty otherwise.
  Q_PROPERTY(QString accessibilityProblem READ accessibilityProblem NOTIFY changed)

 public:
  enum class Status { Granted, Denied, Unknown };
  static QString toString(Status status);

  // checks is borrowed and must outlive the manager.
  explicit PermissionManager(PermissionChecks& checks, QObject* parent = nullptr);

  QString accessibility() const { return toString(accessibility_); }
  QString screenRecording() const { return toString(screenRecording_); }
  QString microphone() const { return toString(microphone_); }
  QString accessibilityProblem() const { return accessibilityProblem_; }
  Status accessibilityStatus() const { return accessibility_; }
  Status screenRecordingStatus() const { return screenRecording_; }
  bool allGranted() const {
    return accessibility_ == Status::Granted && screenRecording_ == Status::Granted;
  }

  Q_INVOKABLE void checkAccessibility(bool prompt);
  Q_INVOKABLE void checkScreenRecording();
  Q_INVOKABLE void checkMicrophone();
  Q_INVOKABLE void refreshAll();
  void requestScreenRecording(std::function<void()> completion);
  Q_INVOKABLE void requestScreenRecording() { requestScreenRecording({}); }
  // Opens a settings page; does nothing when the link does not parse or the
  // platform has no such page.
  Q_INVOKABLE void openSystemSettings(const QString& url);

 Q_SIGNALS:
  void changed();

 private:
  void set(Status& field, Status value);

  PermissionChecks& checks_;
  Status accessibility_ = Status::Unknown;
  Status screenRecording_ = Status::Unknown;
  Status microphone_ = Status::Unknown;
  QString accessibilityProblem_;
};

}  // namespace lunor
