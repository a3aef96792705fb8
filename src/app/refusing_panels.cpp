// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/refusing_panels.h"

#include <QTimer>

#include "app/app_log.h"
#include "system/console_log.h"

namespace lunor {

void RefusingPanels::showJoinRequest(const JoinRequestPrompt& prompt) {
  if (!prompt.accept) return;  // the unattended password decides
  const QString who = prompt.requester.isNull() ? QStringLiteral("un client sans nom") : prompt.requester;
  consoleLine(lcApp(), QStringLiteral("❌ Demande de %1 refusée : personne ne peut répondre ici (pas de terminal) ; "
                                      "seul l’accès sans surveillance admet un client")
                           .arg(who));
  // After the request's own handling, as a person's answer would come.
  QTimer::singleShot(0, this, [reject = prompt.reject] {
    if (reject) reject();
  });
}

}  // namespace lunor
