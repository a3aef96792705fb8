// SPDX-License-Identifier: GPL-3.0-or-later
// The client session's peer connection: the TURN servers, the answer to
// the host's offers (the first, and the one that adds the picture once the
// password is proved) from the host the code named, candidates, the
// deadline for it to come up and the watch over its ICE state. Methods of
// ClientSession (session.js), which take them in.

import {controlTypes, payloadTypes} from "./schema.js";
import {iceStateTexts, reasons} from "./text.js";
import {kChannel as kProofChannel, sdpFingerprint} from "./proof.js";
import {preferH264} from "./wire.js";

export const kConnectDeadlineMs = 15000;
const kIceDownGraceMs = 2000;

export const peerConnection = {
  // The TURN servers the server handed over, for this connection and the
  // next; a list the browser refuses (a malformed URL) is dropped whole.
  useIceServers(servers) {
    if (!servers.length) return;
    try {
      new RTCPeerConnection({iceServers: servers}).close();
    } catch (e) {
      this.log("⚠️ Serveurs ICE refusés: " + e.message);
      return;
    }
    this.iceServers = servers;
    if (this.pc) {
      try { this.pc.setConfiguration(this.configuration()); } catch (e) { this.log("⚠️ " + e.message); }
    }
  },

  // The session's certificate, the one its code is made from, on each of its connections.
  configuration() {
    return {iceServers: this.iceServers, ...(this.certificate ? {certificates: [this.certificate]} : {})};
  },

  connection() {
    if (this.pc) return this.pc;
    const pc = new RTCPeerConnection(this.configuration());
    this.pc = pc;
    this.log("✅ PeerConnection créée (role=CLIENT)");
    pc.onicecandidate = (event) => {
      if (pc !== this.pc || !event.candidate || !event.candidate.candidate) return;
      this.sendPayload({type: payloadTypes.ice, candidate: {candidate: event.candidate.candidate,
                                                 sdpMid: event.candidate.sdpMid || "0",
                                                 sdpMLineIndex: event.candidate.sdpMLineIndex || 0}});
    };
    pc.oniceconnectionstatechange = () => { if (pc === this.pc) this.iceStateChanged(pc.iceConnectionState); };
    pc.ontrack = (event) => {
      if (pc !== this.pc) return;
      this.stream = event.streams[0] || new MediaStream([event.track]);
      if (!this.startedAt) this.startedAt = Date.now();
      this.setStatus("Réception vidéo active");
    };
    pc.ondatachannel = (event) => {
      const channel = event.channel;
      if (pc !== this.pc) return;
      if (channel.label === kProofChannel) {
        this.adoptProofChannel(channel);
        return;
      }
      if (channel.label !== "control") return;
      this.control = channel;
      channel.onopen = () => {
        if (channel !== this.control) return;
        this.controlOpen = true;
        this.sayPicture();
        this.changed();
      };
      channel.onclose = () => { if (channel === this.control) { this.controlOpen = false; this.changed(); } };
      // The client never reads this channel: the host does not write on it.
      if (channel.readyState === "open") channel.onopen();
    };
    return pc;
  },

  // Negotiation steps run one after the other, each for the connection it
  // was queued for: one closed meanwhile (a reconnection) drops them.
  queue(step) {
    const generation = this.generation;
    this.negotiation = this.negotiation.then(() => step(generation)).catch((e) => {
      this.log("❌ Négociation: " + e.message);
    });
  },

  async answer(sdp, generation) {
    if (this.ended || generation !== this.generation) return;
    // Another certificate than the one the code named: someone between us
    // stands in for the host. Nothing of it is applied.
    if (this.expectedHost && sdpFingerprint(sdp) !== this.expectedHost) {
      this.log("⛔ Le certificat du pair n’est pas celui du code de vérification : connexion refusée");
      this.endSession(reasons.notTheCodedPeer, false);
      return;
    }
    const pc = this.connection();
    await pc.setRemoteDescription({type: "offer", sdp});
    preferH264(pc);
    const answer = await pc.createAnswer();
    await pc.setLocalDescription(answer);
    if (pc !== this.pc) return;
    this.sendPayload({type: payloadTypes.answer, sdp: {type: "answer", sdp: pc.localDescription.sdp}});
    for (const candidate of this.pendingCandidates.splice(0)) await this.addCandidate(candidate, generation);
    this.armConnectDeadline();
  },

  async addCandidate(candidate, generation) {
    if (generation !== this.generation) return;
    if (!this.pc || !this.pc.remoteDescription) {
      this.pendingCandidates.push(candidate);
      return;
    }
    try {
      await this.pc.addIceCandidate(candidate);
    } catch (e) {
      this.log("⚠️ ICE candidate refusé: " + e.message);
    }
  },

  // ms: replaces a deadline already running (the host's person choosing
  // what to share may take longer than a connection does).
  armConnectDeadline(ms) {
    if ((this.timers.connect && ms === undefined) || this.iceUp()) return;
    const wait = ms === undefined ? kConnectDeadlineMs : ms;
    this.timer("connect", wait, () => {
      if (this.ended || this.iceUp()) return;
      this.log("⏰ Connexion non établie après " + wait / 1000 + " s");
      this.endSession(reasons.noConnection, false);
    });
  },

  iceUp() {
    return !!this.pc && ["connected", "completed"].includes(this.pc.iceConnectionState);
  },

  iceStateChanged(state) {
    const [label, status] = iceStateTexts(state);
    this.connectionState = label;
    if (state === "connected" || state === "completed") {
      if (!this.startedAt) this.startedAt = Date.now();
      this.stopTimer("iceDown");
      this.stopTimer("connect");
      // One who proves the password is in only once it is proved.
      if (!this.provingToHost) this.dispatchEvent(new Event("connected"));
    } else if (["failed", "disconnected", "closed"].includes(state)) {
      this.timer("iceDown", kIceDownGraceMs, () => {
        if (!this.ended && this.pc && !this.iceUp()) this.endSession(reasons.peerLost, true);
      });
    }
    this.setStatus(status);
  },

  // The connection's first picture is on the screen: the host stops
  // sending key frames for it (once a connection, as the application's
  // client says it).
  pictureShown() {
    this.pictureSeen = true;
    this.sayPicture();
  },

  sayPicture() {
    if (!this.pictureSeen || this.pictureSaid || !this.controlOpen) return;
    this.sendControl({t: controlTypes.picture});
    this.pictureSaid = true;
  },

  closeConnection() {
    ++this.generation;
    this.pictureSeen = false;
    this.pictureSaid = false;
    this.negotiation = Promise.resolve();
    this.pendingCandidates = [];
    this.control = null;
    this.controlOpen = false;
    this.proofChannel = null;
    this.proof = null;
    if (this.pc) {
      const pc = this.pc;
      this.pc = null;
      pc.close();
    }
  },
};
