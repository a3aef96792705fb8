// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the tests of the rooms share: Rooms without sockets, on a clock the
// test moves, recording every frame and close they send; the protocol's
// messages; an owner store that answers when the test lets it.

#include <deque>
#include <functional>

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "rooms.h"

namespace lunor::test {

using namespace lunor::signal;

inline const QString kRoom = QStringLiteral("123456789");
inline const QString kOwnerKey = QString(64, '1');
inline const QString kOtherKey = QString(64, '2');
inline const QString kRightHash = QString(64, 'a');
inline const QString kWrongHash = QString(64, 'b');
inline const QString kOtherHash = QString(64, '9');

inline QJsonObject create(const QString& room, const QString& ownerKey = {}, const QString& unattendedHash = {}) {
  QJsonObject message{{"type", "create"}, {"roomId", room}};
  if (!ownerKey.isEmpty()) message.insert("ownerKey", ownerKey);
  if (!unattendedHash.isEmpty()) message.insert("unattended", QJsonObject{{"enabled", true}, {"hash", unattendedHash}});
  return message;
}

inline QJsonObject join(const QString& room, const QJsonValue& passwordHash = QJsonValue::Undefined,
                        const QJsonValue& deviceKey = QJsonValue::Undefined) {
  QJsonObject message{{"type", "join"}, {"roomId", room}, {"displayName", "Zoé"}};
  if (!passwordHash.isUndefined()) message.insert("passwordHash", passwordHash);
  if (!deviceKey.isUndefined()) message.insert("deviceKey", deviceKey);
  return message;
}

// "approve", "reject" or "kick" of `target`.
inline QJsonObject answer(const char* type, const QString& target) { return {{"type", type}, {"target", target}}; }

inline QJsonObject signalOf(const QJsonObject& data) { return {{"type", "signal"}, {"data", data}}; }

struct RecordingOutput final : RoomsOutput {
  void send(const QString& peerId, const QByteArray& json) override {
    sent[peerId] << QJsonDocument::fromJson(json).object();
  }
  void close(const QString& peerId, int code, const QString&) override {
    closed << peerId;
    closeCodes << code;
  }
  QList<QJsonObject> ofType(const QString& peerId, const QString& type) const {
    QList<QJsonObject> found;
    for (const auto& message : sent.value(peerId)) {
      if (message.value("type") == type) found << message;
    }
    return found;
  }
  QHash<QString, QList<QJsonObject>> sent;
  QStringList closed;
  QList<int> closeCodes;
};

// A store whose answers wait until the test releases them, as a store on
// another thread or host gives them. What it is told is done at once.
class DeferredOwnerStore final : public OwnerStore {
 public:
  void claim(const QString& roomId, const QString& digest, std::function<void(Claim)> done) override {
    inner_.claim(roomId, digest, [this, done](Claim claim) { later.push_back([done, claim] { done(claim); }); });
  }
  void addDevice(const QString& roomId, const QString& device, const QString& hash, const QString& replaced,
                 int keep) override {
    inner_.addDevice(roomId, device, hash, replaced, keep);
  }
  void isDevice(const QString& roomId, const QString& device, const QString& hash,
                std::function<void(bool)> done) override {
    inner_.isDevice(roomId, device, hash,
                    [this, done](bool known) { later.push_back([done, known] { done(known); }); });
  }
  void forgetDevices(const QString& roomId, const QString& except, std::function<void(bool)> done) override {
    inner_.forgetDevices(roomId, except, done);
  }
  // Gives the answers held back, in order.
  void release() {
    while (!later.empty()) {
      auto task = std::move(later.front());
      later.pop_front();
      task();
    }
  }
  qsizetype waiting() const { return static_cast<qsizetype>(later.size()); }

  std::deque<std::function<void()>> later;

 private:
  MemoryOwnerStore inner_;
};

// Rooms with a clock the test moves, and helpers to drive connections.
struct Bench {
  explicit Bench(ServerLimits limits = {}, OwnerStore* store = nullptr)
      : owners(store ? store : &memory), rooms(limits, output, [this] { return now; }, *owners) {}
  QString connect(const QString& address = "10.0.0.1") {
    const QString id = rooms.newClientId();
    rooms.connected(id, address);
    return id;
  }
  // A connection from `address` that sent `first`.
  QString connect(const QString& address, const QJsonObject& first) {
    const QString id = connect(address);
    frame(id, first);
    return id;
  }
  QString host(const QJsonObject& create, const QString& address = "10.0.0.1") { return connect(address, create); }
  void frame(const QString& id, const QJsonObject& message) {
    rooms.frame(id, QJsonDocument(message).toJson(QJsonDocument::Compact));
  }
  // The last error code the connection heard, or empty.
  QString code(const QString& id) const { return last(id, "error").value("code").toString(); }
  QJsonObject last(const QString& id, const QString& type) const {
    const auto found = output.ofType(id, type);
    return found.isEmpty() ? QJsonObject() : found.last();
  }
  int count(const QString& id, const QString& type) const { return static_cast<int>(output.ofType(id, type).size()); }
  // The types the connection heard, in order.
  QStringList heard(const QString& id) const {
    QStringList types;
    for (const auto& message : output.sent.value(id)) types << message.value("type").toString();
    return types;
  }

  qint64 now = 0;
  RecordingOutput output;
  MemoryOwnerStore memory;
  OwnerStore* owners;
  Rooms rooms;
};

}  // namespace lunor::test
