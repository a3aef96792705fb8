// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/host_lock.h"

#include <QDir>
#include <QStandardPaths>

namespace lunor {
namespace {

QString lockPath() {
  const QString folder = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
                             .filePath(QStringLiteral("LunorRemote"));
  QDir().mkpath(folder);
  return QDir(folder).filePath(QStringLiteral("physical-host.lock"));
}

}  // namespace

PhysicalHostLock::PhysicalHostLock() : lock_(lockPath()) {
  lock_.setStaleLockTime(0);  // stale only when its process is gone
  lock_.tryLock(0);
}

QString physicalHostHoldsId() {
  QLockFile probe(lockPath());
  probe.setStaleLockTime(0);
  if (probe.tryLock(0)) {
    probe.unlock();
    return {};
  }
  if (probe.error() != QLockFile::LockFailedError) return {};
  return QStringLiteral("Une session ouverte sur cet ordinateur partage son écran sous cet ID : la session à "
                        "part attend qu’elle se termine");
}

}  // namespace lunor
