// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/application.h"

#include <QQmlComponent>
#include <QQuickStyle>

#include "app/app_log.h"
#include "store/user_profile_store.h"
#include "system/console_log.h"
#include "ui/desktop.h"

namespace lunor {

Application::Application(std::optional<HostBackend> backend) {
  QQuickStyle::setStyle(QStringLiteral("Basic"));  // our own look on top of it
  engine_.addImportPath(QStringLiteral("qrc:/qt/qml"));
  avatars_.install(engine_);
  engine_.addImageProvider(QStringLiteral("icon"), new IconProvider);

  // The launch sequence: the notification manager (made by the
  // environment), the state with its host session; hosting starts in start().
  environment_ = std::make_unique<DefaultEnvironment>(backend);
  auto panels = std::make_unique<QmlSessionPanels>(engine_, avatars_);
  panels_ = panels.get();
  environment_->setPanels(std::move(panels));
  state_ = std::make_unique<AppState>(*environment_);
  auto host = std::make_unique<HostSession>(*environment_, *environment_);
  host_ = host.get();
  state_->adoptHostSession(std::move(host));
  client_ = std::make_unique<ClientSession>(*environment_);
  permissions_ = std::make_unique<PermissionManager>(environment_->permissions());
  directory_ = std::make_unique<DirectoryModel>(environment_->addressBookStore());
  unattended_ = std::make_unique<UnattendedAccess>(environment_->secretStore(), environment_->settings());
  avatars_.follow(environment_->profileStore());
  avatars_.follow(*host_);
}

Application::~Application() {
  // The window first: its bindings read everything below.
  root_.reset();
}

bool Application::start(const QString& connectTo) {
  consoleLine(lcApp(), QStringLiteral("ℹ️ ID de session : ") + state_->sessionId());
  environment_->prepareHost();
  host_->startHost(state_->sessionId());

  QQmlComponent component(&engine_, QUrl(QStringLiteral("qrc:/qt/qml/Lunor/Ui/Main.qml")));
  if (component.isError()) {
    error_ = component.errorString();
    return false;
  }
  root_.reset(component.createWithInitialProperties(
      {{QStringLiteral("appState"), QVariant::fromValue(state_.get())},
       {QStringLiteral("permissions"), QVariant::fromValue(permissions_.get())},
       {QStringLiteral("directory"), QVariant::fromValue(directory_.get())},
       {QStringLiteral("profile"), QVariant::fromValue(&environment_->profileStore())},
       {QStringLiteral("unattended"), QVariant::fromValue(unattended_.get())},
       {QStringLiteral("clientSession"), QVariant::fromValue(client_.get())},
       {QStringLiteral("avatars"), QVariant::fromValue(&avatars_)},
       {QStringLiteral("panels"), QVariant::fromValue(panels_)},
       {QStringLiteral("sleepMonitor"), QVariant::fromValue(static_cast<QObject*>(&sleepMonitor_))},
       {QStringLiteral("connectTo"), connectTo},
       {QStringLiteral("shareBackend"), environment_->shareDescription()}}));
  window_ = qobject_cast<QQuickWindow*>(root_.get());
  if (!window_) {
    error_ = component.errorString();
    return false;
  }
  return true;
}

void Application::quitting() {
  if (window_) QMetaObject::invokeMethod(window_, "applicationQuitting");
  host_->leave(environment_->profileStore().displayName());
}

void Application::keepRunningWhenClosed() {
  if (window_) window_->setProperty("keepsRunningWhenClosed", true);
}

void Application::open() {
  if (window_) Desktop::shared().bringToFront(window_);
}

void Application::setDark(bool dark) { Desktop::shared().setDarkTheme(dark); }

}  // namespace lunor
