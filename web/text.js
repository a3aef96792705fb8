// SPDX-License-Identifier: GPL-3.0-or-later
// The texts the page shows and sends, worded as the application words them.

import {qualities} from "./schema.js";

export {qualities};

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
  hostIdentityChanged: "L'identité de cet ordinateur a changé",
  hostNotVerified: "L’identité de cet ordinateur n’a pas pu être vérifiée",
  notTheCodedPeer: "La connexion ne correspond pas au code de vérification",
  windowClosed: "Fenêtre fermée",
  // What this side shows when its person left (the host reads departureReason()).
  youLeft: "Vous avez quitté la session",
});

const kSpaces = new Set([0x20, 0xa0, 0x1680, 0x2028, 0x2029, 0x202f, 0x205f, 0x3000]);
const isSpace = (u) => kSpaces.has(u) || (u >= 0x2000 && u <= 0x200a);
const isControl = (u) => u < 0x20 || (u >= 0x7f && u <= 0x9f);
// Embeddings, overrides, isolates and marks that can make text read backwards.
const isBidi = (u) => (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069) || u === 0x200e ||
                      u === 0x200f || u === 0x061c;

// Text the other side chose (a display's name, an end reason), made fit to
// show: controls and bidirectional overrides removed, runs of white space
// kept as one space, trimmed, at most maxChars UTF-16 units (the last one
// "…" when cut, never half a character).
export function peerText(text, maxChars) {
  let clean = "";
  let space = false;
  for (let i = 0; i < text.length; ++i) {
    const u = text.charCodeAt(i);
    if (isControl(u) || isBidi(u)) {
      if (u === 0x09 || u === 0x0a || u === 0x0d) space = true;
      continue;
    }
    if (isSpace(u)) {
      space = true;
      continue;
    }
    if (space && clean) clean += " ";
    space = false;
    clean += text[i];
    if (clean.length > maxChars + 1) break;  // enough to know it is cut
  }
  if (clean.length > maxChars) {
    let cut = maxChars - 1;
    const before = clean.charCodeAt(cut - 1);
    if (cut > 0 && before >= 0xd800 && before <= 0xdbff) --cut;
    clean = clean.slice(0, Math.max(0, cut)) + "…";
  }
  return clean;
}

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

// How long until something may be tried again, rounded up: "45 s",
// "5 min", "23 h 05 min".
export function waitText(ms) {
  const seconds = Math.ceil(Math.max(ms, 0) / 1000);
  if (seconds < 60) return seconds + " s";
  const minutes = Math.ceil(seconds / 60);
  if (minutes < 60) return minutes + " min";
  return Math.floor(minutes / 60) + " h " + String(minutes % 60).padStart(2, "0") + " min";
}

export function endMessage(reason, startMs, nowMs) {
  return reason + "\nDurée : " + durationText(startMs, nowMs) + "\nÀ bientôt !";
}

// A host's ID as a person types it, read: the digits without the spaces,
// dashes and dots they may be grouped with ("604 203 413", "604-203-413").
// `problem` says what is wrong; too few digits are wrong only once the
// person says they are done (`complete`), not while they type.
export const kIdDigits = 9;
export function typedId(text, complete) {
  const id = String(text || "").replace(/[\s.\-\u2010-\u2015\u2212]/g, "");
  const valid = /^[0-9]*$/.test(id) && id.length === kIdDigits;
  let problem = "";
  if (/[^0-9]/.test(id)) problem = "Un ID ne contient que des chiffres";
  else if (id.length > kIdDigits || (complete && !valid)) problem = "Un ID a " + kIdDigits + " chiffres";
  return {id, valid, problem};
}

// Nine characters once the blanks are gone read as three groups of three.
export function prettyId(id) {
  const bare = id.replace(/ /g, "");
  return bare.length === 9 ? bare.slice(0, 3) + " " + bare.slice(3, 6) + " " + bare.slice(6) : id;
}

// When a recent host was last connected to: "7 déc. 2026, 14:03".
export function lastSessionText(ms) {
  return new Intl.DateTimeFormat("fr-FR", {dateStyle: "medium", timeStyle: "short"}).format(new Date(ms));
}

// "Lunor Remote 2026-12-07 14.03.09.png"
export function screenshotName(date) {
  const two = (n) => String(n).padStart(2, "0");
  return "Lunor Remote " + date.getFullYear() + "-" + two(date.getMonth() + 1) + "-" + two(date.getDate()) +
         " " + two(date.getHours()) + "." + two(date.getMinutes()) + "." + two(date.getSeconds()) + ".png";
}
