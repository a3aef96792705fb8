// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The windowed application, wired: the engine, the platform's services with
// the panels as windows, the application state and its host session, the
// client session, the models the screens read, and the main window.
// Construct on the main thread after the QGuiApplication.

#include <memory>

#include <QObject>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QString>

#include "app/default_environment.h"
#include "app/host_backend.h"
#include "app/host_lock.h"
#include "session/app_state.h"
#include "client/client_session.h"
#include "host/host_session.h"
#include "system/linux/sleep_monitor_logind.h"
#include "system/permission_manager.h"
#include "ui/directory_model.h"
#include "ui/image_providers.h"
#include "ui/qml_session_panels.h"
#include "ui/unattended_access.h"

namespace lunor {

class Application {
 public:
  // backend: the host's platform, when the command line chooses it.
  explicit Application(std::optional<HostBackend> backend = std::nullopt);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Starts hosting and opens the main window (on the client screen joining
  // connectTo when it is not empty); false, with error(), when the window
  // cannot be made.
  bool start(const QString& connectTo = {});
  QString error() const { return error_; }

  // The person or the system is leaving: a client session ends with the
  // application's reason, a host session tells its client.
  void quitting();
  // Closing the window leaves the application running (in the status area):
  // the window goes back to the home screen as it closes.
  void keepRunningWhenClosed();
  // Shows the window again, in front.
  void open();

  QQuickWindow* window() const { return window_; }
  QQmlEngine& engine() { return engine_; }
  DefaultEnvironment& environment() { return *environment_; }
  QmlSessionPanels& panels() { return *panels_; }
  AppState& state() { return *state_; }
  ClientSession& clientSession() { return *client_; }
  HostSession& hostSession() { return *host_; }
  DirectoryModel& directory() { return *directory_; }
  // The Theme singleton's dark flag.
  void setDark(bool dark);

 private:
  // Declared first, destroyed last: the panels' windows and the screens
  // belong to it, and go before the objects they show.
  QQmlEngine engine_;
  AvatarImages avatars_;
  std::unique_ptr<DefaultEnvironment> environment_;
  QmlSessionPanels* panels_ = nullptr;  // owned by the environment
  std::unique_ptr<AppState> state_;
  HostSession* host_ = nullptr;  // the state owns it
  std::unique_ptr<ClientSession> client_;
  std::unique_ptr<PermissionManager> permissions_;
  std::unique_ptr<DirectoryModel> directory_;
  std::unique_ptr<UnattendedAccess> unattended_;
  LogindSleepMonitor sleepMonitor_;
  PhysicalHostLock physicalHostLock_;  // this session's host holds the ID, not a separate session's
  std::unique_ptr<QObject> root_;
  QQuickWindow* window_ = nullptr;
  QString error_;
};

}  // namespace lunor
