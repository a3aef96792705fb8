// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the rooms of one instance need from the others when several serve
// the same rooms: where a room lives, a registry entry for the rooms held
// here, messages to another instance, and failure counts shared by all.
// Every answer comes on the main thread, now or later.

#include <functional>

#include <QByteArray>
#include <QString>

namespace lunor::signal {

class Cluster {
 public:
  virtual ~Cluster() = default;

  // This instance's name, unique among the running ones.
  virtual QString instance() const = 0;
  // The instance holding `roomId`, or empty when none does.
  virtual void locate(const QString& roomId, std::function<void(const QString& instance)> done) = 0;
  // Registers the room as held here (owned: by a key) unless a running
  // instance holds it; `force` takes it from one that holds it owned (the
  // owner is back). done(placed, the instance that held it before or empty).
  virtual void place(const QString& roomId, bool force, bool owned,
                     std::function<void(bool placed, const QString& previous)> done) = 0;
  // Forgets the registration, if it is still this instance's.
  virtual void unplace(const QString& roomId) = 0;
  // One message to another instance; delivered(false) when nobody listens there.
  virtual void post(const QString& instance, const QByteArray& message,
                    std::function<void(bool delivered)> delivered = {}) = 0;
  // Adds a failure to `key` (kept `ttlMs`; sliding: each failure renews it);
  // every instance then hears the new count.
  virtual void countFailure(const QByteArray& key, qint64 ttlMs, bool sliding) = 0;
  virtual void forgetFailures(const QByteArray& key) = 0;
};

}  // namespace lunor::signal
