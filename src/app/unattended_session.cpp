// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/unattended_session.h"

#include <cstdio>

#include <QProcess>

#include "app/default_environment.h"
#include "session/session_panels.h"
#include "store/host_identity.h"
#include "store/owner_key.h"
#include "store/unattended_password.h"
#include "store/user_profile_store.h"

namespace lunor {
namespace {

constexpr char kUnit[] = "lunor-remote-session.service";

void say(const QString& text) { std::fputs(qPrintable(text), stderr); }

}  // namespace

int runCommand(const QStringList& command) {
  QProcess process;
  process.setProcessChannelMode(QProcess::ForwardedChannels);
  process.start(command.first(), command.mid(1));
  if (!process.waitForStarted(10000) || !process.waitForFinished(60000)) return -1;
  return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

int enableUnattendedSession(DefaultEnvironment& environment, const CommandRunner& run) {
  SecretStore& secrets = environment.secretStore();
  const auto password = loadUnattendedPassword(secrets);
  if (!environment.profileStore().unattendedEnabled() || !password || password->isEmpty()) {
    say(QStringLiteral("lunor-remote: unattended access has no password yet; run "
                       "lunor-remote --set-unattended-password first. Nothing changed.\n"));
    return 1;
  }
  // Made now if this computer never hosted, so that both sessions carry the same ID's key.
  if (!ownerKey(secrets) || !hostIdentity(secrets)) {
    say(QStringLiteral("lunor-remote: the keyring could not be read (locked?). Nothing changed.\n"));
    return 1;
  }
  const QStringList failed = copyHostSecrets(secrets, environment.fileSecretStore());
  if (!failed.isEmpty()) {
    say(QStringLiteral("lunor-remote: could not keep %1 outside the keyring. Nothing enabled.\n")
            .arg(failed.join(QStringLiteral(", "))));
    return 1;
  }
  if (run({QStringLiteral("loginctl"), QStringLiteral("enable-linger")}) != 0) {
    say(QStringLiteral("lunor-remote: lingering could not be switched on (loginctl enable-linger): the "
                       "separate session will start at your next log-in, not at boot.\n"));
  }
  const QString unit = QString::fromLatin1(kUnit);
  if (run({QStringLiteral("systemctl"), QStringLiteral("--user"), QStringLiteral("enable"), QStringLiteral("--now"), unit}) !=
      0) {
    say(QStringLiteral("lunor-remote: could not enable %1 with systemctl --user.\n").arg(unit));
    return 1;
  }
  say(QStringLiteral("Unattended session on: from boot, this computer's ID reaches a desktop of its own "
                     "(password or known device only). After changing the password, run this again.\n"));
  return 0;
}

}  // namespace lunor
