// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/default_environment.h"

#include "app/app_log.h"
#include "features/session_features.h"
#include "host/control_injector.h"
#include "host/display_list.h"
#include "host/x11/control_injector_x11.h"
#include "host/x11/display_list_x11.h"
#include "host/x11/screen_capturer_x11.h"
#include "host/x11/screen_resizer_x11.h"
#include "host/wayland/control_injector_wayland.h"
#include "host/wayland/display_list_mutter.h"
#include "host/wayland/display_list_portal.h"
#include "host/wayland/mutter_remote_desktop.h"
#include "host/wayland/portal_remote_desktop.h"
#include "host/wayland/screen_capturer_pipewire.h"
#include "host/wayland/virtual_monitor.h"
#include "system/clipboard.h"
#include "system/linux/notification_manager_dbus.h"
#include "system/permission_checks.h"
#include "rtc/webrtc/webrtc_factory.h"
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "store/address_book.h"
#include "store/address_book_store.h"
#include "store/file_secret_store.h"
#include "store/linux/secret_store_libsecret.h"
#include "store/secret_store.h"
#include "store/unattended_password.h"
#include "store/user_profile_store.h"
#include "system/console_log.h"
#include "system/session_bus.h"
#include "system/linux/event_sound_canberra.h"
#include "system/notification_manager.h"
#include "session/session_panels.h"

namespace lunor {

DefaultEnvironment::DefaultEnvironment(std::optional<HostBackend> requested)
    : requestedBackend_(requested),
      panels_(std::make_unique<NullSessionPanels>()),
      addressBook_(std::make_unique<AddressBookStore>(
          QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))),
      notifications_(makeNotificationManager()),
      sounds_(std::make_unique<CanberraEventSound>()) {
  const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  profile_ = std::make_unique<UserProfileStore>(settings_, dataHome);
  serviceSecrets_ = std::make_unique<LibsecretSecretStore>();
  fileSecrets_ = std::make_unique<FileSecretStore>(
      QDir(dataHome).filePath(QStringLiteral("LunorRemote/secrets.json")));
  // A separate session's host runs where nobody logged in to open a keyring:
  // it reads the copy --enable-unattended-session left in the private file.
  if (!separateSessionHost()) secrets_ = std::make_unique<FallbackSecretStore>(*serviceSecrets_, *fileSecrets_);
  // An earlier version kept a password-equivalent digest in the settings.
  removeUnattendedDigestCopy(settings_);
  // Without XTEST (or without an X server) nothing the client does can reach
  // this computer: said as soon as hosting asks, not found out by a client
  // later.
  permissions_ = std::make_unique<OpenPermissionChecks>([this] {
    if (prepareHost() != HostBackend::X11) return QString();  // the compositor injects
    const QString problem = ControlInjectorX11().problem();
    if (!problem.isEmpty()) consoleLine(lcApp(), QStringLiteral("⚠️ ") + problem);
    return problem;
  });
}

bool separateSessionHost() { return qEnvironmentVariable("LUNOR_SEPARATE_SESSION") == QLatin1String("1"); }

// The size of the monitor a separate session's compositor makes for each
// client, as its launcher says; invalid where the compositor has its own.
static QSize virtualMonitorSize() {
  const QStringList parts = qEnvironmentVariable("LUNOR_VIRTUAL_MONITOR").split(QLatin1Char('x'));
  if (parts.size() != 2) return {};
  const int width = parts[0].toInt(), height = parts[1].toInt();
  if (width < kMinScreenSide || height < kMinScreenSide || width > 16384 || height > 16384) return {};
  return {width, height};
}

std::unique_ptr<ConnectionFeatures> DefaultEnvironment::createFeatures(Negotiation& negotiation,
                                                                      std::function<void(const QString&)> log,
                                                                      std::function<QString()> requester) {
  return std::make_unique<SessionFeatures>(negotiation, *this, std::move(log), std::move(requester));
}

HostBackend DefaultEnvironment::prepareHost() {
  std::call_once(hostPrepared_, [this] {
    QString why;
    backend_ = chooseHostBackend(requestedBackend_, &why);
    if (backend_ == HostBackend::Gnome) {
      if (const QSize monitorSize = separateSessionHost() ? virtualMonitorSize() : QSize(); monitorSize.isValid()) {
        auto monitor = std::make_unique<VirtualMonitor>(monitorSize);
        virtualMonitor_ = monitor.get();
        waylandDisplays_ = monitor.get();
        displays_ = std::move(monitor);
      } else {
        auto displays = std::make_unique<DisplayListMutter>();
        waylandDisplays_ = displays.get();
        displays_ = std::move(displays);
      }
      mutter_ = std::make_unique<MutterRemoteDesktop>();
      remoteDesktop_ = mutter_.get();
    } else if (backend_ == HostBackend::Portal) {
      portal_ = std::make_unique<PortalRemoteDesktop>(secretStore(), unattendedKeychainService(),
                                                      PortalRemoteDesktop::version(QDBusConnection::sessionBus()));
      remoteDesktop_ = portal_.get();
      auto displays = std::make_unique<DisplayListPortal>(*portal_);
      waylandDisplays_ = displays.get();
      displays_ = std::move(displays);
    } else if (auto x11Displays = std::make_unique<DisplayListX11>(); x11Displays->isAvailable()) {
      displays_ = std::move(x11Displays);
    } else {
      displays_ = std::make_unique<StaticDisplayList>();  // no X server: nothing to share
    }
    consoleLine(lcApp(), QStringLiteral("ℹ️ Partage d’écran : ") + describe(backend_) + QStringLiteral(" (") + why +
                             QLatin1Char(')'));
    if (portal_ && !portal_->startsWithoutPerson()) {
      consoleLine(lcApp(), QStringLiteral("⚠️ Le portail de bureau demandera à une personne de choisir l’écran au "
                                          "premier partage : l’accès sans surveillance attend ce premier partage"));
    }
  });
  return backend_;
}

QString DefaultEnvironment::shareDescription() {
  QString text = describe(prepareHost());
  if (portal_ && !portal_->remembersChoice()) {
    text += QStringLiteral(" · le choix de l’écran sera redemandé à chaque démarrage");
  }
  return text;
}

DisplayList& DefaultEnvironment::displays() {
  prepareHost();
  return *displays_;
}

DefaultEnvironment::~DefaultEnvironment() = default;

std::unique_ptr<NotificationManager> DefaultEnvironment::makeNotificationManager() {
  auto manager = std::make_unique<DBusNotificationManager>(
      sessionBusExists() ? QDBusConnection::sessionBus() : QDBusConnection(QStringLiteral("no-session-bus")));
  manager->ensureConfigured();
  return manager;
}

std::unique_ptr<rtc::PeerConnectionFactory> DefaultEnvironment::createRtcFactory() {
  return rtc::createWebRtcFactory();
}

std::unique_ptr<ScreenResizer> DefaultEnvironment::createScreenResizer() {
  if (prepareHost() != HostBackend::X11) {
    return virtualMonitor_ ? std::make_unique<VirtualMonitorResizer>(*virtualMonitor_) : nullptr;
  }
  auto resizer = std::make_unique<ScreenResizerX11>();
  if (!resizer->isAvailable()) return nullptr;
  return resizer;
}

std::unique_ptr<ControlInjector> DefaultEnvironment::createControlInjector() {
  if (prepareHost() != HostBackend::X11) return std::make_unique<ControlInjectorWayland>(*remoteDesktop_);
  auto injector = std::make_unique<ControlInjectorX11>();
  if (injector->ready()) return injector;
  return std::make_unique<NullControlInjector>();
}

bool DefaultEnvironment::mayControlComputer() { return permissions_->accessibilityTrusted(true); }

QString DefaultEnvironment::captureNeedsPerson() {
  if (prepareHost() != HostBackend::Portal || portal_->startsWithoutPerson()) return {};
  return QStringLiteral("Le portail de bureau doit demander à une personne de choisir l’écran : accès sans "
                        "surveillance impossible tant que personne n’a autorisé le partage une fois");
}

std::unique_ptr<ScreenCapturer> DefaultEnvironment::createScreenCapturer(
    std::shared_ptr<rtc::VideoSource> source) {
  if (prepareHost() != HostBackend::X11) {
    return std::make_unique<ScreenCapturerPipeWire>(std::move(source), *remoteDesktop_, *waylandDisplays_);
  }
  return std::make_unique<ScreenCapturerX11>(std::move(source), *displays_);
}

SignalingEndpoint DefaultEnvironment::signalingEndpoint() {
  return lunor::signalingEndpoint(settings_);
}

rtc::Configuration DefaultEnvironment::peerConfiguration() {
  return lunor::peerConfiguration(settings_);
}

Clipboard& DefaultEnvironment::clipboard() {
  if (!clipboard_) clipboard_ = createClipboard();
  return *clipboard_;
}

}  // namespace lunor
