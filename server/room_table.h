// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The rooms of one instance and the connections in them: who hosts which
// room, who waits at its door, who was let in. Leaving a room and closing
// one tell whoever is concerned. Every message goes out through the routing,
// which reaches the connections of other instances too.

#include <optional>

#include <QHash>
#include <QJsonObject>
#include <QString>

#include "protocol/signaling_wire.h"
#include "routing.h"
#include "throttle.h"

namespace lunor::signal {

class RoomTable final {
 public:
  struct Peer {
    QString id;
    QString address;
    QString hostedRoom;  // empty when hosting nothing
    QString joinedRoom;  // empty when neither pending nor admitted
  };
  // A client at a room's door, with what it asked to join with.
  struct PendingJoin {
    QString displayName;
    std::optional<QString> avatar;
    bool awaitingPassword = false;
    QString deviceKey;  // the well-formed device key the join showed, or empty
    // The code host and client may compare: passed on once each way, in
    // its order, and only for a join that committed to its half.
    QByteArray commit;
    bool codeSent = false;
    bool revealed = false;
  };
  struct Room {
    QString id;
    QString hostId;
    QString unattendedHash;  // empty: no unattended access through us
    bool hostProof = false;  // unattended access the host checks itself
    bool owned = false;      // created with the key bound to its ID
    QString admittedId;      // empty: nobody admitted
    QHash<QString, PendingJoin> pending;
    bool lockedToldHost = false;  // the host heard that the day's wrong passwords locked the room
    Throttle::Window requests;    // join requests shown to the host this minute
  };

  // routing: borrowed, must outlive the table.
  explicit RoomTable(Routing& routing) : routing_(routing) {}
  RoomTable(const RoomTable&) = delete;
  RoomTable& operator=(const RoomTable&) = delete;

  // The records, or null. A pointer stays valid until a connection comes or
  // goes (a peer) or until a room opens or closes (a room).
  Peer* peer(const QString& id);
  Room* room(const QString& id);
  bool hasPeer(const QString& peerId) const { return peers_.contains(peerId); }
  bool holds(const QString& roomId) const { return rooms_.contains(roomId); }
  int connectionCount() const { return static_cast<int>(peers_.size()); }
  int roomCount() const { return static_cast<int>(rooms_.size()); }

  // A client ID no connection has.
  QString newClientId() const;
  void add(const QString& peerId, const QString& address);
  void remove(const QString& peerId);
  // Opens the room, in place of any record under its ID; its host (a
  // connection of the table) hosts it from now on.
  void open(const Room& room);

  // To a connection of the table; nothing to one that has gone, nor to
  // any once the table is silenced.
  void send(const QString& peerId, const QJsonObject& message);
  void silence() { silenced_ = true; }
  void sendError(const QString& peerId, signaling::ErrorCode code);
  void close(const QString& peerId, int code, const QString& reason);

  // Takes the peer out of the room it joined, telling the host unless quiet.
  void leaveJoinedRoom(Peer& peer, bool tellHost);
  // Closes a room, telling everyone in it "left". keepRegistration: the room
  // is being replaced here at once (its entry among the instances stays).
  void closeRoom(QString roomId, bool keepRegistration = false);

 private:
  Routing& routing_;
  QHash<QString, Peer> peers_;
  QHash<QString, Room> rooms_;
  bool silenced_ = false;
};

}  // namespace lunor::signal
