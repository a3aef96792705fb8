// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Who gets into a room. A join waits at the door until the host approves
// or rejects it; an unattended room admits the right password at once,
// within the throttle's back-off and the room's daily budget of wrong ones.
// Each admitted client is given a device key for the room ("approved":
// deviceKey); a password join that shows it again ("join": deviceKey) is
// not held by the room's daily lock. The host revokes them all with
// "forget-devices", and a new password revokes them too. The host may also
// kick the client it let in.

#include <functional>
#include <vector>

#include <QHash>
#include <QString>

#include "protocol/negotiation_types.h"
#include "protocol/server_messages.h"
#include "owner_store.h"
#include "room_table.h"
#include "server_limits.h"
#include "throttle.h"

namespace lunor::signal {

// TURN servers for the pair being admitted (the client's ID names the
// credentials); none when the server has none to give.
using IceServersFor = std::function<std::vector<rtc::IceServer>(const QString& clientId)>;

class Admission final {
 public:
  // table, throttle and owners are borrowed and must outlive the admission.
  // clock: milliseconds, monotonic.
  Admission(ServerLimits limits, RoomTable& table, Throttle& throttle, OwnerStore& owners, Throttle::Clock clock);
  Admission(const Admission&) = delete;
  Admission& operator=(const Admission&) = delete;

  void setIceServers(IceServersFor iceServers) { iceServers_ = std::move(iceServers); }

  // The protocol's requests, from a connection of the table ("join" from a
  // client; the others from a room's host, about the client `target`).
  void join(RoomTable::Peer& peer, const server_messages::Join& request);
  void approve(RoomTable::Peer& host, const QString& target);
  // "reject" (kick false) or "kick": the one let in goes, one at the door is turned away.
  void reject(RoomTable::Peer& host, const QString& targetId, bool kick);
  void forgetDevices(RoomTable::Peer& host);
  // "join-code" from a host for a client at its door, "join-reveal" from
  // that client: passed on, in their order, once each.
  void passCode(RoomTable::Peer& peer, const server_messages::CodePart& part);
  // The connection has gone: an answer the store owes it is for nobody.
  void forget(const QString& peerId) { deviceChecks_.remove(peerId); }

 private:
  // What is known of the device key a password join showed.
  enum class DeviceCheck { Unchecked, Known, Unknown };

  void admit(RoomTable::Room& room, const QString& clientId, bool unattended, bool hostProof = false);
  // Admits the peer when the password is right and no wait or lock is in
  // its way; a device of the room's (once looked up) is not held by the
  // room's daily lock.
  void checkPassword(RoomTable::Peer& peer, RoomTable::Room& room, const RoomTable::PendingJoin& join,
                     const QString& passwordHash, DeviceCheck device = DeviceCheck::Unchecked);
  // Asks the store whether the join's device key is the room's, then goes
  // on with the password if the peer still waits for that answer.
  void lookUpDevice(RoomTable::Peer& peer, const RoomTable::Room& room, const RoomTable::PendingJoin& join,
                    const QString& passwordHash);

  const ServerLimits limits_;
  RoomTable& table_;
  Throttle& throttle_;
  OwnerStore& owners_;
  Throttle::Clock clock_;
  IceServersFor iceServers_;
  quint64 nextDeviceCheck_ = 1;
  QHash<QString, quint64> deviceChecks_;  // connection → the device lookup its join waits for
};

}  // namespace lunor::signal
