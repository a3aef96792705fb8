// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The signaling protocol for every connection of the server: rooms named
// after a host's session ID, joins that the host approves or that an
// unattended password admits (Admission), and "signal" relay between a
// room's host and its one admitted client. It knows nothing of sockets:
// connections come in through connected(), their frames through frame(),
// and leave through disconnected(); what goes back out goes through
// RoomsOutput. Every input is bounded (Throttle) and checked; nothing a peer
// sends can crash the server. With several instances, rooms held elsewhere
// are reached through the Routing.

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include "protocol/server_messages.h"
#include "admission.h"
#include "cluster.h"
#include "owner_store.h"
#include "room_table.h"
#include "routing.h"
#include "server_limits.h"
#include "throttle.h"

namespace lunor::signal {

class Rooms final : private LocalRooms {
 public:
  // output and owners are borrowed and must outlive the rooms. clock:
  // milliseconds, monotonic, for every timed limit.
  Rooms(ServerLimits limits, RoomsOutput& output, Throttle::Clock clock, OwnerStore& owners);
  Rooms(const Rooms&) = delete;
  Rooms& operator=(const Rooms&) = delete;

  void setIceServers(IceServersFor iceServers) { admission_.setIceServers(std::move(iceServers)); }
  // With several instances: rooms held elsewhere are reached through
  // `cluster` (borrowed; null: this instance is alone). A connection that
  // joins such a room is proxied there: its frames go to the room's
  // instance, and what that instance says to it comes back through this one.
  void setCluster(Cluster* cluster);
  // A message from another instance.
  void fromInstance(const QByteArray& message) { routing_.fromInstance(message); }
  // A failure count shared by the instances (key as given to the cluster).
  void failureCounted(const QByteArray& key, int count) { throttle_.failureCounted(key, count); }
  // Instances some connection here depends on.
  QSet<QString> instancesInUse() const { return routing_.instancesInUse(); }
  // An instance stopped: what it held for our connections is gone.
  void instanceGone(const QString& instance) { routing_.instanceGone(instance); }
  // A room held here has been taken over by its owner on another instance.
  void roomMoved(const QString& roomId) override;

  // A client ID no connection has: the network side files the new
  // connection under it, then calls connected().
  QString newClientId() const { return table_.newClientId(); }
  // A new connection from `address`; greets it with its client ID.
  void connected(const QString& peerId, const QString& address);
  // One text frame of the connection, as UTF-8.
  void frame(const QString& peerId, const QByteArray& utf8) override;
  // The connection has gone; its room closes, or its host hears it left.
  void disconnected(const QString& peerId, int closeCode) override;
  // The server is shutting down: the connections' departures that follow
  // are its own doing, and nobody is told of them. A host and a client
  // already connected to each other need the server no more; telling them
  // "peer-left" or "left" would end every session a restart of the server
  // (an upgrade, a crash's recovery) happens under.
  void shuttingDown() { table_.silence(); }

  // Forgets what the time-bounded tables no longer need; call it each second.
  void expire() { throttle_.expire(); }

  int connectionCount() const { return table_.connectionCount(); }
  int roomCount() const { return table_.roomCount(); }
  int backoffEntries() const { return throttle_.backoffEntries(); }
  const ServerLimits& limits() const { return limits_; }

 private:
  // A create waiting for the owner store (and the cluster), by connection.
  struct PendingCreate {
    quint64 ticket = 0;
    QString roomId;
  };

  // LocalRooms, for the routing.
  bool hasConnection(const QString& peerId) const override;
  bool answersHere(const QString& roomId) const override;
  bool mayAskFor(const QString& peerId, const QString& roomId) override;
  void arrived(const QString& peerId, const QString& address) override;
  void joinHere(const QString& peerId, const server_messages::Join& join) override;
  void dispatch(const QString& peerId, const QByteArray& utf8) override;
  void vacate(const QString& peerId) override;

  // False (and the peer told) when the address asked for too many rooms this minute.
  bool mayAskForRoom(const RoomTable::Peer& peer, const QString& roomId);
  void handleCreate(RoomTable::Peer& peer, const server_messages::Create& create);
  void placeAndCreate(const QString& peerId, const QString& roomId, const QString& unattendedHash, bool hostProof,
                      Claim claim,
                      quint64 ticket);
  void createRoom(const QString& peerId, const QString& roomId, const QString& unattendedHash, bool hostProof,
                  Claim claim);
  void refuseCreate(const RoomTable::Peer& peer, const QString& roomId);
  void handleSignal(const RoomTable::Peer& peer, const server_messages::Signal& signal);

  const ServerLimits limits_;
  OwnerStore& owners_;
  Routing routing_;
  RoomTable table_;
  Throttle throttle_;
  Admission admission_;
  quint64 nextCreate_ = 1;
  QHash<QString, PendingCreate> creating_;
};

}  // namespace lunor::signal
