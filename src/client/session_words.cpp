// SPDX-License-Identifier: GPL-3.0-or-later
#include "client/session_words.h"

#include <QCoreApplication>

#include "session/session_types.h"

namespace lunor {

QString statusText(Status status, const QString& detail) {
  switch (status) {
    case Status::Initialising: return QCoreApplication::translate("SessionWords", "Initialisation...");
    case Status::Ready: return QCoreApplication::translate("SessionWords", "Prêt");
    case Status::Disconnected: return QCoreApplication::translate("SessionWords", "Déconnecté");
    case Status::ServerConnected: return QCoreApplication::translate("SessionWords", "Serveur connecté");
    case Status::ServerDisconnected: return QCoreApplication::translate("SessionWords", "Serveur déconnecté");
    case Status::HostWaiting: return QCoreApplication::translate("SessionWords", "En attente d’une connexion…");
    case Status::RoomRequested: return QCoreApplication::translate("SessionWords", "En attente de connexion…");
    case Status::RoomOpen: return QCoreApplication::translate("SessionWords", "En attente de connexion...");
    case Status::JoinRequested: return QCoreApplication::translate("SessionWords", "Demande de connexion…");
    case Status::PeerArrived: return QCoreApplication::translate("SessionWords", "Peer connecté, négociation...");
    case Status::RoomTaken: return QCoreApplication::translate("SessionWords", "ID déjà utilisé sur le serveur");
    case Status::ChooseScreen:
      return QCoreApplication::translate("SessionWords", "Choisissez l’écran à partager dans la fenêtre du bureau…");
    case Status::ConnectingToServer: return QCoreApplication::translate("SessionWords", "Connexion au serveur...");
    case Status::ConnectingToHost: return QCoreApplication::translate("SessionWords", "Connexion à l'hôte...");
    case Status::RoomJoined: return QCoreApplication::translate("SessionWords", "Salle rejointe");
    case Status::WaitingForApproval:
      return QCoreApplication::translate("SessionWords", "En attente d'autorisation par l'hôte…");
    case Status::HostChoosing: return QCoreApplication::translate("SessionWords", "L’hôte choisit l’écran à partager…");
    case Status::Admitted: return QCoreApplication::translate("SessionWords", "Autorisé. Initialisation…");
    case Status::Rejected: return QCoreApplication::translate("SessionWords", "Connexion refusée par l'hôte.");
    case Status::PasswordRequired: return QCoreApplication::translate("SessionWords", "Mot de passe requis");
    case Status::PasswordWrong: return QCoreApplication::translate("SessionWords", "Mot de passe incorrect");
    case Status::CheckingPassword: return QCoreApplication::translate("SessionWords", "Vérification du mot de passe…");
    case Status::ReceivingVideo: return QCoreApplication::translate("SessionWords", "Réception vidéo active");
    case Status::Establishing: return QCoreApplication::translate("SessionWords", "Établissement...");
    case Status::Connected: return QCoreApplication::translate("SessionWords", "Connexion établie");
    case Status::ConnectionFailed: return QCoreApplication::translate("SessionWords", "Échec de connexion");
    case Status::ConnectionLost: return QCoreApplication::translate("SessionWords", "Connexion perdue");
    case Status::Closed: return QCoreApplication::translate("SessionWords", "Fermé");
    case Status::UnknownState: return QCoreApplication::translate("SessionWords", "État inconnu");
    case Status::Detail: break;
  }
  return detail;
}

QString linkStateText(LinkState state) {
  switch (state) {
    case LinkState::Disconnected: return QCoreApplication::translate("SessionWords", "déconnecté");
    case LinkState::Waiting: return QCoreApplication::translate("SessionWords", "attente");
    case LinkState::New: return QCoreApplication::translate("SessionWords", "nouveau");
    case LinkState::Checking: return QCoreApplication::translate("SessionWords", "vérification...");
    case LinkState::Connected: return QCoreApplication::translate("SessionWords", "connecté ✓");
    case LinkState::Failed: return QCoreApplication::translate("SessionWords", "échec");
    case LinkState::Closed: return QCoreApplication::translate("SessionWords", "fermé");
    case LinkState::Unknown: break;
  }
  return QCoreApplication::translate("SessionWords", "inconnu");
}

bool endedBeforeSession(EndCause cause) {
  switch (cause) {
    case EndCause::Rejected:
    case EndCause::HostNotFound:
    case EndCause::HostBusy:
    case EndCause::NoConnection:
    case EndCause::NoAnswer:
    case EndCause::ServerUnreachable:
    case EndCause::HostIdentityChanged:
    case EndCause::HostNotVerified:
    case EndCause::NotTheCodedPeer: return true;
    case EndCause::NotEnded:
    case EndCause::LocalStop:
    case EndCause::PeerEnded:
    case EndCause::PeerLost:
    case EndCause::PeerLeft: break;
  }
  return false;
}

QString endReasonText(EndCause cause, const QString& reason, Role role) {
  switch (cause) {
    // The person left: said in their words here (the host was told in its own).
    case EndCause::LocalStop:
      if (role == Role::Client) return QCoreApplication::translate("SessionWords", "Vous avez quitté la session");
      break;
    case EndCause::PeerLost: return QCoreApplication::translate("SessionWords", "L’autre partie s’est déconnectée");
    case EndCause::PeerLeft:
      return role == Role::Host ? QCoreApplication::translate("SessionWords", "Le client s'est déconnecté")
                                : QCoreApplication::translate("SessionWords", "L'hôte s'est déconnecté");
    case EndCause::Rejected: return QCoreApplication::translate("SessionWords", "Connexion refusée par l'hôte");
    case EndCause::HostNotFound: return QCoreApplication::translate("SessionWords", "Hôte introuvable");
    case EndCause::HostBusy: return QCoreApplication::translate("SessionWords", "L’hôte est déjà en session");
    case EndCause::NoConnection: return QCoreApplication::translate("SessionWords", "La connexion n’a pas pu être établie");
    case EndCause::NoAnswer: return QCoreApplication::translate("SessionWords", "L’hôte n’a pas répondu à la demande");
    case EndCause::ServerUnreachable: return QCoreApplication::translate("SessionWords", "Serveur de connexion injoignable");
    case EndCause::HostIdentityChanged:
      return QCoreApplication::translate("SessionWords", "L'identité de cet ordinateur a changé");
    case EndCause::HostNotVerified:
      return QCoreApplication::translate("SessionWords", "L’identité de cet ordinateur n’a pas pu être vérifiée");
    case EndCause::NotTheCodedPeer:
      return QCoreApplication::translate("SessionWords", "La connexion ne correspond pas au code de vérification");
    case EndCause::NotEnded:
    case EndCause::PeerEnded: break;
  }
  return peerReasonText(reason);
}

QString peerReasonText(const QString& reason) {
  // The reasons our peers put in "end" are French sentences on the wire;
  // the ones we know are worded in the reader's language, any other shows
  // as it came.
  struct Known {
    const char* wire;
    const char* words;
  };
  static constexpr Known kKnown[] = {
      {kReasonHostEnded, QT_TRANSLATE_NOOP("SessionWords", "Session terminée par l’hôte")},
      {kReasonClientEnded, QT_TRANSLATE_NOOP("SessionWords", "Session terminée par le client")},
      {kReasonPeerEnded, QT_TRANSLATE_NOOP("SessionWords", "Session terminée")},
      {kReasonSessionStopped, QT_TRANSLATE_NOOP("SessionWords", "Arrêt de la session")},
  };
  for (const Known& known : kKnown) {
    if (reason == QString::fromUtf8(known.wire)) return QCoreApplication::translate("SessionWords", known.words);
  }
  static const QString kLeftSuffix = QString::fromUtf8(kDepartureSuffix);
  if (reason.endsWith(kLeftSuffix) && reason.size() > kLeftSuffix.size()) {
    return QCoreApplication::translate("SessionWords", "%1 s’est déconnecté de votre ordinateur")
        .arg(reason.chopped(kLeftSuffix.size()));
  }
  return reason;
}

}  // namespace lunor
