// The texts the page shows and sends, worded as the application words them.

export const qualities = Object.freeze([
  {raw: "low", label: "Basse — 720p / 15 fps", width: 1280, height: 720},
  {raw: "medium", label: "Normale — 1080p / 25 fps", width: 1920, height: 1080},
  {raw: "high", label: "Élevée — 1080p / 30 fps", width: 1920, height: 1080},
  {raw: "epic", label: "EPIC — 1440p / 60 fps", width: 2560, height: 1440},
]);

export const qualityOf = (raw) => qualities.find((q) => q.raw === raw) || null;

export const displayModes = Object.freeze([
  {mode: "fit", label: "Adapté", icon: "rectangle.expand.vertical"},
  {mode: "fill", label: "Remplir", icon: "rectangle.fill"},
  {mode: "original", label: "1:1", icon: ""},
]);

// Why a session ended, as the application's client says it.
export const reasons = Object.freeze({
  peerLost: "L’autre partie s’est déconnectée",
  peerEnded: "Session terminée",
  clientEnded: "Session terminée par le client",
  rejected: "Connexion refusée par l'hôte",
  hostLeft: "L'hôte s'est déconnecté",
  hostNotFound: "Hôte introuvable",
  hostBusy: "L’hôte est déjà en session",
  noConnection: "La connexion n’a pas pu être établie",
  noAnswer: "L’hôte n’a pas répondu à la demande",
  serverUnreachable: "Serveur de connexion injoignable",
  windowClosed: "Fenêtre fermée",
});

// The ICE state's label for the tool bar and the status it sets.
export function iceStateTexts(state) {
  switch (state) {
    case "new": return ["nouveau", "Initialisation..."];
    case "checking": return ["vérification...", "Établissement..."];
    case "connected":
    case "completed": return ["connecté ✓", "Connexion établie"];
    case "failed": return ["échec", "Échec de connexion"];
    case "disconnected": return ["déconnecté", "Connexion perdue"];
    case "closed": return ["fermé", "Fermé"];
    default: return ["inconnu", "État inconnu"];
  }
}

// What the host is told when this person leaves: their name if they gave one.
export function departureReason(displayName) {
  const name = (displayName || "").trim();
  return name ? name + " s’est déconnecté de votre ordinateur" : reasons.clientEnded;
}

// 42s, 7m 07s, 1h 02m 03s; "0s" without a start.
export function durationText(startMs, nowMs) {
  if (!startMs) return "0s";
  const t = Math.max(0, Math.floor((nowMs - startMs) / 1000));
  const two = (n) => String(n).padStart(2, "0");
  if (t < 60) return t + "s";
  if (t < 3600) return Math.floor(t / 60) + "m " + two(t % 60) + "s";
  return Math.floor(t / 3600) + "h " + two(Math.floor((t % 3600) / 60)) + "m " + two(t % 60) + "s";
}

export function endMessage(reason, startMs, nowMs) {
  return reason + "\nDurée : " + durationText(startMs, nowMs) + "\nÀ bientôt !";
}

// Nine characters once the blanks are gone read as three groups of three.
export function prettyId(id) {
  const bare = id.replace(/ /g, "");
  return bare.length === 9 ? bare.slice(0, 3) + " " + bare.slice(3, 6) + " " + bare.slice(6) : id;
}

// "Lunor Remote 2026-12-07 14.03.09.png"
export function screenshotName(date) {
  const two = (n) => String(n).padStart(2, "0");
  return "Lunor Remote " + date.getFullYear() + "-" + two(date.getMonth() + 1) + "-" + two(date.getDate()) +
         " " + two(date.getHours()) + "." + two(date.getMinutes()) + "." + two(date.getSeconds()) + ".png";
}
