// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include <QSettings>

#include "system/notification_manager.h"

#include "app/host_backend.h"
#include "host/host_environment.h"
#include "session/session_environment.h"
#include "store/address_book_store.h"

namespace lunor {

// This process is the host of a separate session (lunor-remote
// --separate-session started it): it shares a desktop of its own.
bool separateSessionHost();

class NotificationManager;
class SessionPanels;
class DisplayList;
class DisplayListMutter;
class VirtualMonitor;
class MutterRemoteDesktop;
class PortalRemoteDesktop;
class RemoteDesktopSession;
class ScreenResizer;
class WaylandDisplayList;
class EventSound;
class PermissionChecks;
class SecretStore;
class UserProfileStore;

// The real services of this platform. Parts not built yet are null objects.
class DefaultEnvironment final : public SessionEnvironment, public HostEnvironment {
 public:
  // requested: the host's platform, when the command line chooses it.
  explicit DefaultEnvironment(std::optional<HostBackend> requested = std::nullopt);
  ~DefaultEnvironment() override;

  // Chooses and opens the host's platform, says which in the log, and
  // returns it. Main thread, before hosting (a client never needs it);
  // later calls return the same.
  HostBackend prepareHost();
  // How the host screen names the way this computer is shared, with what
  // the person should know of it ("Wayland (portail) · …").
  QString shareDescription();

  std::unique_ptr<rtc::PeerConnectionFactory> createRtcFactory() override;
  std::unique_ptr<ConnectionFeatures> createFeatures(Negotiation& negotiation, std::function<void(const QString&)> log,
                                                     std::function<QString()> requester) override;
  std::unique_ptr<ControlInjector> createControlInjector() override;
  std::unique_ptr<ScreenCapturer> createScreenCapturer(
      std::shared_ptr<rtc::VideoSource> source) override;
  DisplayList& displays() override;
  // The screen's size through RandR, on X; none on Wayland (a compositor's
  // virtual monitor keeps the size it was made with).
  std::unique_ptr<ScreenResizer> createScreenResizer();
  bool mayControlComputer() override;
  QString captureNeedsPerson() override;
  PermissionChecks& permissions() { return *permissions_; }
  SessionPanels& panels() override { return *panels_; }
  // The panels of a user interface that is not the default null one (the
  // terminal's, for a headless host). Before any session is made.
  void setPanels(std::unique_ptr<SessionPanels> panels) { panels_ = std::move(panels); }
  AddressBook& addressBook() override { return *addressBook_; }
  AddressBookStore& addressBookStore() { return *addressBook_; }
  NotificationManager& notifications() override { return *notifications_; }
  EventSound& sounds() override { return *sounds_; }
  // Notifications nobody can answer (a host without a desktop).
  void setNotifications(std::unique_ptr<NotificationManager> notifications) {
    notifications_ = std::move(notifications);
  }
  QSettings& settings() override { return settings_; }
  UserProfileStore& profileStore() override { return *profile_; }
  SecretStore& secretStore() override { return secrets_ ? *secrets_ : *fileSecrets_; }
  // The private file alone, whatever the keyring holds.
  SecretStore& fileSecretStore() { return *fileSecrets_; }
  Clipboard& clipboard() override;
  SignalingEndpoint signalingEndpoint() override;
  rtc::Configuration peerConfiguration() override;

 private:
  static std::unique_ptr<NotificationManager> makeNotificationManager();

  QSettings settings_;
  std::unique_ptr<SessionPanels> panels_;
  std::unique_ptr<AddressBookStore> addressBook_;
  std::unique_ptr<NotificationManager> notifications_;
  std::unique_ptr<EventSound> sounds_;
  std::unique_ptr<UserProfileStore> profile_;
  std::unique_ptr<SecretStore> serviceSecrets_;
  std::unique_ptr<SecretStore> fileSecrets_;
  std::unique_ptr<SecretStore> secrets_;  // none for a separate session's host: the file alone
  std::unique_ptr<Clipboard> clipboard_;  // made on first use, once the application exists
  std::optional<HostBackend> requestedBackend_;
  std::once_flag hostPrepared_;
  HostBackend backend_ = HostBackend::X11;
  std::unique_ptr<DisplayList> displays_;
  WaylandDisplayList* waylandDisplays_ = nullptr;  // displays_, on Wayland
  VirtualMonitor* virtualMonitor_ = nullptr;       // displays_, in a separate session on Wayland
  std::unique_ptr<MutterRemoteDesktop> mutter_;    // on GNOME
  std::unique_ptr<PortalRemoteDesktop> portal_;    // through the portal
  RemoteDesktopSession* remoteDesktop_ = nullptr;  // either, on Wayland
  std::unique_ptr<PermissionChecks> permissions_;
};

}  // namespace lunor
