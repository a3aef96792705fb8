// SPDX-License-Identifier: GPL-3.0-or-later
// Two instances of the server's protocol sharing their rooms, as hostile
// connections spread over both may drive them. The cluster between them is
// in memory: everything it does is answered later, in order, as Redis would.
// Input: the script of fuzz_signal_server (a byte below 0x10 opens a
// connection, on the first instance when even; 0x10 to 0x1f closes one; any
// other byte sends the frame that follows), plus 0xFE: the first instance
// hears the second one is gone.

#include <deque>
#include <functional>

#include <QHash>

#include "fuzz_support.h"
#include "rooms.h"

namespace {

using namespace lunor::signal;

struct Connection {
  QString id;
  int instance = 0;
};

struct Network;

struct CheckingOutput final : RoomsOutput {
  void send(const QString& peerId, const QByteArray& json) override;
  void close(const QString& peerId, int, const QString&) override { closing << peerId; }
  Network* network = nullptr;
  int instance = 0;
  QStringList closing;
};

struct Network {
  std::deque<std::function<void()>> tasks;
  QHash<QString, std::pair<QString, bool>> registry;  // room → instance, owned
  QHash<QByteArray, int> failures;
  Rooms* rooms[2] = {};
  QList<Connection> connections;

  void later(std::function<void()> task) { tasks.push_back(std::move(task)); }
  // Everything in flight, a bounded number of steps (a task may add more).
  void drain() {
    for (int steps = 0; !tasks.empty() && steps < 10'000; ++steps) {
      auto task = std::move(tasks.front());
      tasks.pop_front();
      task();
    }
  }
  Rooms* named(const QString& instance) {
    if (instance == QLatin1String("A")) return rooms[0];
    if (instance == QLatin1String("B")) return rooms[1];
    return nullptr;
  }
  bool isLocal(const QString& id, int instance) const {
    return std::any_of(connections.begin(), connections.end(),
                       [&](const Connection& c) { return c.id == id && c.instance == instance; });
  }
};

void CheckingOutput::send(const QString& peerId, const QByteArray& json) {
  lunor::fuzz::require(network->isLocal(peerId, instance), "frames go to the instance's own open connections only");
  lunor::fuzz::requireServerFrame(json);
}

struct FakeCluster final : Cluster {
  FakeCluster(Network& network, QString name) : network_(network), name_(std::move(name)) {}
  QString instance() const override { return name_; }
  void locate(const QString& roomId, std::function<void(const QString&)> done) override {
    network_.later([this, roomId, done] {
      auto it = network_.registry.constFind(roomId);
      done(it == network_.registry.cend() ? QString() : it->first);
    });
  }
  void place(const QString& roomId, bool force, bool owned, std::function<void(bool, const QString&)> done) override {
    network_.later([this, roomId, force, owned, done] {
      auto it = network_.registry.constFind(roomId);
      const QString previous = it == network_.registry.cend() ? QString() : it->first;
      if (!previous.isEmpty() && previous != name_ && !(force && it->second)) {
        done(false, previous);
        return;
      }
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
      Rooms* target = network_.named(instance);
      if (target) target->fromInstance(message);
      if (delivered) delivered(target != nullptr);
    });
  }
  void countFailure(const QByteArray& key, qint64, bool) override {
    network_.later([this, key] {
      const int count = ++network_.failures[key];
      for (Rooms* rooms : network_.rooms) rooms->failureCounted(key, count);
    });
  }
  void forgetFailures(const QByteArray& key) override {
    network_.later([this, key] { network_.failures.remove(key); });
  }

 private:
  Network& network_;
  QString name_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Network network;
  ServerLimits limits;
  limits.burstMessages = 1e6;  // the rate limit would hide the rooms behind it
  qint64 now = 0;
  MemoryOwnerStore owners;  // shared, as Redis is
  CheckingOutput outputs[2];
  FakeCluster clusters[2] = {FakeCluster(network, "A"), FakeCluster(network, "B")};
  Rooms a(limits, outputs[0], [&now] { return now += 250; }, owners);
  Rooms b(limits, outputs[1], [&now] { return now += 250; }, owners);
  network.rooms[0] = &a;
  network.rooms[1] = &b;
  for (int k = 0; k < 2; ++k) {
    outputs[k].network = &network;
    outputs[k].instance = k;
    network.rooms[k]->setCluster(&clusters[k]);
  }
  size_t i = 0;
  while (i < size && network.connections.size() <= 64) {
    const uint8_t op = data[i++];
    if (op < 0x10) {
      const int instance = op % 2;
      Connection connection{network.rooms[instance]->newClientId(), instance};
      network.connections << connection;
      network.rooms[instance]->connected(connection.id, QStringLiteral("10.0.0.%1").arg(op % 4));
    } else if (op < 0x20) {
      if (network.connections.isEmpty()) continue;
      const Connection gone = network.connections.takeAt(op % network.connections.size());
      network.rooms[gone.instance]->disconnected(gone.id, 1000);
    } else if (op == 0xFE) {
      a.instanceGone(QStringLiteral("B"));
    } else {
      if (i >= size) break;
      const size_t wanted = data[i++];
      const size_t length = std::min(wanted, size - i);
      QByteArray frame(reinterpret_cast<const char*>(data + i), static_cast<qsizetype>(length));
      i += length;
      if (network.connections.isEmpty()) continue;
      for (int k = 0; k < std::min<int>(8, static_cast<int>(network.connections.size())); ++k) {
        frame.replace(QByteArray("$") + QByteArray::number(k), network.connections[k].id.toUtf8());
      }
      const Connection& from = network.connections[op % network.connections.size()];
      network.rooms[from.instance]->frame(from.id, frame);
      if (op == 0xFF) {
        a.expire();
        b.expire();
      }
    }
    // Half the time the cluster answers at once, half the time later.
    if (op & 1) network.drain();
    for (int k = 0; k < 2; ++k) {
      for (const QString& id : std::exchange(outputs[k].closing, {})) {
        for (qsizetype c = 0; c < network.connections.size(); ++c) {
          if (network.connections[c].id == id && network.connections[c].instance == k) {
            network.connections.removeAt(c);
            network.rooms[k]->disconnected(id, 1008);
            break;
          }
        }
      }
    }
  }
  network.drain();
  network.tasks.clear();  // what is left refers to the rooms: it goes first
  return 0;
}
