// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

#include <unistd.h>

#include <QFile>
#include <QApplication>
#include <QSettings>
#include <QLocale>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include "app/app_log.h"
#include "app/application.h"
#include "app/command_line.h"
#include "app/default_environment.h"
#include "app/headless_client.h"
#include "app/host_lock.h"
#include "app/separate_session.h"
#include "app/unattended_session.h"
#include "app/password_setup.h"
#include "app/x_display.h"
#include "app/refusing_panels.h"
#include "app/scene_backend.h"
#include "app/terminal_panels.h"
#include "session/app_state.h"
#include "session/signaling_client.h"
#include "client/client_session.h"
#include "client/session_words.h"
#include "host/host_session.h"
#include "store/user_profile_store.h"
#include "system/console_log.h"
#include "system/linux/status_area_tray.h"
#include "system/notification_manager.h"
#include "system/unix_signals.h"
#include "ui/translation.h"

Q_IMPORT_QML_PLUGIN(Lunor_ClientPlugin)
Q_IMPORT_QML_PLUGIN(Lunor_UiPlugin)

namespace {

using lunor::LaunchOptions;

// Headless, the X clipboard is worth Qt's GUI side (no window is ever
// shown): when Qt would take X and the server named by DISPLAY answers (Qt
// gives up the process on one that does not).
bool headlessWithX() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (!platform.isEmpty() && platform != "xcb") return false;
  if (qEnvironmentVariableIsEmpty("DISPLAY")) return false;
  return lunor::xServerAnswers();
}

// A session's last messages ("end") are sent asynchronously, and its socket
// stays open a moment after them so that the server reads them: the event
// loop runs that long, and a little more, before the process goes.
constexpr int kFarewellMs = lunor::SignalingClient::kLingerMs + 200;

void exitSoon(QCoreApplication& app, int code) {
  QTimer::singleShot(kFarewellMs, &app, [&app, code] { app.exit(code); });
}

// Runs `closed` when the window it watches is closed (the window's own
// handlers still run after it).
class CloseWatcher final : public QObject {
 public:
  explicit CloseWatcher(std::function<void()> closed) : closed_(std::move(closed)) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Close && closed_) closed_();
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> closed_;
};

// The windowed application (with --connect, straight to the client screen
// joining that host).
int runApplication(QApplication& app, const LaunchOptions& options) {
  lunor::Application application(options.hostBackend);
  lunor::ClientSession& client = application.clientSession();
  if (!options.passwordFile.isEmpty()) {
    QFile file(options.passwordFile);
    if (!file.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "lunor-remote: cannot read %s\n", qPrintable(options.passwordFile));
      return lunor::exit_code::kFailure;
    }
    // Given once, at the host's first question; a refusal asks the person.
    const QString password = QString::fromUtf8(file.readLine()).trimmed();
    auto given = std::make_shared<bool>(false);
    QObject::connect(&client, &lunor::ClientSession::askUnattendedPasswordChanged, &client,
                     [&client, password, given] {
                       if (!client.askUnattendedPassword() || *given) return;
                       *given = true;
                       client.submitUnattendedPassword(password);
                     });
  }
  if (!application.start(options.roomId)) {
    std::fprintf(stderr, "lunor-remote: %s\n", qPrintable(application.error()));
    return lunor::exit_code::kFailure;
  }
  auto quit = [&] {
    application.quitting();
    exitSoon(app, lunor::exit_code::kOk);
  };
  // With a status area the application stays there when its window closes,
  // and this computer stays reachable; "Ouvrir" brings the window back.
  // Without one, closing the window leaves the application. The window's
  // own handler ends a client session with its reason first.
  lunor::StatusAreaTray statusArea;
  const bool staysInStatusArea = statusArea.available();
  if (staysInStatusArea) {
    statusArea.show([&] { application.open(); }, quit);
    application.keepRunningWhenClosed();
  }
  app.setQuitOnLastWindowClosed(false);
  CloseWatcher closeWatcher([&] {
    // The status area may have gone since (its panel restarted, say).
    if (staysInStatusArea && statusArea.available()) {
      lunor::consoleLine(lunor::lcApp(), QStringLiteral("ℹ️ Fenêtre fermée : Lunor Remote reste joignable depuis "
                                                        "la zone de notification"));
      return;
    }
    application.hostSession().leave(application.environment().profileStore().displayName());
    exitSoon(app, lunor::exit_code::kOk);
  });
  application.window()->installEventFilter(&closeWatcher);
  lunor::onTerminationSignals(app, quit);
  return app.exec();
}

int runHeadlessClient(QCoreApplication& app, const LaunchOptions& options) {
  lunor::DefaultEnvironment environment;
  lunor::HeadlessClient client(environment, options);
  QObject::connect(&client, &lunor::HeadlessClient::finished, &app, [&app](int code) { exitSoon(app, code); });
  lunor::onTerminationSignals(app, [&client] { client.stop(); });
  client.start();
  return app.exec();
}

int runHeadlessHost(QCoreApplication& app, const LaunchOptions& options) {
  lunor::DefaultEnvironment environment(options.hostBackend);
  environment.prepareHost();
  // A person at a terminal answers join requests there. Without one nobody
  // can: requests are refused at once, and only unattended access admits
  // (always so for a separate session, whoever started it).
  if (isatty(STDIN_FILENO) && !lunor::separateSessionHost()) {
    environment.setPanels(std::make_unique<lunor::TerminalPanels>());
  } else {
    environment.setPanels(std::make_unique<lunor::RefusingPanels>());
    environment.setNotifications(std::make_unique<lunor::NullNotificationManager>());
  }
  lunor::AppState state(environment);
  auto owned = std::make_unique<lunor::HostSession>(environment, environment);
  lunor::HostSession& host = *owned;
  state.adoptHostSession(std::move(owned));
  // The host of a separate session says so, and leaves the ID to a host in
  // a session the owner opened here; any other holds the ID against it.
  const bool separate = lunor::separateSessionHost();
  std::optional<lunor::PhysicalHostLock> physicalLock;
  QTimer idle;
  if (separate) {
    host.setSeparateSession(true);
    host.setRoomYield(lunor::physicalHostHoldsId);
    host.setScreenResizer(environment.createScreenResizer());
    // Nobody connected for the set time: the launcher starts a fresh session.
    const int idleMinutes = qEnvironmentVariableIntValue("LUNOR_SEPARATE_SESSION_IDLE_MINUTES");
    if (idleMinutes > 0) {
      idle.setSingleShot(true);
      idle.setInterval(std::chrono::minutes(idleMinutes));
      QObject::connect(&idle, &QTimer::timeout, &host, [&app, &host, idleMinutes] {
        lunor::consoleLine(lunor::lcApp(), QStringLiteral("ℹ️ Aucun client depuis %1 min").arg(idleMinutes));
        host.leave(QString());
        exitSoon(app, lunor::exit_code::kSessionIdle);
      });
      auto follow = [&idle, &host] {
        const bool connected = host.linkState() != lunor::LinkState::Waiting &&
                               host.linkState() != lunor::LinkState::Disconnected;
        if (connected) idle.stop();
        else if (!idle.isActive()) idle.start();
      };
      QObject::connect(&host, &lunor::HostSession::connectionStateChanged, &host, follow);
      idle.start();
    }
  } else {
    physicalLock.emplace();
  }
  QObject::connect(&host, &lunor::HostSession::statusChanged, &host,
                   [&host] { lunor::consoleLine(lunor::lcApp(), QStringLiteral("ℹ️ Statut : ") + lunor::statusText(host.status(), host.statusDetail())); });
  lunor::consoleLine(lunor::lcApp(), QStringLiteral("ℹ️ ID de session : ") + state.sessionId());
  // For measuring tools: the sender's counters once a second, while a client is connected.
  QTimer senderStats;
  if (qEnvironmentVariableIsSet("LUNOR_SENDER_STATS")) {
    QObject::connect(&senderStats, &QTimer::timeout, &host, [&host] {
      host.collectStats([](const lunor::rtc::ConnectionStats& stats) {
        if (!stats.send) return;
        const auto& s = *stats.send;
        lunor::consoleLine(lunor::lcApp(),
                           QStringLiteral("📊 sender encoded=%1 sent=%2 encodeTotal=%3 sendDelayTotal=%4 "
                                          "packets=%5 bytes=%6 size=%7x%8 qpSum=%9 encoder=%10 limit=%11 nacks=%12 "
                                          "retransmitted=%13")
                               .arg(s.framesEncoded)
                               .arg(s.framesSent)
                               .arg(s.totalEncodeTime, 0, 'f', 4)
                               .arg(s.totalPacketSendDelay, 0, 'f', 4)
                               .arg(s.packetsSent)
                               .arg(s.bytesSent)
                               .arg(s.frameWidth)
                               .arg(s.frameHeight)
                               .arg(s.qpSum)
                               .arg(QString::fromStdString(s.encoder).remove(QLatin1Char(' ')),
                                    QString::fromStdString(s.qualityLimitation))
                               .arg(s.nackCount)
                               .arg(s.retransmittedPackets));
      });
    });
    senderStats.start(1000);
  }
  lunor::onTerminationSignals(app, [&] {
    // A client in session hears that the host ended it.
    host.leave(environment.profileStore().displayName());
    exitSoon(app, lunor::exit_code::kOk);
  });
  // Whether this computer can be driven at all, said in the log from the start.
  environment.mayControlComputer();
  host.startHost(state.sessionId());
  return app.exec();
}

// The separate session's launcher: display, desktop and host, until stopped.
int runSeparateSession(QCoreApplication& app) {
  QSettings settings;
  lunor::SeparateSession session(lunor::SeparateSessionSettings::read(settings),
                                 {QCoreApplication::applicationFilePath(), QStringLiteral("--headless-host")});
  if (!session.start()) {
    std::fprintf(stderr, "lunor-remote: %s\n", qPrintable(session.error()));
    return lunor::exit_code::kFailure;
  }
  lunor::onTerminationSignals(app, [&] {
    session.stop();
    app.exit(lunor::exit_code::kOk);
  });
  return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  lunor::failWritesPastFileSizeLimit();
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const auto parsed = lunor::parseCommandLine(arguments);
  if (const int* code = std::get_if<int>(&parsed)) return *code;
  const LaunchOptions& options = std::get<LaunchOptions>(parsed);

  // A window needs the GUI application; everything else runs without a display.
  std::unique_ptr<QCoreApplication> app;
  if (options.mode == LaunchOptions::Mode::Connect || options.mode == LaunchOptions::Mode::Default) {
    app = std::make_unique<QApplication>(argc, argv);  // the status area's icon needs widgets
  } else if ((options.mode == LaunchOptions::Mode::HeadlessHost || options.mode == LaunchOptions::Mode::HeadlessClient) &&
             headlessWithX()) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    app = std::make_unique<QGuiApplication>(argc, argv);
  } else {
    app = std::make_unique<QCoreApplication>(argc, argv);
  }
  QCoreApplication::setOrganizationName(QStringLiteral("LunorRemote"));
  QCoreApplication::setApplicationName(QStringLiteral("LunorRemote"));
  QCoreApplication::setApplicationVersion(QStringLiteral(LUNOR_VERSION));
  // The desktop entry the windows belong to.
  if (auto* gui = qobject_cast<QGuiApplication*>(app.get())) gui->setDesktopFileName(QStringLiteral("lunor-remote"));
  // The screens in the person's language (French, their own, otherwise),
  // before any of them is made.
  lunor::installTranslation(*app, QLocale::system().uiLanguages());

  switch (options.mode) {
    case LaunchOptions::Mode::Connect:
    case LaunchOptions::Mode::Default:
      if (const QString renderer = lunor::drawScenesInSoftwareOnSoftwareOpenGl(); !renderer.isEmpty()) {
        lunor::consoleLine(lunor::lcApp(), QStringLiteral("ℹ️ OpenGL en logiciel (%1): fenêtres dessinées par Qt Quick en logiciel").arg(renderer));
      }
      return runApplication(static_cast<QApplication&>(*app), options);
    case LaunchOptions::Mode::HeadlessClient:
      return runHeadlessClient(*app, options);
    case LaunchOptions::Mode::SetUnattendedPassword: {
      lunor::DefaultEnvironment environment;
      return lunor::setUnattendedPassword(environment);
    }
    case LaunchOptions::Mode::ClearUnattendedPassword: {
      lunor::DefaultEnvironment environment;
      return lunor::clearUnattendedPassword(environment);
    }
    case LaunchOptions::Mode::HeadlessHost:
      return runHeadlessHost(*app, options);
    case LaunchOptions::Mode::SeparateSession:
      return runSeparateSession(*app);
    case LaunchOptions::Mode::EnableUnattendedSession: {
      lunor::DefaultEnvironment environment;
      return lunor::enableUnattendedSession(environment);
    }
  }
  return lunor::exit_code::kFailure;
}
