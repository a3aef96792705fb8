// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Instances of the rooms sharing their rooms through a cluster in memory
// whose every answer comes later, in order, as Redis's would: when the
// network is drained. And scripts of hostile connections spread over such
// instances, for the fuzz targets (hence no QtTest here).

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

#include "rooms.h"

namespace lunor::test {

struct ClusterNetwork {
  void later(std::function<void()> task) { tasks.push_back(std::move(task)); }
  // Runs what is in flight and what that sets off, at most `steps` tasks.
  void drain(int steps = 10'000) {
    for (; !tasks.empty() && steps > 0; --steps) {
      auto task = std::move(tasks.front());
      tasks.pop_front();
      task();
    }
  }

  std::deque<std::function<void()>> tasks;
  QHash<QString, std::pair<QString, bool>> registry;  // room → its instance, and whether owned
  QHash<QString, signal::Rooms*> reachable;          // by instance name
  QHash<QByteArray, int> failures;
  int locates = 0;
};

class MemoryCluster final : public signal::Cluster {
 public:
  MemoryCluster(ClusterNetwork& network, QString name) : network_(network), name_(std::move(name)) {}
  QString instance() const override { return name_; }
  void locate(const QString& roomId, std::function<void(const QString&)> done) override {
    ++network_.locates;
    network_.later([this, roomId, done] { done(network_.registry.value(roomId).first); });
  }
  void place(const QString& roomId, bool force, bool owned, std::function<void(bool, const QString&)> done) override {
    network_.later([this, roomId, force, owned, done] {
      const auto [previous, wasOwned] = network_.registry.value(roomId);
      if (!previous.isEmpty() && previous != name_ && !(force && wasOwned)) return done(false, previous);
      network_.registry.insert(roomId, {name_, owned});
      done(true, previous);
    });
  }
  void unplace(const QString& roomId) override {
    network_.later([this, roomId] {
      if (network_.registry.value(roomId).first == name_) network_.registry.remove(roomId);
    });
  }
  void post(const QString& instance, const QByteArray& message, std::function<void(bool)> delivered) override {
    network_.later([this, instance, message, delivered] {
      signal::Rooms* target = network_.reachable.value(instance);
      if (target) target->fromInstance(message);
      if (delivered) delivered(target != nullptr);
    });
  }
  void countFailure(const QByteArray& key, qint64, bool) override {
    network_.later([this, key] {
      const int count = ++network_.failures[key];
      for (signal::Rooms* rooms : std::as_const(network_.reachable)) rooms->failureCounted(key, count);
    });
  }
  void forgetFailures(const QByteArray& key) override {
    network_.later([this, key] { network_.failures.remove(key); });
  }

 private:
  ClusterNetwork& network_;
  QString name_;
};

// A script of hostile connections over one instance (alone) or two (A and B,
// sharing a cluster and an owner store). A byte below 0x10 opens a
// connection, on instance (byte mod count); 0x10 to 0x1f closes one; with two
// instances 0xFE tells A that B is gone; any other byte sends the frame that
// follows (a length byte, then that many bytes) on connection (byte mod
// count), and 0xFF then expires the tables. "$0" to "$7" in a frame stand for
// the client IDs of the first connections, which the server draws at random.
// After an odd byte the cluster answers what is in flight, so that some
// answers come at once and some later.
class RoomsScript {
 public:
  using Require = void (*)(bool holds, const char* what);
  struct Connection {
    QString id;
    int instance = 0;
    bool operator==(const Connection&) const = default;
  };
  struct Instance final : signal::RoomsOutput {
    Instance(RoomsScript& script, int index, const signal::ServerLimits& limits)
        : script(script),
          index(index),
          cluster(script.network, QString(QChar('A' + index))),
          rooms(limits, *this, [&script] { return script.now += 250; }, script.owners) {}
    void send(const QString& peerId, const QByteArray& json) override {
      script.require_(script.connections.contains(Connection{peerId, index}),
                      "frames go to the instance's own open connections only");
      const QJsonDocument document = QJsonDocument::fromJson(json);
      script.require_(document.isObject() && document.object().value("type").isString(),
                      "every frame is an object with a type");
    }
    void close(const QString& peerId, int, const QString&) override { closing << peerId; }

    RoomsScript& script;
    int index;
    MemoryCluster cluster;
    signal::Rooms rooms;
    QStringList closing;
  };

  RoomsScript(int count, Require require) : require_(require) {
    signal::ServerLimits limits;
    limits.burstMessages = 1e6;  // the rate limit would hide the rooms behind it
    for (int k = 0; k < count; ++k) {
      Instance& instance = *instances.emplace_back(std::make_unique<Instance>(*this, k, limits));
      network.reachable.insert(instance.cluster.instance(), &instance.rooms);
      if (count > 1) instance.rooms.setCluster(&instance.cluster);
    }
  }
  ~RoomsScript() { network.tasks.clear(); }  // what is left refers to the rooms: it goes first

  void run(const uint8_t* data, size_t size) {
    size_t i = 0;
    while (i < size && connections.size() <= 64) {
      const uint8_t op = data[i++];
      if (op < 0x10) {
        Instance& on = *instances[op % instances.size()];
        connections << Connection{on.rooms.newClientId(), on.index};
        on.rooms.connected(connections.last().id, QStringLiteral("10.0.0.%1").arg(op % 4));
      } else if (op < 0x20) {
        if (connections.isEmpty()) continue;
        const Connection gone = connections.takeAt(op % connections.size());
        instances[gone.instance]->rooms.disconnected(gone.id, 1000);
      } else if (op == 0xFE && instances.size() > 1) {
        instances[0]->rooms.instanceGone(QStringLiteral("B"));
      } else {
        if (i >= size) break;
        const size_t wanted = data[i++];
        const size_t length = std::min(wanted, size - i);
        QByteArray frame(reinterpret_cast<const char*>(data + i), static_cast<qsizetype>(length));
        i += length;
        if (connections.isEmpty()) continue;
        for (qsizetype k = 0; k < std::min<qsizetype>(8, connections.size()); ++k) {
          frame.replace("$" + QByteArray::number(k), connections[k].id.toUtf8());
        }
        const Connection& from = connections[op % connections.size()];
        instances[from.instance]->rooms.frame(from.id, frame);
        if (op == 0xFF) {
          for (auto& instance : instances) instance->rooms.expire();
        }
      }
      if (op & 1) network.drain();
      // A connection the rooms closed goes away, as the network would tell.
      for (auto& instance : instances) {
        for (const QString& id : std::exchange(instance->closing, {})) {
          if (connections.removeOne(Connection{id, instance->index})) instance->rooms.disconnected(id, 1008);
        }
      }
    }
    network.drain();
  }

  ClusterNetwork network;
  signal::MemoryOwnerStore owners;  // shared, as Redis is
  qint64 now = 0;
  QList<Connection> connections;
  std::vector<std::unique_ptr<Instance>> instances;

 private:
  Require require_;
};

}  // namespace lunor::test
