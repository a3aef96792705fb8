#pragma once

class QCoreApplication;

namespace lunor {

// Makes SIGTERM and SIGINT quit the application's event loop cleanly.
void quitOnTerminationSignals(QCoreApplication& app);

}  // namespace lunor
