// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The values every session speaks of, whichever side it is: its role, why
// it ended, and the end reasons it raises itself.

#include <QString>

namespace lunor {

enum class Role { Host, Client };

// End reasons the session raises itself.
inline constexpr char kReasonPeerLost[] = "L’autre partie s’est déconnectée";
inline constexpr char kReasonSessionStopped[] = "Arrêt de la session";
inline constexpr char kReasonPeerEnded[] = "Session terminée";
inline constexpr char kReasonHostEnded[] = "Session terminée par l’hôte";
inline constexpr char kReasonClientEnded[] = "Session terminée par le client";
inline constexpr char kReasonRejected[] = "Connexion refusée par l'hôte";
inline constexpr char kReasonClientLeft[] = "Le client s'est déconnecté";
inline constexpr char kReasonHostLeft[] = "L'hôte s'est déconnecté";
inline constexpr char kReasonHostNotFound[] = "Hôte introuvable";
inline constexpr char kReasonHostBusy[] = "L’hôte est déjà en session";
inline constexpr char kReasonNoConnection[] = "La connexion n’a pas pu être établie";
inline constexpr char kReasonNoAnswer[] = "L’hôte n’a pas répondu à la demande";
// "<name> s’est déconnecté de votre ordinateur": a named side's own end.
inline constexpr char kDepartureSuffix[] = " s’est déconnecté de votre ordinateur";
inline constexpr char kReasonServerUnreachable[] = "Serveur de connexion injoignable";
inline constexpr char kReasonHostIdentityChanged[] = "L'identité de cet ordinateur a changé";
inline constexpr char kReasonHostNotVerified[] = "L’identité de cet ordinateur n’a pas pu être vérifiée";
inline constexpr char kReasonNotTheCodedPeer[] = "La connexion ne correspond pas au code de vérification";
inline constexpr char kReasonPasswordNotProved[] = "Mot de passe non prouvé à temps";

// Why a session ended: what the program decides on (exit codes, screens),
// where the end reason is the text shown to the person.
enum class EndCause {
  NotEnded,
  LocalStop,          // stop(): the person here, or the program, ended it
  PeerEnded,          // the other side sent its "end"
  PeerLost,           // the peer connection stayed down
  PeerLeft,           // the server says the other side has gone
  Rejected,           // the host refused the join
  HostNotFound,
  HostBusy,
  NoConnection,       // admitted, but no peer connection within its deadline
  NoAnswer,           // the host did not answer the join in time
  ServerUnreachable,  // no signaling server, after every retry
  HostIdentityChanged,  // the host is not the one met before
  HostNotVerified,      // the host's identity does not hold for this connection
  NotTheCodedPeer,      // the connection's peer is not the one whose code was shown
};

// What a session is doing, as its status line tells the person; the
// screens and the terminal word it. Some carry a detail of their own (the
// capture's size, why a share cannot start, when a password is taken again).
enum class Status {
  Initialising,        // also a new connection's ICE state
  Ready,               // the library is up
  Disconnected,        // after a teardown
  ServerConnected,
  ServerDisconnected,
  // the host's
  HostWaiting,         // a start
  RoomRequested,       // the "create" went
  RoomOpen,            // the server made the room, or a request was withdrawn
  JoinRequested,
  PeerArrived,         // negotiating with whoever the server let in
  RoomTaken,           // another connection holds the ID
  ChooseScreen,        // the desktop's dialog waits for the person here
  // the client's
  ConnectingToServer,
  ConnectingToHost,
  RoomJoined,
  WaitingForApproval,
  HostChoosing,        // the host's person chooses what to share
  Admitted,
  Rejected,
  PasswordRequired,
  PasswordWrong,
  CheckingPassword,
  ReceivingVideo,
  // the connection's ICE state
  Establishing,
  Connected,
  ConnectionFailed,
  ConnectionLost,
  Closed,
  UnknownState,
  // the detail alone: an end's reason, the capture's state, a notice
  Detail,
};

// The peer connection as the screens show it.
enum class LinkState { Disconnected, Waiting, New, Checking, Connected, Failed, Closed, Unknown };

}  // namespace lunor
