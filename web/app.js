// SPDX-License-Identifier: GPL-3.0-or-later
// The page: the directory (an ID to join, recent hosts, the name shown to
// them) and the session stage (tool bar, the host's picture, the wait for
// the host's answer with the code to compare, the password prompt and the
// end message).

import {ClientSession, signalingUrl} from "./session.js";
import {InputCapture} from "./input.js";
import {PhoneKeyboard} from "./phone_keys.js";
import {TouchInput} from "./touch.js";
import {defaultQuality, limits} from "./schema.js";
import {fittedRect, stagePictureSize} from "./geometry.js";
import {departureReason, displayModes, endMessage, prettyId, qualities, qualityOf, reasons,
        screenshotName} from "./text.js";

const $ = (id) => document.getElementById(id);
const kMinimumIdLength = 4;
const kRecentsShown = 8;
const kRecentsKept = 32;
const kEndCountdown = 10;

// ------------------------------------------------------------- storage --
// Recent hosts and the name, in this browser only.

const storage = {
  read(key, fallback) {
    try {
      const value = JSON.parse(localStorage.getItem("lunor." + key));
      return value === null ? fallback : value;
    } catch (e) {
      return fallback;
    }
  },
  write(key, value) {
    try { localStorage.setItem("lunor." + key, JSON.stringify(value)); } catch (e) { /* private mode */ }
  },
};

// [{id, lastConnectedAt, deviceKey, hostKey, hostDeviceKey}], most recent
// first. hostKey is the host's identity, kept from the first session it let
// this browser in; removing the entry forgets it (a host set up anew).
function recents() {
  const list = storage.read("recents", []);
  return Array.isArray(list)
      ? list.filter((r) => r && typeof r.id === "string" && r.id.length > 0 && r.id.length <= limits.maxRoomIdChars)
      : [];
}

function recordRecent(id, changes) {
  const list = recents();
  const old = list.find((r) => r.id === id);
  const rest = list.filter((r) => r.id !== id);
  storage.write("recents", [{...old, id, ...changes}, ...rest].slice(0, kRecentsKept));
}

function forgetRecent(id) {
  storage.write("recents", recents().filter((r) => r.id !== id));
}

function displayName() {
  return [$("first-name").value.trim(), $("last-name").value.trim()].filter(Boolean).join(" ");
}

// ----------------------------------------------------------- directory --

const state = {
  session: null,
  connecting: false,
  displayMode: "fit",
  quality: defaultQuality,
  didEnd: false,
};

function renderDirectory() {
  const id = $("session-id").value;
  const button = $("connect");
  button.disabled = id.length < kMinimumIdLength || state.connecting;
  button.classList.toggle("ready", id.length >= kMinimumIdLength);
  button.textContent = state.connecting ? "Connexion..." : "Se connecter";
  button.classList.toggle("busy", state.connecting);

  const list = recents()
                   .sort((a, b) => (b.lastConnectedAt || 0) - (a.lastConnectedAt || 0))
                   .slice(0, kRecentsShown);
  $("recents-box").hidden = list.length === 0;
  const container = $("recents");
  container.replaceChildren(...list.map((r) => {
    const card = document.createElement("div");
    card.className = "recent";
    const title = document.createElement("strong");
    title.textContent = prettyId(r.id);
    const subtitle = document.createElement("span");
    subtitle.className = "caption";
    subtitle.textContent = r.id;
    const connect = document.createElement("button");
    connect.className = "prominent";
    connect.textContent = "Se connecter";
    connect.addEventListener("click", () => {
      $("session-id").value = r.id;
      startConnecting();
    });
    const remove = document.createElement("button");
    remove.className = "destructive";
    remove.textContent = "Supprimer";
    remove.addEventListener("click", () => {
      forgetRecent(r.id);
      renderDirectory();
    });
    const buttons = document.createElement("div");
    buttons.className = "buttons";
    buttons.append(connect, remove);
    card.append(title, subtitle, buttons);
    return card;
  }));
}

function startConnecting() {
  const id = $("session-id").value;
  if (!id || state.connecting || state.session) return;
  state.connecting = true;
  renderDirectory();
  storage.write("firstName", $("first-name").value);
  storage.write("lastName", $("last-name").value);
  setTimeout(() => {
    state.connecting = false;
    startSession(id);
  }, 500);
}

// --------------------------------------------------------------- stage --

let input = null;
let touch = null;
let keyboard = null;
// Every way the person drives the host: pointer and keyboard, touch, the phone's keyboard.
const controls = () => [input, touch, keyboard];

function startSession(roomId) {
  const known = recents().find((r) => r.id === roomId) || {};
  const session = new ClientSession({roomId, displayName: displayName(), deviceKey: known.deviceKey,
                                     hostKey: known.hostKey, hostDeviceKey: known.hostDeviceKey,
                                     signalUrl: signalingUrl(location)});
  state.session = session;
  state.didEnd = false;
  let pending = {};
  session.addEventListener("change", () => { if (session === state.session) renderStage(); });
  // Kept at once for a known host, with a new host's entry once the session is up.
  for (const [event, field] of [["devicekey", "deviceKey"], ["hostkey", "hostKey"], ["hostdevicekey", "hostDeviceKey"]]) {
    session.addEventListener(event, (e) => {
      if (recents().some((r) => r.id === roomId)) recordRecent(roomId, {[field]: e.detail});
      else pending[field] = e.detail;
    });
  }
  session.addEventListener("connected", () => {
    recordRecent(roomId, {lastConnectedAt: Date.now(), ...pending});
    pending = {};
  });
  $("directory").hidden = true;
  $("stage").hidden = false;
  $("id-label").textContent = "ID: " + (roomId || "—");
  for (const control of controls()) control.setEnabled(true);
  session.start();
  renderStage();
  $("area").focus({preventScroll: true});
}

// The person leaves (tool bar, closing the page).
function disconnect(reason) {
  if (!state.session || state.didEnd) return;
  state.didEnd = true;
  for (const control of controls()) control.releaseAll();
  state.session.stop(reason);
}

let shownStream = null;
let endTimer = null;

function renderStage() {
  const session = state.session;
  if (!session) return;
  const connected = !session.endReason;
  const label = $("connected-label");
  label.textContent = connected ? "Connecté" : "Déconnecté";
  label.className = "dot-label " + (connected ? "green" : "grey");
  $("leave").querySelector("span").textContent = connected ? "Déconnecter" : "Retour";
  $("state-label").textContent = session.connectionState;
  $("stage-status").textContent = session.stream ? "" : session.status;

  const video = $("video");
  if (session.stream !== shownStream) {
    shownStream = session.stream;
    video.srcObject = shownStream;
    if (shownStream) {
      video.play().catch(() => {});
      // Its first frame on the screen, which the host waits to hear of.
      const shown = () => { if (state.session === session && shownStream === session.stream) session.pictureShown(); };
      if (video.requestVideoFrameCallback) video.requestVideoFrameCallback(shown);
      else video.addEventListener("loadeddata", shown, {once: true});
    }
  }
  $("waiting").hidden = !session.isWaitingApproval || state.displayMode === "original";
  if (session.isWaitingApproval) $("waiting-text").textContent = session.status;
  // The code the host's panel shows with the request, when there is one.
  $("verification").hidden = !session.verificationCode;
  $("verification-code").textContent = session.verificationCode;

  const dialog = $("password-dialog");
  $("password-notice").textContent = session.passwordNotice;
  $("password-notice").hidden = !session.passwordNotice;
  if (session.askPassword && !dialog.open) {
    $("password").value = "";
    dialog.returnValue = "";
    dialog.showModal();
  } else if (!session.askPassword && dialog.open) {
    dialog.close("dismissed");
  }

  renderMenus();
  layoutPicture();
  if (session.endReason && !$("end-dialog").open) showEnd(session);
}

function layoutPicture() {
  const session = state.session;
  const area = $("area");
  const picture = $("picture");
  const size = stagePictureSize(session && session.remoteVideoSize, qualityOf(state.quality));
  const W = area.clientWidth;
  const H = area.clientHeight;
  area.classList.toggle("scrolls", state.displayMode === "original");
  let r;
  if (state.displayMode === "original") {
    // One video pixel per CSS pixel, centred while it fits, scrolled when not.
    r = {x: Math.max(0, (W - size.width) / 2), y: Math.max(0, (H - size.height) / 2),
         width: size.width, height: size.height};
  } else {
    r = fittedRect(state.displayMode, size.width, size.height, W, H);
  }
  Object.assign(picture.style, {left: r.x + "px", top: r.y + "px", width: r.width + "px", height: r.height + "px"});
  // A pinch's zoom over the laid-out picture; the pointer's mapping reads the
  // transformed box, so it stays exact.
  const zoom = touch ? touch.zoom : {scale: 1, x: 0, y: 0};
  picture.style.transform = zoom.scale === 1 && !zoom.x && !zoom.y
      ? "" : `translate(${zoom.x}px, ${zoom.y}px) scale(${zoom.scale})`;
}

function showEnd(session) {
  for (const control of controls()) control.setEnabled(false);
  hideMenus();
  $("end-message").textContent = endMessage(session.endReason, session.startedAt, Date.now());
  let countdown = kEndCountdown;
  const ok = $("end-ok");
  ok.textContent = "OK (" + countdown + ")";
  clearInterval(endTimer);
  endTimer = setInterval(() => {
    if (countdown < 2) closeEnd();
    else ok.textContent = "OK (" + --countdown + ")";
  }, 1000);
  $("end-dialog").showModal();
}

function closeEnd() {
  clearInterval(endTimer);
  endTimer = null;
  if ($("end-dialog").open) $("end-dialog").close();
  backToDirectory();
}

function backToDirectory() {
  if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
  state.session = null;
  state.didEnd = false;
  shownStream = null;
  $("video").srcObject = null;
  $("stage").hidden = true;
  $("directory").hidden = false;
  renderDirectory();
  $("session-id").focus();
}

// --------------------------------------------------------------- menus --

function menuEntries(menu, entries) {
  $(menu).replaceChildren(...entries.map((entry) => {
    const item = document.createElement("button");
    item.setAttribute("role", "menuitemradio");
    item.setAttribute("aria-checked", String(entry.checked));
    item.className = "menu-item" + (entry.checked ? " checked" : "");
    item.textContent = entry.text;
    item.addEventListener("click", () => {
      $(menu).hidden = true;
      entry.action();
      $("area").focus({preventScroll: true});
    });
    return item;
  }));
}

function renderMenus() {
  const session = state.session;
  const mode = displayModes.find((m) => m.mode === state.displayMode);
  $("mode-label").textContent = mode.label;
  $("mode-icon").hidden = !mode.icon;
  if (mode.icon) $("mode-icon").src = "icons/" + mode.icon + ".svg";
  menuEntries("mode-menu", displayModes.map((m) => ({
    text: m.label, checked: m.mode === state.displayMode,
    action: () => { state.displayMode = m.mode; renderStage(); },
  })));
  menuEntries("display-menu", (session ? session.availableDisplays : []).map((d) => ({
    text: d.name + " (" + d.resolution + ")", checked: d.index === session.currentDisplayIndex,
    action: () => session.requestDisplaySwitch(d.index),
  })));
  menuEntries("quality-menu", qualities.map((q) => ({
    text: q.label, checked: q.raw === state.quality,
    action: () => {
      state.quality = q.raw;
      session.requestQuality(q.raw);
      renderStage();
    },
  })));
}

function hideMenus() {
  for (const menu of document.querySelectorAll(".menu")) menu.hidden = true;
}

function toggleMenu(menu) {
  const wasHidden = $(menu).hidden;
  hideMenus();
  $(menu).hidden = !wasHidden;
  // Closed, the keyboard goes back to the host.
  if (!wasHidden) $("area").focus({preventScroll: true});
}

// ---------------------------------------------------------------- tools --

async function toggleFullscreen() {
  if (document.fullscreenElement) {
    await document.exitFullscreen().catch(() => {});
    return;
  }
  await $("stage").requestFullscreen().catch(() => {});
  // In full screen Chromium lets the page have the keys the browser keeps
  // otherwise (Ctrl+W, Alt+Tab…); holding Escape leaves full screen.
  if (document.fullscreenElement && navigator.keyboard && navigator.keyboard.lock) {
    navigator.keyboard.lock().catch(() => {});
  }
}

function toast(text) {
  const element = $("toast");
  element.textContent = text;
  element.hidden = false;
  clearTimeout(toast.timer);
  toast.timer = setTimeout(() => { element.hidden = true; }, 4000);
}

// The host's picture at its full size as a PNG download.
function screenshot() {
  const video = $("video");
  if (!video.videoWidth || !video.videoHeight) {
    toast("📸 Capture d'écran impossible : aucune image");
    return;
  }
  const canvas = document.createElement("canvas");
  canvas.width = video.videoWidth;
  canvas.height = video.videoHeight;
  canvas.getContext("2d").drawImage(video, 0, 0);
  const name = screenshotName(new Date());
  canvas.toBlob((blob) => {
    if (!blob) {
      toast("📸 Capture d'écran impossible : aucune image reçue");
      return;
    }
    const link = document.createElement("a");
    link.href = URL.createObjectURL(blob);
    link.download = name;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
    toast("📸 Capture enregistrée : " + name);
  }, "image/png");
}

// ---------------------------------------------------------------- wiring --

function wire() {
  $("first-name").value = storage.read("firstName", "");
  $("last-name").value = storage.read("lastName", "");
  $("session-id").addEventListener("input", renderDirectory);
  $("connect").addEventListener("click", startConnecting);

  input = new InputCapture($("area"), $("picture"),
                           (message) => state.session && state.session.sendControl(message),
                           () => (state.session ? state.session.currentDisplayIndex : 0));
  const send = (message) => state.session && state.session.sendControl(message);
  const displayIndex = () => (state.session ? state.session.currentDisplayIndex : 0);
  touch = new TouchInput({area: $("area"), picture: $("picture"), cursor: $("touch-cursor"), button: $("touch-mode"),
                          send, displayIndex, relayout: layoutPicture});
  keyboard = new PhoneKeyboard({button: $("keyboard-button"), row: $("special-keys"), sink: $("type-sink"),
                                area: $("area"), send, displayIndex});

  $("leave").addEventListener("click", () => {
    const session = state.session;
    if (session && !session.endReason) disconnect(departureReason(displayName()));
    else closeEnd();
  });
  $("mode-button").addEventListener("click", () => toggleMenu("mode-menu"));
  $("display-button").addEventListener("click", () => toggleMenu("display-menu"));
  $("quality-button").addEventListener("click", () => toggleMenu("quality-menu"));
  document.addEventListener("pointerdown", (e) => {
    if (!e.target.closest(".menu-host")) hideMenus();
  });
  // The tool bar's labels and gaps do not take the keyboard from the host.
  document.querySelector(".topbar").addEventListener("mousedown", (e) => {
    if (!e.target.closest("button")) e.preventDefault();
  });
  $("hard-refresh").addEventListener("click", () => state.session && state.session.requestHardRefresh());
  $("requality").addEventListener("click", () => state.session && state.session.requestQuality(state.quality));
  $("fullscreen").addEventListener("click", toggleFullscreen);
  $("screenshot").addEventListener("click", screenshot);
  // A tool used, the keyboard goes back to the host (Space would press the
  // tool again otherwise).
  for (const tool of ["hard-refresh", "requality", "fullscreen", "screenshot"]) {
    $(tool).addEventListener("click", () => $("area").focus({preventScroll: true}));
  }
  document.addEventListener("fullscreenchange", () => {
    if (!document.fullscreenElement && navigator.keyboard && navigator.keyboard.unlock) navigator.keyboard.unlock();
    $("area").focus({preventScroll: true});
  });

  // Sent as it is submitted: the dialog's close comes a task later, when the
  // session may already have asked again.
  $("password-dialog").querySelector("form").addEventListener("submit", () => {
    if (state.session) state.session.submitPassword($("password").value);
  });
  $("password-dialog").addEventListener("close", () => {
    const dialog = $("password-dialog");
    const session = state.session;
    if (dialog.open) return;  // asked again since
    // Annuler or Escape: the prompt goes, the session waits.
    if (session && dialog.returnValue !== "ok" && dialog.returnValue !== "dismissed") session.dismissPassword();
    $("password").value = "";
    $("area").focus({preventScroll: true});
  });
  $("password-cancel").addEventListener("click", () => $("password-dialog").close("cancel"));
  $("end-ok").addEventListener("click", closeEnd);
  $("end-dialog").addEventListener("cancel", (e) => { e.preventDefault(); closeEnd(); });

  new ResizeObserver(() => layoutPicture()).observe($("area"));
  $("video").addEventListener("resize", layoutPicture);
  // Closing or leaving the page ends the session on the host too.
  window.addEventListener("pagehide", () => disconnect(reasons.windowClosed));
  renderDirectory();
}

wire();
