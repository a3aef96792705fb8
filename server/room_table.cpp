// SPDX-License-Identifier: GPL-3.0-or-later
#include "room_table.h"

#include <QRandomGenerator>

#include "protocol/server_messages.h"
#include "event_log.h"

namespace lunor::signal {
namespace out = server_messages;

RoomTable::Peer* RoomTable::peer(const QString& id) {
  auto it = peers_.find(id);
  return it == peers_.end() ? nullptr : &*it;
}

RoomTable::Room* RoomTable::room(const QString& id) {
  auto it = rooms_.find(id);
  return it == rooms_.end() ? nullptr : &*it;
}

QString RoomTable::newClientId() const {
  for (;;) {
    const quint64 value = QRandomGenerator::system()->generate64();
    const QString id = QString::number(value, 16).rightJustified(16, QLatin1Char('0'));
    if (!peers_.contains(id)) return id;
  }
}

void RoomTable::add(const QString& peerId, const QString& address) { peers_.insert(peerId, {peerId, address, {}, {}}); }

void RoomTable::remove(const QString& peerId) { peers_.remove(peerId); }

void RoomTable::open(const Room& room) {
  rooms_.insert(room.id, room);
  peers_.find(room.hostId)->hostedRoom = room.id;
}

void RoomTable::send(const QString& peerId, const QJsonObject& message) {
  if (silenced_ || !peers_.contains(peerId)) return;
  routing_.send(peerId, out::encode(message));
}

void RoomTable::sendError(const QString& peerId, signaling::ErrorCode code) {
  send(peerId, out::error(code));
}

void RoomTable::close(const QString& peerId, int code, const QString& reason) {
  if (peers_.contains(peerId)) routing_.close(peerId, code, reason);
}

void RoomTable::leaveJoinedRoom(Peer& peer, bool tellHost) {
  auto roomIt = rooms_.find(peer.joinedRoom);
  peer.joinedRoom.clear();
  if (roomIt == rooms_.end()) return;
  Room& room = *roomIt;
  const bool wasAdmitted = room.admittedId == peer.id;
  const bool wasPending = room.pending.remove(peer.id) > 0;
  if (wasAdmitted) room.admittedId.clear();
  if (tellHost && (wasAdmitted || wasPending)) {
    send(room.hostId, out::peerLeft(peer.id));
  }
}

void RoomTable::closeRoom(QString roomId, bool keepRegistration) {  // by value: callers pass a field it clears
  auto roomIt = rooms_.find(roomId);
  if (roomIt == rooms_.end()) return;
  const Room room = *roomIt;
  rooms_.erase(roomIt);
  if (!keepRegistration) routing_.release(roomId);
  if (auto host = peers_.find(room.hostId); host != peers_.end()) host->hostedRoom.clear();
  QStringList members = room.pending.keys();
  if (!room.admittedId.isEmpty()) members << room.admittedId;
  for (const auto& member : members) {
    auto it = peers_.find(member);
    if (it == peers_.end()) continue;
    it->joinedRoom.clear();
    send(member, out::bare(signaling::MessageType::Left));
  }
  logEvent(QStringLiteral("room-closed"), {{"room", roomId}});
}

}  // namespace lunor::signal
