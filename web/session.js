// SPDX-License-Identifier: GPL-3.0-or-later
// A client session in the browser: joins a host's room through the
// signaling server of this page's origin, answers the host's offer, checks
// the host's identity and proves the password to it on its "proof" channel,
// shows the code both people may compare while the host's person decides,
// shows its video track and sends control messages on its "control"
// channel. It speaks the wire protocol exactly as the application's client
// does.

import {limits, messageTypes, payloadTypes} from "./schema.js";
import {reasons, waitText} from "./text.js";
import {sha256Hex} from "./sha256.js";
import {kConnectDeadlineMs, peerConnection} from "./connection.js";
import {ClientProof, bindingOf, certificateFingerprint, codeCommitment, codePartOf, fromBase64, newCodeNonce,
        sdpFingerprint, shortCode, toBase64} from "./proof.js";
import {displaysOf, endReasonOf, iceServersOf, isGeometryValue, isInteger, isObject} from "./wire.js";

export {displaysOf, endReasonOf, iceServersOf};

const kReconnectDelaysMs = [1000, 2000, 4000, 8000, 16000];
const kApprovalTimeoutMs = 60000;

const kLogLinesKept = 500;

// The sessions' log lines, the latest last.
export const logLines = [];

export function signalingUrl(location) {
  return (location.protocol === "https:" ? "wss:" : "ws:") + "//" + location.host + "/signal";
}

export class ClientSession extends EventTarget {
  // roomId: the host's ID; displayName: shown to the host; deviceKey: what
  // this host's server gave this browser at an earlier admission, if any;
  // hostKey: the host's identity met before (base64), hostDeviceKey: the
  // key the host itself gave this browser (base64), if any.
  constructor({roomId, displayName, deviceKey, hostKey, hostDeviceKey, signalUrl}) {
    super();
    this.roomId = roomId;
    this.displayName = displayName || "";
    this.deviceKey = deviceKey || "";
    this.hostKey = fromBase64(hostKey, 32);
    this.hostDeviceKey = fromBase64(hostDeviceKey, 32);
    this.signalUrl = signalUrl;
    this.status = "";
    this.connectionState = "déconnecté";
    this.isWaitingApproval = false;
    // The code the host's request panel shows too ("123 456"); "" when none.
    this.verificationCode = "";
    this.askPassword = false;
    // Why the password is asked again, or why not yet; and when the server
    // takes one again after too many wrong ones (0: now).
    this.passwordNotice = "";
    this.passwordRetryAt = 0;
    this.availableDisplays = [];
    this.currentDisplayIndex = 0;
    this.remoteVideoSize = null;
    this.stream = null;
    this.startedAt = 0;
    this.endReason = null;
    this.controlOpen = false;
    this.pictureSeen = false;  // the connection's first picture is on the screen
    this.pictureSaid = false;  // ...and the host was told

    this.ws = null;
    this.pc = null;
    this.control = null;
    this.iceServers = [];
    // Every connection of the session has the same certificate, the one the
    // code is made from (null: the browser's own choice, and no code).
    this.certificate = null;
    this.fingerprint = "";
    this.codeNonce = null;  // our half of the code, sealed in the last join
    this.expectedHost = "";  // the host's certificate as the code named it
    this.pendingCandidates = [];
    this.negotiation = Promise.resolve();
    this.generation = 0;  // of the peer connection: closing one starts the next
    this.admitted = false;
    // The host checks the password itself: the server only introduces us,
    // and the password goes (as a proof) on the channel "proof".
    this.hostProves = false;
    this.provingToHost = false;  // in, to prove it
    this.pendingPassword = null;  // typed before the channel opened
    this.proofChannel = null;
    this.proof = null;
    this.ended = false;
    this.reconnectAttempt = 0;
    this.timers = {};
  }

  log(line) {
    const stamped = "[" + new Date().toTimeString().slice(0, 8) + "] " + line;
    console.log(stamped);
    logLines.push(stamped);
    if (logLines.length > kLogLinesKept) logLines.splice(0, logLines.length - kLogLinesKept);
  }

  changed() { this.dispatchEvent(new Event("change")); }

  setStatus(text) {
    this.status = text;
    this.changed();
  }

  timer(name, ms, action) {
    clearTimeout(this.timers[name]);
    this.timers[name] = setTimeout(() => { delete this.timers[name]; action(); }, ms);
  }

  stopTimer(name) {
    clearTimeout(this.timers[name]);
    delete this.timers[name];
  }

  // ------------------------------------------------------------ signaling --

  async start() {
    this.setStatus("Connexion au serveur...");
    try {
      this.certificate = await RTCPeerConnection.generateCertificate({name: "ECDSA", namedCurve: "P-256"});
      this.fingerprint = certificateFingerprint(this.certificate);
    } catch (e) {
      this.log("⚠️ Certificat: " + e.message);
    }
    if (!this.fingerprint) this.certificate = null;
    if (!this.ended) this.openSocket();
  }

  openSocket() {
    let ws;
    try {
      ws = new WebSocket(this.signalUrl);
    } catch (e) {
      this.log("❌ WebSocket: " + e.message);
      this.socketClosed();
      return;
    }
    this.ws = ws;
    ws.onopen = () => {
      if (ws !== this.ws) return;
      this.log("🔌 WebSocket connecté (role=CLIENT, roomId=" + this.roomId + ")");
      this.setStatus("Serveur connecté");
      this.sendJoin(null);
    };
    ws.onmessage = (event) => {
      if (ws !== this.ws || typeof event.data !== "string") return;
      let message;
      try { message = JSON.parse(event.data); } catch (e) { return; }
      if (isObject(message) && typeof message.type === "string") this.handle(message);
    };
    ws.onclose = () => { if (ws === this.ws) this.socketClosed(); };
  }

  // False when there is no server to take it.
  send(message) {
    if (!this.ws || this.ws.readyState !== WebSocket.OPEN) return false;
    this.ws.send(JSON.stringify(message));
    return true;
  }

  sendPayload(data) { return this.send({type: messageTypes.signal, data}); }

  sendJoin(passwordHash, hostProof = false) {
    const join = {type: messageTypes.join, roomId: this.roomId, displayName: this.displayName};
    if (passwordHash !== null) join.passwordHash = passwordHash;
    if (hostProof) join.proof = "host";
    else if (/^[0-9a-f]{64}$/.test(this.deviceKey)) join.deviceKey = this.deviceKey;
    // A request the host's person answers carries our half of the code, sealed.
    this.codeNonce = this.fingerprint ? newCodeNonce() : null;
    this.verificationCode = "";
    this.expectedHost = "";
    if (this.codeNonce) join.commit = toBase64(codeCommitment(this.fingerprint, this.codeNonce));
    this.send(join);
    this.setStatus("Connexion à l'hôte...");
  }

  // A wrong password asks again; too many wrong ones (from here, or today
  // for the whole room) say when to try again and ask only then.
  passwordDenied(message) {
    const wait = Number.isFinite(message.retryAfterMs)
        ? Math.min(Math.max(message.retryAfterMs, 0), limits.maxRetryAfterMs) : 0;
    if (wait <= 0) {
      this.passwordNotice = "Mot de passe incorrect";
      this.askPassword = true;
      this.setStatus("Mot de passe incorrect");
      return;
    }
    this.passwordRetryAt = Date.now() + wait;
    const at = new Date(this.passwordRetryAt);
    const clock = String(at.getHours()).padStart(2, "0") + ":" + String(at.getMinutes()).padStart(2, "0");
    this.passwordNotice = (message.locked === true ? "Trop de mots de passe faux pour cet ordinateur aujourd’hui"
                                                   : "Trop de tentatives") +
                          " : réessayez dans " + waitText(wait) + " (à " + clock + ")";
    this.askPassword = false;
    this.log("⛔ " + this.passwordNotice);
    this.setStatus(this.passwordNotice);
    this.timer("passwordRetry", wait, () => {
      this.passwordNotice = "";
      this.passwordRetryAt = 0;
      this.askPassword = true;
      this.setStatus("Mot de passe requis");
    });
  }

  async submitPassword(password) {
    this.askPassword = false;
    this.passwordNotice = "";
    if (this.hostProves) {
      // Neither the password nor anything made from it goes to the server.
      if (this.proof) {
        this.proof.tryPassword(password);
      } else {
        this.pendingPassword = password;
        // In already: the channel is on its way.
        if (!this.provingToHost) this.sendJoin(null, true);
        this.provingToHost = true;
      }
      this.setStatus("Vérification du mot de passe…");
      return;
    }
    // An empty password is sent too: its digest is what the host compares.
    const hash = await sha256Hex(password);
    if (this.ended) return;
    this.sendJoin(hash);
    this.setStatus("Vérification du mot de passe…");
  }

  dismissPassword() {
    this.askPassword = false;
    this.changed();
  }

  // The prompt put away comes back, unless a wait holds it.
  askPasswordAgain() {
    if (this.ended || this.passwordRetryAt > Date.now()) return;
    this.askPassword = true;
    this.changed();
  }

  socketClosed() {
    this.ws = null;
    // Once let in, the server is no longer needed.
    if (this.ended || this.admitted) return;
    if (this.reconnectAttempt >= kReconnectDelaysMs.length) {
      this.log("❌ Serveur injoignable après " + (this.reconnectAttempt + 1) + " tentatives");
      this.endWith(reasons.serverUnreachable);
      return;
    }
    const delay = kReconnectDelaysMs[this.reconnectAttempt++];
    this.log("🔁 Nouvelle tentative de connexion au serveur dans " + delay / 1000 + " s");
    this.timer("reconnect", delay, () => {
      if (this.ended) return;
      // The request went with the old connection: a new one joins again.
      this.closeConnection();
      this.provingToHost = false;
      this.pendingPassword = null;
      this.isWaitingApproval = false;
      this.setStatus("Connexion au serveur...");
      this.openSocket();
    });
  }

  handle(message) {
    this.log("📨 Message: " + message.type);
    if (this.ended) return;
    switch (message.type) {
      case messageTypes.joined:
        this.reconnectAttempt = 0;
        this.log("🚪 Room rejointe");
        this.setStatus("Salle rejointe");
        break;
      case messageTypes.waitingApproval:
        this.reconnectAttempt = 0;
        this.isWaitingApproval = true;
        this.setStatus("En attente d'autorisation par l'hôte…");
        // Counted from the first request: a reconnection does not start it over.
        if (!this.timers.approval) {
          this.timer("approval", kApprovalTimeoutMs, () => {
            this.log("⏰ Pas de réponse de l’hôte après " + kApprovalTimeoutMs / 1000 + " s");
            this.endWith(reasons.noAnswer);
          });
        }
        break;
      case messageTypes.requireUnattended:
        this.stopTimer("approval");  // the password decides, not a person
        // A host met before proved who it was: it does not stop doing so.
        // A server that says otherwise would get the password's digest.
        if (message.proof !== "host" && this.hostKey) {
          this.log("⛔ Le serveur demande l’empreinte du mot de passe pour un hôte qui le vérifie lui-même");
          this.endWith(reasons.hostIdentityChanged);
          break;
        }
        this.hostProves = message.proof === "host";
        this.askPassword = true;
        this.changed();
        break;
      case messageTypes.unattendedDenied:
        this.passwordDenied(message);
        break;
      case messageTypes.joinCode:
        this.codeFromHost(message);
        break;
      case messageTypes.approved:
        this.stopTimer("approval");
        this.admitted = true;
        this.useIceServers(iceServersOf(message));
        if (typeof message.deviceKey === "string" && /^[0-9a-f]{64}$/.test(message.deviceKey)) {
          this.deviceKey = message.deviceKey;
          this.dispatchEvent(new CustomEvent("devicekey", {detail: message.deviceKey}));
        }
        this.isWaitingApproval = false;
        if (!this.startedAt) this.startedAt = Date.now();
        // In to prove the password, not yet let in.
        this.setStatus(this.provingToHost ? "Vérification du mot de passe…" : "Autorisé. Initialisation…");
        this.armConnectDeadline();
        break;
      case messageTypes.peerJoined:
        this.stopTimer("approval");
        this.admitted = true;
        if (Array.isArray(message.iceServers)) this.useIceServers(iceServersOf(message));
        this.log("👤 Peer connecté (cid=" + (typeof message.clientId === "string" ? message.clientId : "?") +
                 ", unattended=" + (message.unattended === true) + ")");
        this.setStatus("Peer connecté, négociation...");
        this.armConnectDeadline();
        break;
      case messageTypes.rejected:
        this.endSession(reasons.rejected, false);
        this.setStatus("Connexion refusée par l'hôte.");
        break;
      case messageTypes.left:
      case messageTypes.peerLeft:
        this.endSession(reasons.hostLeft, false);
        break;
      case messageTypes.roomNotFound:
        this.endWith(reasons.hostNotFound);
        break;
      case messageTypes.roomBusy:
        this.endWith(reasons.hostBusy);
        break;
      case messageTypes.signal:
        if (isObject(message.data) && typeof message.data.type === "string") this.handlePayload(message.data);
        break;
    }
  }

  // The host's half of the code, while its person has not answered: ours
  // goes back, both make the code, and the connection must then be with the
  // certificate the host named.
  codeFromHost(message) {
    const part = codePartOf(message);
    if (!part || !this.codeNonce || this.admitted || this.verificationCode) return;
    this.send({type: messageTypes.joinReveal, fingerprint: this.fingerprint, nonce: toBase64(this.codeNonce)});
    this.expectedHost = part.fingerprint;
    this.verificationCode = shortCode(bindingOf(part.fingerprint, this.fingerprint), part.nonce, this.codeNonce);
    this.log("🔢 Code de vérification : " + this.verificationCode);
    this.changed();
  }

  // Nobody would ever answer: the session ends saying why.
  endWith(reason) {
    this.endSession(reason, true);
    this.setStatus(reason);
  }

  handlePayload(data) {
    switch (data.type) {
      case payloadTypes.hostChoosing:
        // No offer before the host's person has chosen: wait as long as they may.
        if (Number.isFinite(data.timeoutMs) && data.timeoutMs > 0) {
          this.isWaitingApproval = true;
          this.setStatus("L’hôte choisit l’écran à partager…");
          this.armConnectDeadline(Math.min(data.timeoutMs, limits.maxHostChoosingMs) + kConnectDeadlineMs);
        }
        break;
      case payloadTypes.offer:
        this.isWaitingApproval = false;
        if (isObject(data.sdp) && typeof data.sdp.sdp === "string") {
          const sdp = data.sdp.sdp;
          this.queue((generation) => this.answer(sdp, generation));
        }
        break;
      case payloadTypes.ice:
        if (isObject(data.candidate) && typeof data.candidate.candidate === "string") {
          const c = data.candidate;
          const candidate = {candidate: c.candidate, sdpMid: typeof c.sdpMid === "string" ? c.sdpMid : "0",
                             sdpMLineIndex: isInteger(c.sdpMLineIndex) ? c.sdpMLineIndex : 0};
          this.queue((generation) => this.addCandidate(candidate, generation));
        }
        break;
      case payloadTypes.displays: {
        const displays = displaysOf(data);
        if (!displays.length) {
          this.log("📥 displays[] vide ignoré (on conserve la liste actuelle)");
          break;
        }
        this.availableDisplays = displays;
        this.log("📥 " + displays.length + " écran(s) disponible(s) reçu(s)");
        this.changed();
        break;
      }
      case payloadTypes.videoGeometry: {
        const width = isGeometryValue(data.width) ? data.width : 0;
        const height = isGeometryValue(data.height) ? data.height : 0;
        if (width > 0 && height > 0) this.remoteVideoSize = {width, height};
        if (isGeometryValue(data.activeDisplay)) this.currentDisplayIndex = data.activeDisplay;
        this.log("📐 videoGeometry reçu: " + width + "x" + height + " (display " + this.currentDisplayIndex + ")");
        this.changed();
        break;
      }
      case payloadTypes.end:
        this.endSession(endReasonOf(data), true);
        break;
    }
  }

  // ---------------------------------------------------------------- proof --

  // The host opens "proof" on every connection and says there who it is.
  adoptProofChannel(channel) {
    this.proofChannel = channel;
    this.proof = null;
    channel.onopen = () => { if (channel === this.proofChannel) this.proofChannelOpened(); };
    channel.onmessage = (event) => {
      if (channel !== this.proofChannel || typeof event.data !== "string") return;
      this.proofChannelOpened();
      this.proofMessage(event.data);
    };
    if (channel.readyState === "open") this.proofChannelOpened();
  }

  proofChannelOpened() {
    if (this.proof || !this.pc) return;
    const channel = this.proofChannel;
    // Each certificate as the descriptions give it: the host's in its offer,
    // ours in our answer.
    const description = (d) => sdpFingerprint(d ? d.sdp : "");
    this.proof = new ClientProof({
      hostFingerprint: description(this.pc.remoteDescription),
      clientFingerprint: description(this.pc.localDescription),
      knownHostKey: this.hostKey, deviceKey: this.hostDeviceKey,
      send: (text) => { if (channel.readyState === "open") channel.send(text); },
    });
    if (this.pendingPassword !== null) {
      this.proof.tryPassword(this.pendingPassword);
      this.pendingPassword = null;
    }
  }

  proofMessage(text) {
    const outcome = this.proof && this.proof.receive(text);
    switch (outcome && outcome.kind) {
      case "hostKnown":
        this.log("🔏 Identité de l’hôte vérifiée");
        if (!this.hostKey) {
          // Met for the first time: this is who it is from now on.
          this.hostKey = outcome.hostKey;
          this.dispatchEvent(new CustomEvent("hostkey", {detail: toBase64(outcome.hostKey)}));
        }
        break;
      case "identityChanged":
        this.log("⛔ L’hôte présente une autre identité que celle connue");
        this.endWith(reasons.hostIdentityChanged);
        break;
      case "notTheHost":
        this.log("⛔ L’identité de l’hôte ne vaut pas pour cette connexion");
        this.endWith(reasons.hostNotVerified);
        break;
      case "wrongPassword":
      case "wait":
        this.passwordDenied(outcome);
        break;
      case "admitted":
        this.log("✅ Mot de passe prouvé à l’hôte");
        this.provingToHost = false;
        if (outcome.deviceKey) {
          this.hostDeviceKey = outcome.deviceKey;
          this.dispatchEvent(new CustomEvent("hostdevicekey", {detail: toBase64(outcome.deviceKey)}));
        }
        this.setStatus("Autorisé. Initialisation…");
        // Let in only now, over a connection that was up already.
        if (this.iceUp()) this.dispatchEvent(new Event("connected"));
        break;
    }
  }

  // ------------------------------------------------------------- requests --

  // Requests go through the server: false, and nothing asked, without it.
  requestQuality(raw) {
    if (!this.sendPayload({type: payloadTypes.quality, value: raw})) return false;
    this.log("📨 Demande qualité envoyée: " + raw);
    return true;
  }

  requestDisplaySwitch(index) {
    if (!this.sendPayload({type: payloadTypes.switchDisplay, displayIndex: index})) return false;
    this.log("📨 Demande switch écran: #" + index);
    this.currentDisplayIndex = index;
    this.changed();
    return true;
  }

  requestHardRefresh() {
    // The new negotiation goes through the server too.
    if (!this.sendPayload({type: payloadTypes.hardRefreshRequest})) return false;
    this.log("🔄 HARD REFRESH demandé");
    if (this.pc) {
      this.log("♻️ ICE restart");
      this.pc.restartIce();
    }
    this.log("📤 hard-refresh-request envoyé au host");
    return true;
  }

  sendControl(message) {
    if (this.control && this.control.readyState === "open") this.control.send(JSON.stringify(message));
  }

  // ------------------------------------------------------------------ end --

  // The person leaves: the host is told why.
  stop(reason) { this.endSession(reason, false); }

  endSession(reason, silent) {
    if (this.ended) return;
    this.ended = true;
    this.log("🛑 Fin de session : " + reason);
    if (!silent) this.sendPayload({type: payloadTypes.end, reason});
    for (const name of Object.keys(this.timers)) this.stopTimer(name);
    this.closeConnection();
    if (this.ws) {
      const ws = this.ws;
      this.ws = null;
      ws.close();
    }
    this.stream = null;
    this.isWaitingApproval = false;
    this.askPassword = false;
    this.connectionState = "déconnecté";
    this.status = "Déconnecté";
    // The end message needs a start even for a session that never began.
    if (!this.startedAt) this.startedAt = Date.now();
    this.endReason = reason;
    this.changed();
  }
}

Object.assign(ClientSession.prototype, peerConnection);
