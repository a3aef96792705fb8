#include <cstdio>
#include <cstring>

#include <QCoreApplication>

#include "app/default_environment.h"
#include "system/unix_signals.h"
#include "session/app_state.h"
#include "system/console_log.h"

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  bool headlessHost = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--headless-host") == 0) headlessHost = true;
  }

  QCoreApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("LunorRemote"));
  QCoreApplication::setApplicationName(QStringLiteral("LunorRemote"));
  lunor::quitOnTerminationSignals(app);

  if (!headlessHost) {
    // The windowed application is not built yet; run the host without a window.
    lunor::consoleLine(QStringLiteral("ℹ️ Interface graphique indisponible : hôte sans fenêtre"));
  }

  int code = 0;
  {
    lunor::DefaultEnvironment environment;
    lunor::AppState state(environment);
    lunor::consoleLine(QStringLiteral("ℹ️ ID de session : ") + state.sessionId());
    state.startHosting();
    code = app.exec();
  }
  return code;
}
