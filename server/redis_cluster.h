// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Several instances sharing their rooms through Redis:
//  - "lunor:room:ID" names the instance holding the room; each instance
//    renews its rooms' entries (and its own "lunor:alive:NAME") on a
//    heartbeat, so the entries of an instance that died fade out;
//  - each instance listens on the channel "lunor:instance:NAME" for the
//    frames of proxied connections and what goes back to them;
//  - failure counts live under "lunor:fail:KEY", and every change is
//    published on "lunor:failures" for all instances;
//  - room owners' digests under "lunor:owner:ID", and the digests of the
//    room's device keys under "lunor:devices:ID" (RedisOwnerStore).

#include <QObject>
#include <QHash>
#include <QTimer>

#include "cluster.h"
#include "owner_store.h"
#include "redis_link.h"

namespace lunor::signal {

class Rooms;

class RedisCluster final : public QObject, public Cluster {
  Q_OBJECT
 public:
  // Entries live ttlMs; the heartbeat renews them three times in that span.
  RedisCluster(RedisLink& redis, qint64 ttlMs = 30'000, QObject* parent = nullptr);

  // Starts listening and the heartbeat; `rooms` hears from the others.
  void attach(Rooms& rooms);

  QString instance() const override { return instance_; }
  void locate(const QString& roomId, std::function<void(const QString&)> done) override;
  void place(const QString& roomId, bool force, bool owned,
             std::function<void(bool, const QString&)> done) override;
  void unplace(const QString& roomId) override;
  void post(const QString& instance, const QByteArray& message, std::function<void(bool)> delivered) override;
  void countFailure(const QByteArray& key, qint64 ttlMs, bool sliding) override;
  void forgetFailures(const QByteArray& key) override;

 private:
  void heartbeat();

  RedisLink& redis_;
  qint64 ttlMs_;
  QString instance_;
  Rooms* rooms_ = nullptr;
  QHash<QString, bool> placed_;  // the rooms registered here, and whether owned
  QTimer heartbeat_;
};

// Room owners and their devices in Redis, shared by the instances; claims
// not renewed and devices not given again for `ttlDays` are forgotten. A
// command that fails refuses what it was for (and is logged).
class RedisOwnerStore final : public OwnerStore {
 public:
  // instance: the cluster's name for this one.
  RedisOwnerStore(RedisLink& redis, int ttlDays, QString instance);
  void claim(const QString& roomId, const QString& digest, std::function<void(Claim)> done) override;
  void addDevice(const QString& roomId, const QString& device, const QString& hash, const QString& replaced,
                 int keep) override;
  void isDevice(const QString& roomId, const QString& device, const QString& hash,
                std::function<void(bool)> done) override;
  void forgetDevices(const QString& roomId, const QString& except, std::function<void(bool)> done) override;

 private:
  RedisLink& redis_;
  qint64 ttlSeconds_;
  QString instance_;
};

}  // namespace lunor::signal
