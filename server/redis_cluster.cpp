// SPDX-License-Identifier: GPL-3.0-or-later
#include "redis_cluster.h"

#include <QDateTime>
#include <QRandomGenerator>

#include "event_log.h"
#include "rooms.h"

namespace lunor::signal {
namespace {

const QByteArray kFailuresChannel = "lunor:failures";
constexpr char kSeparator = '\x1f';

QByteArray roomKey(const QString& roomId) { return "lunor:room:" + roomId.toUtf8(); }
QByteArray aliveKey(const QString& instance) { return "lunor:alive:" + instance.toUtf8(); }
QByteArray channelOf(const QString& instance) { return "lunor:instance:" + instance.toUtf8(); }

// A room entry reads "INSTANCE|o" (created with its owner's key) or "INSTANCE|-".
//
// KEYS[1] room entry; ARGV: instance, ttl ms, force, alive-key prefix, owned.
// A room held by a running instance stays there, unless forced and owned.
const QByteArray kPlaceScript = R"(
local entry = redis.call('GET', KEYS[1])
local holder = entry and string.match(entry, '^[^|]+') or nil
if holder and holder ~= ARGV[1] and redis.call('EXISTS', ARGV[4] .. holder) == 1
   and not (ARGV[3] == '1' and string.sub(entry, -2) == '|o') then
  return {0, holder}
end
redis.call('SET', KEYS[1], ARGV[1] .. (ARGV[5] == '1' and '|o' or '|-'), 'PX', ARGV[2])
return {1, holder or ''}
)";

// Renews the entry if it is still ours (makes it again if Redis lost it);
// otherwise says who holds it. ARGV: instance, ttl ms, owned.
const QByteArray kRenewScript = R"(
local entry = redis.call('GET', KEYS[1])
if not entry then
  redis.call('SET', KEYS[1], ARGV[1] .. (ARGV[3] == '1' and '|o' or '|-'), 'PX', ARGV[2])
  return ''
end
local holder = string.match(entry, '^[^|]+')
if holder ~= ARGV[1] then return holder end
redis.call('PEXPIRE', KEYS[1], ARGV[2])
return ''
)";

const QByteArray kUnplaceScript = R"(
local entry = redis.call('GET', KEYS[1])
if entry and string.match(entry, '^[^|]+') == ARGV[1] then return redis.call('DEL', KEYS[1]) end
return 0
)";

// KEYS[1] counter; ARGV: ttl ms, sliding, channel, key as published.
const QByteArray kCountScript = R"(
local n = redis.call('INCR', KEYS[1])
if n == 1 or ARGV[2] == '1' then redis.call('PEXPIRE', KEYS[1], ARGV[1]) end
redis.call('PUBLISH', ARGV[3], ARGV[4] .. '\31' .. n)
return n
)";

// KEYS[1] owner entry, KEYS[2] room entry, KEYS[3] the room's devices;
// ARGV: digest (empty: no key given), ttl seconds, this instance, alive-key
// prefix.
// Binds an unbound room to the digest (without the devices of an owner
// whose claim lapsed), renews the owner's claim, and answers what is bound
// (empty: nothing was). A room held without a key by another running
// instance is nobody's to bind: "|held".
const QByteArray kClaimScript = R"(
local entry = redis.call('GET', KEYS[2])
if entry and string.sub(entry, -2) == '|-' then
  local holder = string.match(entry, '^[^|]+')
  if holder ~= ARGV[3] and redis.call('EXISTS', ARGV[4] .. holder) == 1 then return '|held' end
end
local bound = redis.call('GET', KEYS[1])
if not bound then
  if ARGV[1] ~= '' then
    redis.call('SET', KEYS[1], ARGV[1], 'EX', ARGV[2])
    redis.call('DEL', KEYS[3])
  end
  return ''
end
if bound == ARGV[1] then redis.call('EXPIRE', KEYS[1], ARGV[2]) end
return bound
)";

// A room's devices: a sorted set of "DEVICE|HASH" (the hash it was given
// under, maybe empty) scored by the millisecond it was given.
//
// KEYS[1] devices; ARGV: member, now ms, ttl ms, devices kept, the device it
// replaces (or empty). Lapsed ones, the same device and the replaced one go;
// past the bound the oldest go.
const QByteArray kAddDeviceScript = R"(
redis.call('ZREMRANGEBYSCORE', KEYS[1], '-inf', '(' .. (tonumber(ARGV[2]) - tonumber(ARGV[3])))
local device = string.match(ARGV[1], '^[^|]+')
for _, member in ipairs(redis.call('ZRANGE', KEYS[1], 0, -1)) do
  local d = string.match(member, '^[^|]+')
  if d == device or (ARGV[5] ~= '' and d == ARGV[5]) then redis.call('ZREM', KEYS[1], member) end
end
redis.call('ZADD', KEYS[1], ARGV[2], ARGV[1])
redis.call('ZREMRANGEBYRANK', KEYS[1], 0, -(tonumber(ARGV[4]) + 1))
redis.call('PEXPIRE', KEYS[1], ARGV[3])
return 1
)";

// KEYS[1] devices; ARGV: the hash whose devices stay.
const QByteArray kForgetDevicesScript = R"(
for _, member in ipairs(redis.call('ZRANGE', KEYS[1], 0, -1)) do
  if string.match(member, '|(.*)$') ~= ARGV[1] then redis.call('ZREM', KEYS[1], member) end
end
return 1
)";

QByteArray devicesKey(const QString& roomId) { return "lunor:devices:" + roomId.toUtf8(); }
QByteArray deviceMember(const QString& device, const QString& hash) {
  return device.toLatin1() + '|' + hash.toLatin1();
}

}  // namespace

RedisCluster::RedisCluster(RedisLink& redis, qint64 ttlMs, QObject* parent)
    : QObject(parent),
      redis_(redis),
      ttlMs_(ttlMs),
      instance_(QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, QLatin1Char('0'))) {
  heartbeat_.setInterval(static_cast<int>(ttlMs_ / 3));
  connect(&heartbeat_, &QTimer::timeout, this, &RedisCluster::heartbeat);
  // Back from an outage: at once say we are here and what we hold.
  connect(&redis_, &RedisLink::restored, this, &RedisCluster::heartbeat);
}

void RedisCluster::attach(Rooms& rooms) {
  rooms_ = &rooms;
  redis_.subscribe(channelOf(instance_), [this](const QByteArray& message) { rooms_->fromInstance(message); });
  redis_.subscribe(kFailuresChannel, [this](const QByteArray& message) {
    const qsizetype at = message.lastIndexOf(kSeparator);
    if (at > 0) rooms_->failureCounted(message.left(at), message.mid(at + 1).toInt());
  });
  heartbeat();
  heartbeat_.start();
  logEvent(QStringLiteral("cluster-joined"), {{"instance", instance_}});
}

void RedisCluster::heartbeat() {
  redis_.command({"SET", aliveKey(instance_), "1", "PX", QByteArray::number(ttlMs_)});
  const QByteArray ttl = QByteArray::number(ttlMs_);
  for (auto it = placed_.cbegin(); it != placed_.cend(); ++it) {
    const QString roomId = it.key();
    redis_.command({"EVAL", kRenewScript, "1", roomKey(roomId), instance_.toUtf8(), ttl, it.value() ? "1" : "0"},
                   [this, roomId](const RedisReply& reply) {
                     // Taken over while a message about it was lost: the owner is elsewhere now.
                     if (reply.ok && !reply.text.isEmpty() && placed_.remove(roomId)) rooms_->roomMoved(roomId);
                   });
  }
  // The instances our connections lean on: any that stopped renewing is gone.
  const QSet<QString> used = rooms_ ? rooms_->instancesInUse() : QSet<QString>{};
  for (const QString& other : used) {
    redis_.command({"EXISTS", aliveKey(other)}, [this, other](const RedisReply& reply) {
      if (reply.ok && reply.integer == 0) rooms_->instanceGone(other);
    });
  }
}

void RedisCluster::locate(const QString& roomId, std::function<void(const QString&)> done) {
  redis_.command({"GET", roomKey(roomId)}, [done = std::move(done)](const RedisReply& reply) {
    done(reply.ok && !reply.nil ? QString::fromUtf8(reply.text.left(reply.text.indexOf('|'))) : QString());
  });
}

void RedisCluster::place(const QString& roomId, bool force, bool owned,
                         std::function<void(bool, const QString&)> done) {
  redis_.command({"EVAL", kPlaceScript, "1", roomKey(roomId), instance_.toUtf8(), QByteArray::number(ttlMs_),
                  force ? "1" : "0", "lunor:alive:", owned ? "1" : "0"},
                 [this, roomId, owned, done = std::move(done)](const RedisReply& reply) {
                   if (!reply.ok || reply.items.size() != 2) {
                     logEvent(QStringLiteral("redis-error"), {{"room", roomId}, {"what", "place"}});
                     done(false, {});
                     return;
                   }
                   const bool placed = reply.items[0] == "1";
                   if (placed) placed_.insert(roomId, owned);
                   done(placed, QString::fromUtf8(reply.items[1]));
                 });
}

void RedisCluster::unplace(const QString& roomId) {
  placed_.remove(roomId);
  redis_.command({"EVAL", kUnplaceScript, "1", roomKey(roomId), instance_.toUtf8()});
}

void RedisCluster::post(const QString& instance, const QByteArray& message, std::function<void(bool)> delivered) {
  if (!delivered) {
    redis_.command({"PUBLISH", channelOf(instance), message});
    return;
  }
  redis_.command({"PUBLISH", channelOf(instance), message},
                 [delivered = std::move(delivered)](const RedisReply& reply) {
                   delivered(reply.ok && reply.integer > 0);
                 });
}

void RedisCluster::countFailure(const QByteArray& key, qint64 ttlMs, bool sliding) {
  redis_.command({"EVAL", kCountScript, "1", "lunor:fail:" + key, QByteArray::number(ttlMs), sliding ? "1" : "0",
                  kFailuresChannel, key});
}

void RedisCluster::forgetFailures(const QByteArray& key) { redis_.command({"DEL", "lunor:fail:" + key}); }

RedisOwnerStore::RedisOwnerStore(RedisLink& redis, int ttlDays, QString instance)
    : redis_(redis), ttlSeconds_(qint64(ttlDays) * 24 * 3600), instance_(std::move(instance)) {}

void RedisOwnerStore::claim(const QString& roomId, const QString& digest, std::function<void(Claim)> done) {
  redis_.command({"EVAL", kClaimScript, "3", "lunor:owner:" + roomId.toUtf8(), roomKey(roomId), devicesKey(roomId),
                  digest.toLatin1(),
                  QByteArray::number(ttlSeconds_), instance_.toUtf8(), "lunor:alive:"},
                 [roomId, digest, done = std::move(done)](const RedisReply& reply) {
                   if (!reply.ok) {
                     // Without the store nobody can be told apart: nobody gets the room now.
                     logEvent(QStringLiteral("redis-error"), {{"room", roomId}, {"what", "claim"}});
                     done(Claim::Refused);
                     return;
                   }
                   if (reply.text == "|held") {
                     done(Claim::Refused);
                     return;
                   }
                   done(decideClaim(QString::fromUtf8(reply.text), digest));
                 });
}

void RedisOwnerStore::addDevice(const QString& roomId, const QString& device, const QString& hash,
                                const QString& replaced, int keep) {
  redis_.command({"EVAL", kAddDeviceScript, "1", devicesKey(roomId), deviceMember(device, hash),
                  QByteArray::number(QDateTime::currentMSecsSinceEpoch()), QByteArray::number(ttlSeconds_ * 1000),
                  QByteArray::number(std::max(1, keep)), replaced.toLatin1()},
                 [roomId](const RedisReply& reply) {
                   if (!reply.ok) logEvent(QStringLiteral("redis-error"), {{"room", roomId}, {"what", "add-device"}});
                 });
}

void RedisOwnerStore::isDevice(const QString& roomId, const QString& device, const QString& hash,
                               std::function<void(bool)> done) {
  redis_.command({"ZSCORE", devicesKey(roomId), deviceMember(device, hash)},
                 [ttlMs = ttlSeconds_ * 1000, roomId, done = std::move(done)](const RedisReply& reply) {
                   if (!reply.ok) {
                     // Not known to be a device: the join is treated as any other.
                     logEvent(QStringLiteral("redis-error"), {{"room", roomId}, {"what", "is-device"}});
                     done(false);
                     return;
                   }
                   bool ok = false;
                   const double given = reply.text.toDouble(&ok);
                   done(!reply.nil && ok &&
                        given >= static_cast<double>(QDateTime::currentMSecsSinceEpoch() - ttlMs));
                 });
}

void RedisOwnerStore::forgetDevices(const QString& roomId, const QString& except, std::function<void(bool)> done) {
  QList<QByteArray> command{"DEL", devicesKey(roomId)};
  if (!except.isEmpty()) command = {"EVAL", kForgetDevicesScript, "1", devicesKey(roomId), except.toLatin1()};
  redis_.command(command, [roomId, done = std::move(done)](const RedisReply& reply) {
    if (!reply.ok) logEvent(QStringLiteral("redis-error"), {{"room", roomId}, {"what", "forget-devices"}});
    if (done) done(reply.ok);
  });
}

}  // namespace lunor::signal
