// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/app_state.h"

#include <QSettings>

#include "session/machine_identity.h"
#include "session/session_environment.h"

namespace lunor {

AppState::AppState(SessionEnvironment& environment, QObject* parent) : QObject(parent) {
  QSettings& settings = environment.settings();
  sessionId_ = machineId(settings);
  settings.setValue(QLatin1String(kSessionIdKey), sessionId_);
  settings.sync();
}

AppState::~AppState() = default;

}  // namespace lunor
