#include <cstdio>
#include <cstring>
#include <memory>

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QtQml/qqmlextensionplugin.h>

#include "app/default_environment.h"
#include "session/app_state.h"
#include "session/remote_session.h"
#include "system/console_log.h"
#include "system/unix_signals.h"

Q_IMPORT_QML_PLUGIN(Lunor_ClientPlugin)

namespace {

// The client window of `--connect ID`: one session towards the host ID.
int runClientWindow(QGuiApplication& app, const QString& roomId) {
  lunor::DefaultEnvironment environment;
  lunor::RemoteSession session(environment);
  QQmlApplicationEngine engine;
  engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
  engine.setInitialProperties({{QStringLiteral("session"), QVariant::fromValue(&session)},
                               {QStringLiteral("roomId"), roomId}});
  engine.load(QUrl(QStringLiteral("qrc:/qt/qml/Lunor/Client/ClientWindow.qml")));
  if (engine.rootObjects().isEmpty()) return 1;
  session.startClient(roomId);
  return app.exec();
}

int runHeadlessHost(QCoreApplication& app) {
  lunor::DefaultEnvironment environment;
  lunor::AppState state(environment);
  lunor::consoleLine(QStringLiteral("ℹ️ ID de session : ") + state.sessionId());
  state.startHosting();
  return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  // A window needs the GUI application; the headless host must run without
  // a display.
  bool window = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--connect") == 0 || std::strncmp(argv[i], "--connect=", 10) == 0) window = true;
  }
  std::unique_ptr<QCoreApplication> app =
      window ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("LunorRemote"));
  QCoreApplication::setApplicationName(QStringLiteral("LunorRemote"));
  lunor::quitOnTerminationSignals(*app);

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Lunor Remote: partage d'écran et contrôle à distance."));
  parser.addHelpOption();
  const QCommandLineOption headlessHost(QStringLiteral("headless-host"),
                                        QStringLiteral("Héberge ce poste sans fenêtre."));
  const QCommandLineOption connect(QStringLiteral("connect"),
                                   QStringLiteral("Ouvre une fenêtre connectée à l'hôte <ID>."),
                                   QStringLiteral("ID"));
  parser.addOption(headlessHost);
  parser.addOption(connect);
  parser.process(*app);

  if (parser.isSet(connect)) {
    return runClientWindow(static_cast<QGuiApplication&>(*app), parser.value(connect));
  }
  if (!parser.isSet(headlessHost)) {
    // The windowed application is not built yet; run the host without a window.
    lunor::consoleLine(QStringLiteral("ℹ️ Interface graphique indisponible : hôte sans fenêtre"));
  }
  return runHeadlessHost(*app);
}
