// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The application's objects as the Lunor.Ui module's QML sees them: types
// QML may hold but not make.

#include <QtQml/qqml.h>

#include "session/app_state.h"
#include "store/user_profile_store.h"
#include "system/permission_manager.h"

namespace lunor {

struct ForeignAppState {
  Q_GADGET
  QML_FOREIGN(lunor::AppState)
  QML_NAMED_ELEMENT(AppState)
  QML_UNCREATABLE("Made by the application.")
};

struct ForeignPermissionManager {
  Q_GADGET
  QML_FOREIGN(lunor::PermissionManager)
  QML_NAMED_ELEMENT(PermissionManager)
  QML_UNCREATABLE("Made by the application.")
};

struct ForeignUserProfileStore {
  Q_GADGET
  QML_FOREIGN(lunor::UserProfileStore)
  QML_NAMED_ELEMENT(UserProfileStore)
  QML_UNCREATABLE("Made by the application.")
};


}  // namespace lunor
