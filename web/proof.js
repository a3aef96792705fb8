// SPDX-License-Identifier: GPL-3.0-or-later
// The password proved to the host itself, on the peer connection's channel
// "proof", byte for byte as the application proves it (docs/security.md):
// the host's identity signs both certificates' fingerprints, then a CPace
// exchange over ristretto255 shows that both sides hold the same password
// without either sending it, to the host or to the server.
//
//   host   → client  {"t":"hello","v":1,"sid":…,"key":…,"sig":…}
//   client → host    {"t":"start","share":…[,"device":…,"deviceProof":…]}
//   host   → client  {"t":"reply","share":…,"confirm":…} or {"t":"wait",…}
//   client → host    {"t":"confirm","confirm":…}
//   host   → client  {"t":"welcome"[,"deviceKey":…]} or {"t":"denied",…}
//
// And the code both people may compare before the host's person lets the
// client in, from both certificates and a nonce of each side's, passed
// through the server in an order that leaves it nothing to choose:
//   client → host  "join"        "commit": codeCommitment(own fingerprint, own nonce)
//   host → client  "join-code"   the host's fingerprint and nonce
//   client → host  "join-reveal" own fingerprint and nonce

import {ed25519, ristretto255, ristretto255_hasher} from "./vendor/noble-curves/ed25519.js";
import {bytesToNumberLE, equalBytes} from "./vendor/noble-curves/utils.js";
import {hmac} from "./vendor/noble-hashes/hmac.js";
import {sha256, sha512} from "./vendor/noble-hashes/sha2.js";

export const kChannel = "proof";
const kVersion = 1;
const kMaxMessageBytes = 1024;
const kMaxWaitMs = 86400000;
const sizes = {share: 32, key: 32, sig: 64, sid: 16, confirm: 32, device: 16, deviceProof: 32, deviceKey: 32};

const Point = ristretto255.Point;
const utf8 = (text) => new TextEncoder().encode(text);

// Each part with its length first (four bytes, big-endian), so that no two
// inputs read alike.
function fields(...parts) {
  const out = new Uint8Array(parts.reduce((n, p) => n + 4 + p.length, 0));
  const view = new DataView(out.buffer);
  let at = 0;
  for (const part of parts) {
    view.setUint32(at, part.length);
    out.set(part, at + 4);
    at += 4 + part.length;
  }
  return out;
}

export function toBase64(bytes) { return btoa(String.fromCharCode(...bytes)); }

// Standard base64 with its padding, of exactly `size` bytes; null otherwise.
export function fromBase64(text, size) {
  if (typeof text !== "string" || text.length % 4 || !/^[A-Za-z0-9+/]*={0,2}$/.test(text)) return null;
  const bytes = Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
  return size === undefined || bytes.length === size ? bytes : null;
}

// The first "a=fingerprint:" line of a description as "sha-256 AB:CD:…";
// "" when there is none or it is not one.
export function sdpFingerprint(sdp) {
  const match = /^a=fingerprint:(.*)$/m.exec(sdp || "");
  return match ? fingerprintOf(match[1]) : "";
}

// The value of an "a=fingerprint:" line, written as sdpFingerprint() gives it.
function fingerprintOf(value) {
  const line = value.trim();
  const space = line.indexOf(" ");
  if (space <= 0) return "";
  const digest = line.slice(space + 1).trim().toUpperCase();
  if (!digest || digest.length > 256 || !/^[0-9A-F:]+$/.test(digest)) return "";
  const algorithm = line.slice(0, space).toLowerCase();
  if (!/^[a-z0-9-]{1,16}$/.test(algorithm)) return "";
  return algorithm + " " + digest;
}

// True for a fingerprint written as sdpFingerprint() gives it, one line of
// ASCII (what the application reads as Latin-1 and hashes as such).
export function isFingerprint(text) {
  return typeof text === "string" && /^[\x00-\x09\x0b-\x7f]+$/.test(text) && fingerprintOf(text) === text;
}

// This browser's certificate's fingerprint as its descriptions will carry
// it; "" when the browser gives none.
export function certificateFingerprint(certificate) {
  const found = certificate.getFingerprints().find((f) => f.algorithm.toLowerCase() === "sha-256");
  return found ? fingerprintOf(found.algorithm + " " + found.value) : "";
}

// The connection: both certificates as each side's description gives them.
export const bindingOf = (hostFingerprint, clientFingerprint) => fields(utf8(hostFingerprint), utf8(clientFingerprint));

export const kCodeNonceBytes = 16;
export const newCodeNonce = () => crypto.getRandomValues(new Uint8Array(kCodeNonceBytes));

// What the join seals our half of the code in.
export const codeCommitment = (clientFingerprint, clientNonce) =>
  sha256(fields(utf8("LunorProof1/commit"), utf8(clientFingerprint), clientNonce));

// Six digits both people can read to each other, "123 456"; the same on
// both sides only when both see the same certificates and nonces. "" for
// nonces of another size.
export function shortCode(binding, hostNonce, clientNonce) {
  if (hostNonce.length !== kCodeNonceBytes || clientNonce.length !== kCodeNonceBytes) return "";
  const digest = sha256(fields(utf8("LunorProof1/code"), binding, hostNonce, clientNonce));
  const code = new DataView(digest.buffer, digest.byteOffset).getUint32(0) % 1000000;
  return String(Math.floor(code / 1000)).padStart(3, "0") + " " + String(code % 1000).padStart(3, "0");
}

// The host's half of the code in a "join-code": {fingerprint, nonce}, or
// null unless both are well-formed (the nonce in its one base64 spelling),
// as the application reads it.
export function codePartOf(message) {
  const nonce = fromBase64(message.nonce, kCodeNonceBytes);
  if (!isFingerprint(message.fingerprint) || !nonce || toBase64(nonce) !== message.nonce) return null;
  return {fingerprint: message.fingerprint, nonce};
}

// The host's signature over this connection, checked as strictly as the
// application checks it (canonical encodings, no small-order key).
export function bindingSigned(hostKey, sid, binding, signature) {
  try {
    return ed25519.verify(signature, fields(utf8("LunorProof1/identity"), sid, binding), hostKey, {zip215: false});
  } catch (e) {
    return false;
  }
}

// What proves a device key the host gave: its identifier and its proof for
// this connection, both from the key's digest (all the host keeps).
export function deviceId(deviceKey) {
  return sha256(fields(utf8("LunorProof1/device-id"), sha256(deviceKey))).slice(0, sizes.device);
}
export function deviceProof(deviceKey, sid, binding) {
  return hmac(sha256, sha256(deviceKey), fields(utf8("LunorProof1/device"), sid, binding));
}

function randomScalar() {
  for (;;) {
    const scalar = Point.Fn.create(bytesToNumberLE(crypto.getRandomValues(new Uint8Array(64))));
    if (scalar !== 0n) return scalar;
  }
}

// One side's half of the exchange over `password` (as typed). `scalar`,
// 32 bytes little-endian, is for fixed test inputs only.
export class Exchange {
  constructor(password, sid, binding, scalar) {
    const uniform = sha512(fields(utf8("LunorProof1/generator"), utf8(password), binding, sid));
    // RFC 9496's element derivation, which is libsodium's ristretto255_from_hash.
    const generator = ristretto255_hasher.deriveToCurve(uniform);
    this.scalar = scalar === undefined ? randomScalar() : Point.Fn.create(bytesToNumberLE(scalar));
    this.share = generator.multiply(this.scalar).toBytes();
    this.key = null;
  }

  // With the other side's share; false for one that is no point of the
  // group or that gives the identity.
  complete(peerShare, host) {
    this.key = null;
    let shared;
    try {
      shared = Point.fromBytes(peerShare).multiply(this.scalar);
    } catch (e) {
      return false;
    }
    if (shared.is0()) return false;
    const [client, hostShare] = host ? [peerShare, this.share] : [this.share, peerShare];
    this.key = sha512(fields(utf8("LunorProof1/isk"), shared.toBytes(), client, hostShare));
    return true;
  }

  hostConfirm() { return this.key && hmac(sha256, this.key, utf8("LunorProof1/host")); }
  clientConfirm() { return this.key && hmac(sha256, this.key, utf8("LunorProof1/client")); }
  confirms(confirm, fromHost) {
    const expected = fromHost ? this.hostConfirm() : this.clientConfirm();
    return !!expected && confirm.length === expected.length && equalBytes(expected, confirm);
  }
}

// A message of the host's, its byte strings decoded; null for anything
// else, or one with a value of the wrong size.
function decode(text) {
  if (typeof text !== "string" || utf8(text).length > kMaxMessageBytes) return null;
  let m;
  try { m = JSON.parse(text); } catch (e) { return null; }
  if (m === null || typeof m !== "object" || Array.isArray(m)) return null;
  const bytes = (name) => fromBase64(m[name], sizes[name]);
  switch (m.t) {
    case "hello": {
      const [sid, key, sig] = [bytes("sid"), bytes("key"), bytes("sig")];
      return m.v === kVersion && sid && key && sig ? {t: m.t, sid, key, sig} : null;
    }
    case "reply": {
      const [share, confirm] = [bytes("share"), bytes("confirm")];
      return share && confirm ? {t: m.t, share, confirm} : null;
    }
    case "welcome": {
      const deviceKey = "deviceKey" in m ? bytes("deviceKey") : undefined;
      return deviceKey === null ? null : {t: m.t, deviceKey};
    }
    case "wait":
    case "denied": {
      const wait = m.retryAfterMs;
      if (wait !== undefined && !(Number.isInteger(wait) && wait >= 0 && wait <= kMaxWaitMs)) return null;
      return {t: m.t, retryAfterMs: wait || 0, locked: m.locked === true};
    }
  }
  return null;
}

// The client's side on the channel: it checks that the host is the one met
// before (its identity signs this very connection), proves the password
// (and the device key the host gave, if any) and takes the host's answer.
// receive() says what happened: {kind} with kind one of
//   "hostKnown" (hostKey: who it is), "identityChanged", "notTheHost",
//   "wrongPassword" / "wait" (retryAfterMs, locked), "admitted" (deviceKey
//   or null), or null when there is nothing to say.
export class ClientProof {
  // The fingerprints of this connection's certificates, the host's and
  // ours; knownHostKey: the identity met before (null on first contact);
  // deviceKey: the one this host gave (null: none); send(text): writes on
  // the channel.
  constructor({hostFingerprint, clientFingerprint, knownHostKey, deviceKey, send}) {
    this.complete = !!hostFingerprint && !!clientFingerprint;
    this.binding = bindingOf(hostFingerprint, clientFingerprint);
    this.knownHostKey = knownHostKey || null;
    this.deviceKey = deviceKey || null;
    this.send = send;
    this.sid = null;
    this.password = null;
    this.exchange = null;
  }

  get hostKnown() { return this.sid !== null; }

  // Proves `password` as soon as the host has said hello.
  tryPassword(password) {
    this.password = password;
    if (this.hostKnown) this.start();
  }

  start() {
    this.exchange = new Exchange(this.password, this.sid, this.binding);
    this.password = null;  // one try per password given
    const start = {t: "start", share: toBase64(this.exchange.share)};
    if (this.deviceKey) {
      start.device = toBase64(deviceId(this.deviceKey));
      start.deviceProof = toBase64(deviceProof(this.deviceKey, this.sid, this.binding));
    }
    this.send(JSON.stringify(start));
  }

  receive(text) {
    const m = decode(text);
    if (!m) return null;
    if (m.t === "hello") {
      if (this.hostKnown) return null;  // one hello a connection
      if (!this.complete || !bindingSigned(m.key, m.sid, this.binding, m.sig)) return {kind: "notTheHost"};
      if (this.knownHostKey && !equalBytes(this.knownHostKey, m.key)) return {kind: "identityChanged"};
      this.sid = m.sid;
      if (this.password !== null) this.start();
      return {kind: "hostKnown", hostKey: m.key};
    }
    if (!this.hostKnown) return null;
    switch (m.t) {
      case "reply":
        if (!this.exchange) return null;
        if (!this.exchange.complete(m.share, false) || !this.exchange.confirms(m.confirm, true)) {
          // The host counts it as a failure already; it needs no word of ours.
          this.exchange = null;
          return {kind: "wrongPassword", retryAfterMs: 0, locked: false};
        }
        this.send(JSON.stringify({t: "confirm", confirm: toBase64(this.exchange.clientConfirm())}));
        return null;
      case "welcome":
        if (!this.exchange) return null;  // nothing of ours was confirmed
        this.exchange = null;
        return {kind: "admitted", deviceKey: m.deviceKey || null};
      case "wait":
      case "denied":
        this.exchange = null;
        return {kind: m.t === "denied" ? "wrongPassword" : "wait", retryAfterMs: m.retryAfterMs, locked: m.locked};
    }
    return null;
  }
}
