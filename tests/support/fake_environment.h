// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every platform service swapped at once: fake WebRTC, recording injector,
// panels, book, notifications, throw-away settings, the test's endpoint.

#include <atomic>
#include <memory>

#include <QSettings>
#include <QTemporaryDir>

#include "features/session_features.h"
#include "host/display_list.h"
#include "host/host_environment.h"
#include "host/fake_control_injector.h"
#include "rtc/fake_rtc.h"
#include "stepped_clock.h"
#include "host/synthetic_screen_capturer.h"
#include "session/session_environment.h"
#include "store/fake_address_book.h"
#include "store/fake_secret_store.h"
#include "store/user_profile_store.h"
#include "system/event_sound.h"
#include "system/fake_clipboard.h"
#include "system/fake_notification_manager.h"
#include "session/fake_session_panels.h"

namespace lunor::test {

class FakeEnvironment final : public SessionEnvironment, public HostEnvironment {
 public:
  FakeEnvironment()
      : settings_(dir_.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat),
        profile_(settings_, dir_.filePath(QStringLiteral("data"))) {}

  std::unique_ptr<rtc::PeerConnectionFactory> createRtcFactory() override {
    if (makeRtcFactory) return makeRtcFactory();
    auto factory = std::make_unique<rtc::FakePeerConnectionFactory>();
    // A certificate of its own, as the library's factories have.
    static std::atomic<int> made{0};
    factory->fingerprint = QStringLiteral("sha-256 FA:CE:%1").arg(++made, 4, 16, QLatin1Char('0')).toUpper()
                               .replace(QLatin1String("SHA"), QLatin1String("sha")).toStdString();
    factories.push_back(factory.get());
    return factory;
  }
  std::unique_ptr<ConnectionFeatures> createFeatures(Negotiation& negotiation, std::function<void(const QString&)> log,
                                                     std::function<QString()> requester) override {
    return std::make_unique<SessionFeatures>(negotiation, *this, std::move(log), std::move(requester));
  }
  std::unique_ptr<ControlInjector> createControlInjector() override {
    auto injector = std::make_unique<FakeControlInjector>();
    injectors.push_back(injector.get());
    return injector;
  }
  std::unique_ptr<ScreenCapturer> createScreenCapturer(
      std::shared_ptr<rtc::VideoSource> source) override {
    auto capturer = std::make_unique<SyntheticScreenCapturer>(std::move(source), displayList.displays(), frameHook);
    capturers.push_back(capturer.get());
    return capturer;
  }
  DisplayList& displays() override { return displayList; }
  bool mayControlComputer() override { return mayControl.load(); }
  QString captureNeedsPerson() override { return needsPerson; }
  SessionPanels& panels() override { return panelsFake; }
  AddressBook& addressBook() override { return addressBookFake; }
  NotificationManager& notifications() override {
    return notificationsOverride ? *notificationsOverride : notificationsFake;
  }
  EventSound& sounds() override { return soundsFake; }
  QSettings& settings() override { return settings_; }
  UserProfileStore& profileStore() override { return profile_; }
  SecretStore& secretStore() override { return secrets; }
  Clipboard& clipboard() override { return clipboardFake; }
  SignalingEndpoint signalingEndpoint() override { return endpoint; }
  Clock& clock() override { return clockFake; }
  rtc::Configuration peerConfiguration() override { return peerConfig; }

  SignalingEndpoint endpoint;
  // Runs on real time; a test moves it forward past the waits it would sit out.
  SteppedClock clockFake;
  rtc::Configuration peerConfig;  // no ICE servers: host candidates only
  // When set, sessions get this factory instead of the scripted one.
  std::function<std::unique_ptr<rtc::PeerConnectionFactory>()> makeRtcFactory;
  // Two displays side by side: 2560x1440 (main) and 1920x1080 to its right.
  //   (0,0) +-----------+ (2560,0) +---------+
  //         |  1        |          |  2      |
  //         |           |          +---------+ (1080)
  //         +-----------+ (1440)
  StaticDisplayList displayList{{{1, 2560, 1440, QRect(0, 0, 2560, 1440)},
                                 {2, 1920, 1080, QRect(2560, 0, 1920, 1080)}}};
  SyntheticScreenCapturer::FrameHook frameHook;
  std::atomic<bool> mayControl{true};
  QString needsPerson;  // what captureNeedsPerson() says
  std::vector<SyntheticScreenCapturer*> capturers;
  // Borrowed views of what the sessions own; valid while the session lives.
  std::vector<rtc::FakePeerConnectionFactory*> factories;
  std::vector<FakeControlInjector*> injectors;
  FakeSessionPanels panelsFake;
  FakeAddressBook addressBookFake;
  FakeNotificationManager notificationsFake;
  FakeEventSound soundsFake;
  NotificationManager* notificationsOverride = nullptr;  // borrowed when set
  FakeSecretStore secrets;
  FakeClipboard clipboardFake;

 private:
  QTemporaryDir dir_;
  QSettings settings_;
  UserProfileStore profile_;
};

}  // namespace lunor::test
