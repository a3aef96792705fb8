<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="fr">
<context>
    <name>ClientScreen</name>
    <message>
        <source>Retour</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>Annuaire</source>
        <translation>Directory</translation>
    </message>
    <message>
        <source>Nouveau dossier</source>
        <translation>New folder</translation>
    </message>
    <message>
        <source>Retour à l’annuaire</source>
        <translation>Back to the directory</translation>
    </message>
    <message>
        <source>Dossier</source>
        <translation>Folder</translation>
    </message>
    <message>
        <source>Renommer le dossier</source>
        <translation>Rename folder</translation>
    </message>
    <message>
        <source>Supprimer le dossier</source>
        <translation>Delete folder</translation>
    </message>
    <message>
        <source>Connexions récentes</source>
        <translation>Recent connections</translation>
    </message>
    <message>
        <source>Dossiers</source>
        <translation>Folders</translation>
    </message>
    <message>
        <source>Aucun dossier. Crée un dossier pour organiser tes connexions.</source>
        <translation>No folders yet. Create one to organize your connections.</translation>
    </message>
    <message>
        <source>Aucune connexion dans ce dossier.</source>
        <translation>No connections in this folder.</translation>
    </message>
    <message>
        <source>Renommer la connexion</source>
        <translation>Rename connection</translation>
    </message>
    <message>
        <source>Connexion impossible</source>
        <translation>Could not connect</translation>
    </message>
    <message>
        <source>Session terminée</source>
        <translation>Session ended</translation>
    </message>
</context>
<context>
    <name>CollapsibleLogs</name>
    <message>
        <source>Masquer les logs</source>
        <translation>Hide logs</translation>
    </message>
    <message>
        <source>Afficher les logs</source>
        <translation>Show logs</translation>
    </message>
    <message>
        <source>Copier les logs</source>
        <translation>Copy logs</translation>
    </message>
</context>
<context>
    <name>ConnectCard</name>
    <message>
        <source>Entrez l&apos;ID de session</source>
        <translation>Enter the session ID</translation>
    </message>
    <message>
        <source>Ex: 123456</source>
        <translation>e.g. 123456</translation>
    </message>
    <message>
        <source>Connexion...</source>
        <translation>Connecting...</translation>
    </message>
    <message>
        <source>Se connecter</source>
        <translation>Connect</translation>
    </message>
</context>
<context>
    <name>ConnectionCard</name>
    <message>
        <source>Renommer</source>
        <translation>Rename</translation>
    </message>
    <message>
        <source>Déplacer dans…</source>
        <translation>Move to…</translation>
    </message>
    <message>
        <source>Supprimer</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>Se connecter</source>
        <translation>Connect</translation>
    </message>
</context>
<context>
    <name>EndAlert</name>
    <message>
        <source>Session terminée</source>
        <translation>Session ended</translation>
    </message>
    <message>
        <source>OK (%1)</source>
        <translation>OK (%1)</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>EndSessionPanel</name>
    <message>
        <source>Session terminée</source>
        <translation>Session ended</translation>
    </message>
</context>
<context>
    <name>EndSessionView</name>
    <message>
        <source>Session terminée</source>
        <translation>Session ended</translation>
    </message>
    <message>
        <source>OK (%1)</source>
        <translation>OK (%1)</translation>
    </message>
</context>
<context>
    <name>FileOfferView</name>
    <message>
        <source>%1 vous envoie un fichier</source>
        <translation>%1 is sending you a file</translation>
    </message>
    <message>
        <source>Le client</source>
        <translation>The client</translation>
    </message>
    <message>
        <source>%1 · dans Téléchargements, dossier « Lunor Remote »</source>
        <translation>%1 · in Downloads, “Lunor Remote” folder</translation>
    </message>
    <message>
        <source>Refuser</source>
        <translation>Decline</translation>
    </message>
    <message>
        <source>Accepter</source>
        <translation>Accept</translation>
    </message>
</context>
<context>
    <name>FolderTile</name>
    <message>
        <source>Renommer</source>
        <translation>Rename</translation>
    </message>
    <message>
        <source>Supprimer</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>Ouvrir</source>
        <translation>Open</translation>
    </message>
</context>
<context>
    <name>HomeScreen</name>
    <message>
        <source>Contrôle à distance sécurisé</source>
        <translation>Secure remote control</translation>
    </message>
    <message>
        <source>Système opérationnel — Toutes les autorisations sont accordées</source>
        <translation>System ready — all permissions granted</translation>
    </message>
    <message>
        <source>Vérifications système</source>
        <translation>System checks</translation>
    </message>
    <message>
        <source>Re-vérifier</source>
        <translation>Check again</translation>
    </message>
    <message>
        <source>Accessibilité</source>
        <translation>Accessibility</translation>
    </message>
    <message>
        <source>Accessibilité manquante</source>
        <translation>Accessibility missing</translation>
    </message>
    <message>
        <source>Ouvrir Réglages</source>
        <translation>Open Settings</translation>
    </message>
    <message>
        <source>Enregistrement de l’écran</source>
        <translation>Screen recording</translation>
    </message>
    <message>
        <source>Autorisation d’enregistrement manquante</source>
        <translation>Screen recording permission missing</translation>
    </message>
    <message>
        <source>Partager mon écran</source>
        <translation>Share my screen</translation>
    </message>
    <message>
        <source>Permettre à quelqu&apos;un de voir mon écran</source>
        <translation>Let someone see my screen</translation>
    </message>
    <message>
        <source>Se connecter à un ordinateur</source>
        <translation>Connect to a computer</translation>
    </message>
    <message>
        <source>Voir l&apos;écran d&apos;un autre ordinateur</source>
        <translation>See another computer&apos;s screen</translation>
    </message>
    <message>
        <source>Permissions requises</source>
        <translation>Permissions required</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
</context>
<context>
    <name>HostScreen</name>
    <message>
        <source>Retour</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>Connecté</source>
        <translation>Connected</translation>
    </message>
    <message>
        <source>En attente</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>ID: %1</source>
        <translation>ID: %1</translation>
    </message>
    <message>
        <source>Accès sans surveillance bloqué pour aujourd’hui</source>
        <translation>Unattended access blocked for today</translation>
    </message>
    <message>
        <source>Votre ID de machine</source>
        <translation>Your machine ID</translation>
    </message>
    <message>
        <source>Copier l&apos;ID</source>
        <translation>Copy ID</translation>
    </message>
    <message>
        <source>En attente d’une connexion…</source>
        <translation>Waiting for a connection…</translation>
    </message>
    <message>
        <source>Plein écran</source>
        <translation>Full screen</translation>
    </message>
    <message>
        <source>Capture d&apos;écran</source>
        <translation>Screenshot</translation>
    </message>
</context>
<context>
    <name>HudView</name>
    <message>
        <source>Client connecté</source>
        <translation>Client connected</translation>
    </message>
    <message>
        <source>Presse-papiers partagé</source>
        <translation>Clipboard shared</translation>
    </message>
    <message>
        <source>Presse-papiers coupé</source>
        <translation>Clipboard off</translation>
    </message>
    <message>
        <source>Quitter</source>
        <translation>Quit</translation>
    </message>
</context>
<context>
    <name>JoinRequestView</name>
    <message>
        <source>souhaite se connecter à votre ordinateur</source>
        <translation>wants to connect to your computer</translation>
    </message>
    <message>
        <source>Presse-papiers partagé</source>
        <translation>Clipboard shared</translation>
    </message>
    <message>
        <source>Presse-papiers coupé</source>
        <translation>Clipboard off</translation>
    </message>
    <message>
        <source>Refuser</source>
        <translation>Decline</translation>
    </message>
    <message>
        <source>Autoriser</source>
        <translation>Allow</translation>
    </message>
    <message>
        <source>Code de vérification</source>
        <translation>Verification code</translation>
    </message>
    <message>
        <source>La personne qui se connecte voit le même code. S’il diffère, refusez.</source>
        <translation>The person connecting sees the same code. If it differs, refuse.</translation>
    </message>
</context>
<context>
    <name>MoveSheet</name>
    <message>
        <source>Déplacer dans…</source>
        <translation>Move to…</translation>
    </message>
    <message>
        <source>Sans dossier</source>
        <translation>No folder</translation>
    </message>
    <message>
        <source>Fermer</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>PasswordSheet</name>
    <message>
        <source>Accès non surveillé</source>
        <translation>Unattended access</translation>
    </message>
    <message>
        <source>Mot de passe distant</source>
        <translation>Remote password</translation>
    </message>
    <message>
        <source>Annuler</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Continuer</source>
        <translation>Continue</translation>
    </message>
</context>
<context>
    <name>PermissionRow</name>
    <message>
        <source>Tout est prêt</source>
        <translation>All set</translation>
    </message>
    <message>
        <source>%1 • Clique sur “Ouvrir Réglages”</source>
        <translation>%1 • Click “Open Settings”</translation>
    </message>
    <message>
        <source>Re-vérifier</source>
        <translation>Check again</translation>
    </message>
</context>
<context>
    <name>RenameSheet</name>
    <message>
        <source>Annuler</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>SessionStage</name>
    <message>
        <source>Déposer pour envoyer à l’hôte</source>
        <translation>Drop to send to the host</translation>
    </message>
</context>
<context>
    <name>SessionWords</name>
    <message>
        <source>Initialisation...</source>
        <translation>Starting...</translation>
    </message>
    <message>
        <source>Prêt</source>
        <translation>Ready</translation>
    </message>
    <message>
        <source>Déconnecté</source>
        <translation>Disconnected</translation>
    </message>
    <message>
        <source>Serveur connecté</source>
        <translation>Server connected</translation>
    </message>
    <message>
        <source>Serveur déconnecté</source>
        <translation>Server disconnected</translation>
    </message>
    <message>
        <source>En attente d’une connexion…</source>
        <translation>Waiting for a connection…</translation>
    </message>
    <message>
        <source>En attente de connexion…</source>
        <translation>Waiting for a connection…</translation>
    </message>
    <message>
        <source>En attente de connexion...</source>
        <translation>Waiting for a connection...</translation>
    </message>
    <message>
        <source>Demande de connexion…</source>
        <translation>Connection request…</translation>
    </message>
    <message>
        <source>Peer connecté, négociation...</source>
        <translation>Peer connected, negotiating...</translation>
    </message>
    <message>
        <source>ID déjà utilisé sur le serveur</source>
        <translation>ID already in use on the server</translation>
    </message>
    <message>
        <source>Choisissez l’écran à partager dans la fenêtre du bureau…</source>
        <translation>Choose the screen to share in the desktop’s window…</translation>
    </message>
    <message>
        <source>Connexion au serveur...</source>
        <translation>Connecting to the server...</translation>
    </message>
    <message>
        <source>Connexion à l&apos;hôte...</source>
        <translation>Connecting to the host...</translation>
    </message>
    <message>
        <source>Salle rejointe</source>
        <translation>Joined the room</translation>
    </message>
    <message>
        <source>En attente d&apos;autorisation par l&apos;hôte…</source>
        <translation>Waiting for the host to let you in…</translation>
    </message>
    <message>
        <source>L’hôte choisit l’écran à partager…</source>
        <translation>The host is choosing the screen to share…</translation>
    </message>
    <message>
        <source>Autorisé. Initialisation…</source>
        <translation>Let in. Starting…</translation>
    </message>
    <message>
        <source>Connexion refusée par l&apos;hôte.</source>
        <translation>The host refused the connection.</translation>
    </message>
    <message>
        <source>Mot de passe requis</source>
        <translation>Password required</translation>
    </message>
    <message>
        <source>Mot de passe incorrect</source>
        <translation>Wrong password</translation>
    </message>
    <message>
        <source>Vérification du mot de passe…</source>
        <translation>Checking the password…</translation>
    </message>
    <message>
        <source>Réception vidéo active</source>
        <translation>Receiving the picture</translation>
    </message>
    <message>
        <source>Établissement...</source>
        <translation>Connecting...</translation>
    </message>
    <message>
        <source>Connexion établie</source>
        <translation>Connected</translation>
    </message>
    <message>
        <source>Échec de connexion</source>
        <translation>Connection failed</translation>
    </message>
    <message>
        <source>Connexion perdue</source>
        <translation>Connection lost</translation>
    </message>
    <message>
        <source>Fermé</source>
        <translation>Closed</translation>
    </message>
    <message>
        <source>État inconnu</source>
        <translation>Unknown state</translation>
    </message>
    <message>
        <source>déconnecté</source>
        <translation>disconnected</translation>
    </message>
    <message>
        <source>attente</source>
        <translation>waiting</translation>
    </message>
    <message>
        <source>nouveau</source>
        <translation>new</translation>
    </message>
    <message>
        <source>vérification...</source>
        <translation>checking...</translation>
    </message>
    <message>
        <source>connecté ✓</source>
        <translation>connected ✓</translation>
    </message>
    <message>
        <source>échec</source>
        <translation>failed</translation>
    </message>
    <message>
        <source>fermé</source>
        <translation>closed</translation>
    </message>
    <message>
        <source>inconnu</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>L’autre partie s’est déconnectée</source>
        <translation>The other side disconnected</translation>
    </message>
    <message>
        <source>Le client s&apos;est déconnecté</source>
        <translation>The client disconnected</translation>
    </message>
    <message>
        <source>L&apos;hôte s&apos;est déconnecté</source>
        <translation>The host disconnected</translation>
    </message>
    <message>
        <source>Connexion refusée par l&apos;hôte</source>
        <translation>The host refused the connection</translation>
    </message>
    <message>
        <source>Hôte introuvable</source>
        <translation>Host not found</translation>
    </message>
    <message>
        <source>L’hôte est déjà en session</source>
        <translation>The host is already in a session</translation>
    </message>
    <message>
        <source>La connexion n’a pas pu être établie</source>
        <translation>The connection could not be made</translation>
    </message>
    <message>
        <source>L’hôte n’a pas répondu à la demande</source>
        <translation>The host did not answer the request</translation>
    </message>
    <message>
        <source>Serveur de connexion injoignable</source>
        <translation>Cannot reach the connection server</translation>
    </message>
    <message>
        <source>Session terminée par l’hôte</source>
        <translation>Session ended by the host</translation>
    </message>
    <message>
        <source>Session terminée par le client</source>
        <translation>Session ended by the client</translation>
    </message>
    <message>
        <source>Session terminée</source>
        <translation>Session ended</translation>
    </message>
    <message>
        <source>Arrêt de la session</source>
        <translation>The session was stopped</translation>
    </message>
    <message>
        <source>%1 s’est déconnecté de votre ordinateur</source>
        <translation>%1 disconnected from your computer</translation>
    </message>
    <message>
        <source>L&apos;identité de cet ordinateur a changé</source>
        <translation>This computer&apos;s identity has changed</translation>
    </message>
    <message>
        <source>L’identité de cet ordinateur n’a pas pu être vérifiée</source>
        <translation>This computer&apos;s identity could not be verified</translation>
    </message>
    <message>
        <source>La connexion ne correspond pas au code de vérification</source>
        <translation>The connection does not match the verification code</translation>
    </message>
    <message>
        <source>Vous avez quitté la session</source>
        <translation>You left the session</translation>
    </message>
</context>
<context>
    <name>SettingsSheet</name>
    <message>
        <source>Profil</source>
        <translation>Profile</translation>
    </message>
    <message>
        <source>Prénom</source>
        <translation>First name</translation>
    </message>
    <message>
        <source>Nom</source>
        <translation>Last name</translation>
    </message>
    <message>
        <source>Choisir une photo…</source>
        <translation>Choose a picture…</translation>
    </message>
    <message>
        <source>Supprimer la photo</source>
        <translation>Remove picture</translation>
    </message>
    <message>
        <source>Presse-papiers</source>
        <translation>Clipboard</translation>
    </message>
    <message>
        <source>Envoyer mon presse-papiers à l&apos;autre ordinateur</source>
        <translation>Send my clipboard to the other computer</translation>
    </message>
    <message>
        <source>Recevoir le presse-papiers de l&apos;autre ordinateur</source>
        <translation>Receive the other computer&apos;s clipboard</translation>
    </message>
    <message>
        <source>Texte et images, dans les deux sens, avec un autre Lunor Remote. Ce qui vient de l&apos;autre ordinateur n&apos;est jamais renvoyé.</source>
        <translation>Text and pictures, both ways, with another Lunor Remote. What comes from the other computer is never sent back.</translation>
    </message>
    <message>
        <source>Accès non surveillé</source>
        <translation>Unattended access</translation>
    </message>
    <message>
        <source>Autoriser l&apos;accès sans approbation</source>
        <translation>Allow access without approval</translation>
    </message>
    <message>
        <source>Quand activé, un client qui connaît le mot de passe pourra se connecter sans que tu acceptes la popup.</source>
        <translation>When on, a client who knows the password can connect without you accepting the prompt.</translation>
    </message>
    <message>
        <source>Oublier les ordinateurs connus</source>
        <translation>Forget known computers</translation>
    </message>
    <message>
        <source>Ils devront de nouveau être admis avant de passer un blocage du serveur.</source>
        <translation>They will need to be let in again before they can get past a server lock.</translation>
    </message>
    <message>
        <source>Mot de passe distant</source>
        <translation>Remote password</translation>
    </message>
    <message>
        <source>Confirmer le mot de passe</source>
        <translation>Confirm password</translation>
    </message>
    <message>
        <source>Annuler</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Enregistrer</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Fermer</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Les mots de passe ne correspondent pas</source>
        <translation>The passwords don&apos;t match</translation>
    </message>
    <message>
        <source>Vérifie la confirmation du mot de passe.</source>
        <translation>Check the password confirmation.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Choisir une photo de profil</source>
        <translation>Choose a profile picture</translation>
    </message>
    <message>
        <source>Accepter les clients qui ne prouvent pas le mot de passe eux-mêmes</source>
        <translation>Accept clients that do not prove the password themselves</translation>
    </message>
    <message>
        <source>Le serveur de connexion reçoit l&apos;empreinte du mot de passe et admet lui-même ces clients : qui contrôle ce serveur peut alors voir et piloter cet ordinateur sans le mot de passe.</source>
        <translation>The connection server receives the password&apos;s digest and admits these clients itself: whoever controls that server can then see and drive this computer without the password.</translation>
    </message>
    <message>
        <source>Le mot de passe est vérifié par cet ordinateur : le serveur de connexion n&apos;en reçoit rien et ne peut admettre personne.</source>
        <translation>This computer checks the password itself: the connection server receives nothing of it and cannot admit anyone.</translation>
    </message>
</context>
<context>
    <name>Stage</name>
    <message>
        <source>Cet ordinateur demande son mot de passe.</source>
        <translation>This computer asks for its password.</translation>
    </message>
    <message>
        <source>Saisir le mot de passe</source>
        <translation>Enter the password</translation>
    </message>
</context>
<context>
    <name>TopBar</name>
    <message>
        <source>Adapté</source>
        <translation>Fit</translation>
    </message>
    <message>
        <source>Remplir</source>
        <translation>Fill</translation>
    </message>
    <message>
        <source>Déconnecter</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>Retour</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>Connecté</source>
        <translation>Connected</translation>
    </message>
    <message>
        <source>Déconnecté</source>
        <translation>Disconnected</translation>
    </message>
    <message>
        <source>ID: %1</source>
        <translation>ID: %1</translation>
    </message>
    <message>
        <source>Envoyer mon presse-papiers</source>
        <translation>Send my clipboard</translation>
    </message>
    <message>
        <source>Recevoir celui de l&apos;hôte</source>
        <translation>Receive the host&apos;s</translation>
    </message>
    <message>
        <source>Envoyer des fichiers à l’hôte</source>
        <translation>Send files to the host</translation>
    </message>
    <message>
        <source>Rafraîchir la connexion</source>
        <translation>Refresh the connection</translation>
    </message>
    <message>
        <source>Redemander la qualité</source>
        <translation>Ask for the quality again</translation>
    </message>
    <message>
        <source>Plein écran</source>
        <translation>Full screen</translation>
    </message>
    <message>
        <source>Capture d&apos;écran</source>
        <translation>Screenshot</translation>
    </message>
    <message>
        <source>Session à part</source>
        <translation>Separate session</translation>
    </message>
    <message>
        <source>Un bureau propre à cet ordinateur, que son écran ne montre pas</source>
        <translation>A desktop of this computer&apos;s own, which its screen does not show</translation>
    </message>
    <message>
        <source>Ajuster l’écran à la fenêtre</source>
        <translation>Fit the screen to the window</translation>
    </message>
</context>
<context>
    <name>WaitingOverlay</name>
    <message>
        <source>En attente d&apos;autorisation par l&apos;hôte…</source>
        <translation>Waiting for the host to let you in…</translation>
    </message>
    <message>
        <source>Code de vérification</source>
        <translation>Verification code</translation>
    </message>
    <message>
        <source>L’ordinateur distant affiche le même code avec votre demande.</source>
        <translation>The remote computer shows the same code with your request.</translation>
    </message>
</context>
<context>
    <name>lunor::Desktop</name>
    <message>
        <source>Images (%1)</source>
        <translation>Images (%1)</translation>
    </message>
    <message>
        <source>📸 Capture d&apos;écran impossible : aucune image</source>
        <translation>📸 Screenshot failed: no picture</translation>
    </message>
    <message>
        <source>📸 Capture d&apos;écran impossible : aucune image reçue</source>
        <translation>📸 Screenshot failed: no picture received</translation>
    </message>
    <message>
        <source>📸 Capture enregistrée : %1</source>
        <translation>📸 Screenshot saved: %1</translation>
    </message>
    <message>
        <source>📸 Capture d&apos;écran impossible : écriture de %1 refusée</source>
        <translation>📸 Screenshot failed: could not write %1</translation>
    </message>
</context>
<context>
    <name>lunor::QmlSessionPanels</name>
    <message>
        <source>⚠️ Panneau %1 indisponible : %2</source>
        <translation>⚠️ Panel %1 unavailable: %2</translation>
    </message>
    <message>
        <source>Connexion entrante</source>
        <translation>Incoming connection</translation>
    </message>
</context>
<context>
    <name>lunor::UiText</name>
    <message>
        <source>Durée : %1</source>
        <translation>Duration: %1</translation>
    </message>
    <message>
        <source>À bientôt !</source>
        <translation>See you soon!</translation>
    </message>
    <message>
        <source>%1 connexions</source>
        <translation>%1 connections</translation>
    </message>
    <message>
        <source>%1 connexion</source>
        <translation>%1 connection</translation>
    </message>
    <message>
        <source>%1 connexion</source>
        <comment>none</comment>
        <translation>%1 connections</translation>
    </message>
    <message>
        <source>Basse</source>
        <translation>Low</translation>
    </message>
    <message>
        <source>Normale</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>Élevée</source>
        <translation>High</translation>
    </message>
    <message>
        <source>EPIC</source>
        <translation>EPIC</translation>
    </message>
    <message>
        <source>%1 — %2p / %3 fps</source>
        <translation>%1 — %2p / %3 fps</translation>
    </message>
</context>
</TS>
