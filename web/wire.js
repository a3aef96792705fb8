// SPDX-License-Identifier: GPL-3.0-or-later
// What the browser client reads off the wire, checked as the application
// checks it, and the codec order its answer asks for.

import {limits} from "./schema.js";
import {peerText, reasons} from "./text.js";

export const isObject = (v) => v !== null && typeof v === "object" && !Array.isArray(v);
export const isInteger = (v) => Number.isInteger(v);

// The TURN and STUN servers a message offers, checked as the application
// checks them: as many as it takes, each with its urls, username and credential.
export function iceServersOf(message) {
  const servers = [];
  const text = (v) => typeof v === "string" && v.length <= limits.maxIceServerText;
  for (const entry of Array.isArray(message.iceServers) ? message.iceServers : []) {
    if (servers.length >= limits.maxIceServers || !isObject(entry)) continue;
    const urls = (Array.isArray(entry.urls) ? entry.urls : [entry.urls])
                     .filter((u) => text(u) && /^(turns?|stun):/.test(u))
                     .slice(0, limits.maxIceServers);
    if (!urls.length || !text(entry.username) || !text(entry.credential)) continue;
    servers.push({urls, username: entry.username, credential: entry.credential});
  }
  return servers;
}

// A display's index, a width or a height, as the application takes them.
export const isGeometryValue = (v) => isInteger(v) && v >= 0 && v <= limits.maxGeometryValue;

// The host's display list: as many entries as the application reads, each
// with an integer index and a text name and resolution, made fit to show.
export function displaysOf(data) {
  const entries = Array.isArray(data.displays) ? data.displays : [];
  return entries.filter((d) => isObject(d) && isGeometryValue(d.index) &&
                               typeof d.name === "string" && typeof d.resolution === "string")
                .slice(0, limits.maxDisplays)
                .map((d) => ({index: d.index, name: peerText(d.name, limits.maxPeerNameChars),
                              resolution: peerText(d.resolution, limits.maxPeerNameChars)}));
}

// The reason an "end" payload gives, fit to show, or "Session terminée".
export function endReasonOf(data) {
  const reason = typeof data.reason === "string" ? peerText(data.reason, limits.maxPeerReasonChars) : "";
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
