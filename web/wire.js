// SPDX-License-Identifier: GPL-3.0-or-later
// What the browser client reads off the wire, checked as the application
// checks it, and the codec order its answer asks for.

import {kMaxPeerNameChars, kMaxPeerReasonChars, peerText, reasons} from "./text.js";

const kMaxIceServers = 4;
const kMaxDisplays = 16;

export const isObject = (v) => v !== null && typeof v === "object" && !Array.isArray(v);
export const isInteger = (v) => Number.isInteger(v);

// The TURN and STUN servers a message offers, checked as the application
// checks them: at most four, each with its urls, username and credential.
export function iceServersOf(message) {
  const servers = [];
  const text = (v) => typeof v === "string" && v.length <= 512;
  for (const entry of Array.isArray(message.iceServers) ? message.iceServers : []) {
    if (servers.length >= kMaxIceServers || !isObject(entry)) continue;
    const urls = (Array.isArray(entry.urls) ? entry.urls : [entry.urls])
                     .filter((u) => text(u) && /^(turns?|stun):/.test(u))
                     .slice(0, kMaxIceServers);
    if (!urls.length || !text(entry.username) || !text(entry.credential)) continue;
    servers.push({urls, username: entry.username, credential: entry.credential});
  }
  return servers;
}

// The host's display list: at most 16 entries with an integer index and
// text name and resolution, made fit to show.
export function displaysOf(data) {
  const entries = Array.isArray(data.displays) ? data.displays : [];
  return entries.filter((d) => isObject(d) && isInteger(d.index) && d.index >= 0 && d.index <= 1000000 &&
                               typeof d.name === "string" && typeof d.resolution === "string")
                .slice(0, kMaxDisplays)
                .map((d) => ({index: d.index, name: peerText(d.name, kMaxPeerNameChars),
                              resolution: peerText(d.resolution, kMaxPeerNameChars)}));
}

// The reason an "end" payload gives, fit to show, or "Session terminée".
export function endReasonOf(data) {
  const reason = typeof data.reason === "string" ? peerText(data.reason, kMaxPeerReasonChars) : "";
  return reason || reasons.peerEnded;
}

// H264 first among the codecs this answer accepts, where the browser lets a
// page say so.
export function preferH264(pc) {
  if (!window.RTCRtpReceiver || !RTCRtpReceiver.getCapabilities) return;
  const capabilities = RTCRtpReceiver.getCapabilities("video");
  if (!capabilities) return;
  const codecs = [...capabilities.codecs].sort(
      (a, b) => (b.mimeType === "video/H264") - (a.mimeType === "video/H264"));
  for (const transceiver of pc.getTransceivers()) {
    if (transceiver.receiver.track.kind !== "video" || !transceiver.setCodecPreferences) continue;
    try { transceiver.setCodecPreferences(codecs); } catch (e) { /* the offer's order stands */ }
  }
}
