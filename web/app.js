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
import {departureReason, displayModes, endMessage, lastSessionText, prettyId, qualities, qualityOf, reasons,
        screenshotName, typedId} from "./text.js";

const $ = (id) => document.getElementById(id);
const kRecentsShown = 8;
const kRecentsKept = 32;
const kEndCountdown = 10;
// What the tools that go through the server say without it.
const kNoServer = "Indisponible : le serveur de connexion ne répond pas (la session continue)";

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

// complete: the person asked to connect (too few digits are then a problem).
function renderDirectory(complete = false) {
  const typed = typedId($("session-id").value, complete);
  const button = $("connect");
  // Not disabled for a wrong ID: pressed (or Enter), it says what is wrong.
  button.disabled = state.connecting;
  button.classList.toggle("ready", typed.valid);
  button.setAttribute("aria-disabled", String(!typed.valid));
  button.textContent = state.connecting ? "Connexion..." : "Se connecter";
  button.classList.toggle("busy", state.connecting);
  $("id-problem").textContent = typed.problem;
  $("session-id").setAttribute("aria-invalid", String(typed.problem !== ""));

  const list = recents()
                   .sort((a, b) => (b.lastConnectedAt || 0) - (a.lastConnectedAt || 0))
                   .slice(0, kRecentsShown);
  $("recents-box").hidden = list.length === 0;
  const container = $("recents");
  container.replaceChildren(...list.map((r) => {
    const card = document.createElement("div");
    card.className = "recent";
    card.dataset.id = r.id;
    const title = document.createElement("strong");
    title.textContent = prettyId(r.id);
    const subtitle = document.createElement("span");
    subtitle.className = "caption";
    subtitle.textContent = r.lastConnectedAt ? "Dernière session : " + lastSessionText(r.lastConnectedAt) : "";
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
  const typed = typedId($("session-id").value, true);
  if (!typed.valid || state.connecting || state.session) {
    renderDirectory(true);
    return;
  }
  const id = typed.id;
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
  state.began = false;
  state.left = false;
  state.passwordDismissed = false;
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
    state.began = true;
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
  state.left = reason !== reasons.windowClosed;
  for (const control of controls()) control.releaseAll();
  state.session.stop(reason);
}

let shownStream = null;
let endTimer = null;

function renderStage() {
  const session = state.session;
  if (!session) return;
  // One word for where the session is: connecting, connected, over; the
  // peer connection's own state only once there is one.
  const over = Boolean(session.endReason);
  const label = $("connected-label");
  label.textContent = over ? "Déconnecté" : state.began ? "Connecté" : "Connexion…";
  label.className = "dot-label " + (over ? "grey" : state.began ? "green" : "orange");
  $("leave").querySelector("span").textContent = over ? "Retour" : "Déconnecter";
  $("leave").setAttribute("aria-label", over ? "Retour" : "Déconnecter");
  $("state-label").textContent = session.connectionState;
  $("state-label").hidden = over || !session.pc;
  const waiting = session.isWaitingApproval && state.displayMode !== "original";
  $("stage-status").textContent = session.stream || waiting ? "" : session.status;
  // The password put away: the way back to it.
  $("password-again").hidden = !state.passwordDismissed || session.askPassword || over;

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
  if (session.askPassword) state.passwordDismissed = false;
  if (session.askPassword && !dialog.open) {
    $("password").value = "";
    dialog.returnValue = "";
    dialog.showModal();
  } else if (!session.askPassword && dialog.open) {
    dialog.close("dismissed");
  }

  renderMenus();
  fitToolBar();
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

// A session that was under way ends with how long it lasted, and goes by
// itself; one that never began says why, and waits for the person.
function showEnd(session) {
  for (const control of controls()) control.setEnabled(false);
  hideMenus();
  // The person's own leaving in their words (the host was told it in its own).
  const reason = state.left ? reasons.youLeft : session.endReason;
  $("end-title").textContent = state.began ? "Session terminée" : "Connexion impossible";
  $("end-message").textContent = state.began ? endMessage(reason, session.startedAt, Date.now()) : reason;
  const ok = $("end-ok");
  clearInterval(endTimer);
  endTimer = null;
  ok.textContent = "OK";
  if (state.began) {
    let countdown = kEndCountdown;
    ok.textContent = "OK (" + countdown + ")";
    endTimer = setInterval(() => {
      if (countdown < 2) closeEnd();
      else ok.textContent = "OK (" + --countdown + ")";
    }, 1000);
  }
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
  // The ID stays, to try again or correct it.
  $("session-id").focus();
  $("session-id").select();
}

// --------------------------------------------------------------- menus --

// Entries: {text, checked, action} (a choice), {text, action} (a tool), or
// {heading} (a group's title).
function menuEntries(menu, entries) {
  $(menu).replaceChildren(...entries.map((entry) => {
    if (entry.heading) {
      const heading = document.createElement("div");
      heading.className = "menu-heading";
      heading.setAttribute("role", "presentation");
      heading.textContent = entry.heading;
      return heading;
    }
    const item = document.createElement("button");
    const choice = entry.checked !== undefined;
    item.setAttribute("role", choice ? "menuitemradio" : "menuitem");
    if (choice) item.setAttribute("aria-checked", String(entry.checked));
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
  const modes = displayModes.map((m) => ({
    text: m.label, checked: m.mode === state.displayMode,
    action: () => { state.displayMode = m.mode; renderStage(); },
  }));
  const displays = (session ? session.availableDisplays : []).map((d) => ({
    text: d.name + " (" + d.resolution + ")", checked: d.index === session.currentDisplayIndex,
    action: () => session.requestDisplaySwitch(d.index) || toast(kNoServer),
  }));
  const levels = qualities.map((q) => ({
    text: q.label, checked: q.raw === state.quality,
    action: () => {
      // Ticked only once asked for.
      if (!session.requestQuality(q.raw)) return toast(kNoServer);
      state.quality = q.raw;
      renderStage();
    },
  }));
  menuEntries("mode-menu", modes);
  menuEntries("display-menu", displays);
  menuEntries("quality-menu", levels);
  // On a narrow screen every tool is in one menu.
  const tool = (id) => ({text: $(id).title, action: () => $(id).click()});
  menuEntries("more-menu", [
    {heading: "Affichage"}, ...modes,
    ...(displays.length > 1 ? [{heading: "Écran"}, ...displays] : []),
    {heading: "Qualité"}, ...levels,
    {heading: "Outils"}, tool("hard-refresh"), tool("requality"), tool("fullscreen"), tool("screenshot"),
  ]);
}

function hideMenus() {
  for (const menu of document.querySelectorAll(".menu")) menu.hidden = true;
}

function toggleMenu(menu) {
  const wasHidden = $(menu).hidden;
  hideMenus();
  $(menu).hidden = !wasHidden;
  if (wasHidden) {
    placeMenu($(menu));
    const first = $(menu).querySelector("button");
    if (first) first.focus({preventScroll: true});
  } else {
    // Closed, the keyboard goes back to the host.
    $("area").focus({preventScroll: true});
  }
}

// The tools fold into one menu when the bar cannot show them all (a
// tablet with the touch buttons, a narrow window).
function fitToolBar() {
  const stage = $("stage");
  const bar = stage.querySelector(".topbar");
  if (stage.hidden) return;
  stage.classList.remove("folded");
  if (bar.scrollWidth > bar.clientWidth + 1) stage.classList.add("folded");
}

// Under its button, moved in so that it stays on the screen, scrolling
// when taller than the room below.
function placeMenu(menu) {
  const button = menu.parentElement.querySelector("button");
  const anchor = button.getBoundingClientRect();
  const margin = 8;
  menu.style.maxHeight = Math.max(120, window.innerHeight - anchor.bottom - 4 - margin) + "px";
  const width = Math.min(menu.offsetWidth, window.innerWidth - 2 * margin);
  menu.style.left = Math.max(margin, Math.min(anchor.left, window.innerWidth - width - margin)) + "px";
  menu.style.top = anchor.bottom + 4 + "px";
}

// A phone held sideways gives the picture the whole screen, as full screen does.
const sideways = matchMedia("(orientation: landscape) and (max-height: 500px)");
function overlayBar() {
  $("stage").classList.toggle("overlaid", Boolean(document.fullscreenElement) || sideways.matches);
}

// The keyboard back to the page from the host's picture: the first tool
// has it, and the person hears how to go on.
function leaveKeyboard() {
  hideMenus();
  $("leave").focus();
  toast("Le clavier est à la page : Tab parcourt les outils, Échap revient à l’ordinateur distant");
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
    toast("Capture d'écran impossible : aucune image");
    return;
  }
  // The host may code its screen smaller on a narrow link: saved at the
  // screen's own size.
  const screen = state.session && state.session.remoteVideoSize;
  const canvas = document.createElement("canvas");
  canvas.width = screen ? screen.width : video.videoWidth;
  canvas.height = screen ? screen.height : video.videoHeight;
  canvas.getContext("2d").drawImage(video, 0, 0, canvas.width, canvas.height);
  const name = screenshotName(new Date());
  canvas.toBlob((blob) => {
    if (!blob) {
      toast("Capture d'écran impossible : aucune image reçue");
      return;
    }
    const link = document.createElement("a");
    link.href = URL.createObjectURL(blob);
    link.download = name;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
    toast("Capture enregistrée : " + name);
  }, "image/png");
}

// ---------------------------------------------------------------- wiring --

function wire() {
  $("first-name").value = storage.read("firstName", "");
  $("last-name").value = storage.read("lastName", "");
  $("session-id").addEventListener("input", () => renderDirectory());
  // Enter in any of the form's fields, or the button.
  $("connect-form").addEventListener("submit", (e) => {
    e.preventDefault();
    startConnecting();
  });

  input = new InputCapture($("area"), $("picture"),
                           (message) => state.session && state.session.sendControl(message),
                           () => (state.session ? state.session.currentDisplayIndex : 0), leaveKeyboard);
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
  $("more-button").addEventListener("click", () => toggleMenu("more-menu"));
  $("display-button").addEventListener("click", () => toggleMenu("display-menu"));
  $("quality-button").addEventListener("click", () => toggleMenu("quality-menu"));
  document.addEventListener("pointerdown", (e) => {
    if (!e.target.closest(".menu-host")) hideMenus();
  });
  // Escape in a menu closes it (its button keeps the keyboard); on the tool
  // bar, it gives the keyboard back to the host. On the picture it is the host's.
  $("stage").addEventListener("keydown", (e) => {
    if (e.key !== "Escape" || e.target === $("area") || e.target.closest("dialog")) return;
    const menu = e.target.closest(".menu-host");
    if (menu && !menu.querySelector(".menu").hidden) {
      e.preventDefault();
      hideMenus();
      menu.querySelector("button").focus();
    } else if (e.target.closest(".topbar")) {
      e.preventDefault();
      $("area").focus({preventScroll: true});
    }
  });
  window.addEventListener("resize", () => {
    hideMenus();
    fitToolBar();
  });
  // The touch buttons come with the first touch.
  const refit = new ResizeObserver(() => fitToolBar());
  for (const id of ["touch-mode", "keyboard-button", "connected-label"]) refit.observe($(id));
  // The tool bar's labels and gaps do not take the keyboard from the host.
  document.querySelector(".topbar").addEventListener("mousedown", (e) => {
    if (!e.target.closest("button")) e.preventDefault();
  });
  $("hard-refresh").addEventListener("click", () => {
    if (state.session) toast(state.session.requestHardRefresh() ? "Connexion rafraîchie à la demande" : kNoServer);
  });
  $("requality").addEventListener("click", () => {
    if (state.session) toast(state.session.requestQuality(state.quality) ? "Qualité redemandée à l’hôte" : kNoServer);
  });
  $("fullscreen").addEventListener("click", toggleFullscreen);
  $("screenshot").addEventListener("click", screenshot);
  // A tool used, the keyboard goes back to the host (Space would press the
  // tool again otherwise).
  for (const tool of ["hard-refresh", "requality", "fullscreen", "screenshot"]) {
    $(tool).addEventListener("click", () => $("area").focus({preventScroll: true}));
  }
  document.addEventListener("fullscreenchange", () => {
    const full = Boolean(document.fullscreenElement);
    if (!full && navigator.keyboard && navigator.keyboard.unlock) navigator.keyboard.unlock();
    overlayBar();
    const label = full ? "Quitter le plein écran" : "Plein écran";
    $("fullscreen").title = label;
    $("fullscreen").querySelector("img").alt = label;
    renderMenus();
    $("area").focus({preventScroll: true});
  });
  // In full screen (and on a phone held sideways) the tool bar slides away
  // for the picture: the handle, or the pointer at the top edge, brings it back.
  const revealBar = () => {
    $("stage").classList.add("reveal");
    clearTimeout(revealBar.timer);
    revealBar.timer = setTimeout(() => {
      if (!$("stage").querySelector(".topbar").matches(":hover, :focus-within")) $("stage").classList.remove("reveal");
    }, 4000);
  };
  sideways.addEventListener("change", overlayBar);
  overlayBar();
  $("bar-handle").addEventListener("click", () => {
    revealBar();
    $("leave").focus({preventScroll: true});
  });
  $("stage").addEventListener("mousemove", (e) => { if (e.clientY < 6) revealBar(); });
  $("stage").querySelector(".topbar").addEventListener("focusin", revealBar);

  // Sent as it is submitted: the dialog's close comes a task later, when the
  // session may already have asked again.
  $("password-dialog").querySelector("form").addEventListener("submit", () => {
    if (state.session) state.session.submitPassword($("password").value);
  });
  $("password-dialog").addEventListener("close", () => {
    const dialog = $("password-dialog");
    const session = state.session;
    if (dialog.open) return;  // asked again since
    // Annuler or Escape: the prompt goes, the session waits, and the stage
    // offers it again.
    if (session && dialog.returnValue !== "ok" && dialog.returnValue !== "dismissed") {
      state.passwordDismissed = true;
      session.dismissPassword();
    }
    $("password").value = "";
    $("area").focus({preventScroll: true});
  });
  $("password-cancel").addEventListener("click", () => $("password-dialog").close("cancel"));
  $("password-reopen").addEventListener("click", () => state.session && state.session.askPasswordAgain());
  $("end-ok").addEventListener("click", closeEnd);
  $("end-dialog").addEventListener("cancel", (e) => { e.preventDefault(); closeEnd(); });

  new ResizeObserver(() => layoutPicture()).observe($("area"));
  $("video").addEventListener("resize", layoutPicture);
  // Closing or leaving the page ends the session on the host too.
  window.addEventListener("pagehide", () => disconnect(reasons.windowClosed));
  renderDirectory();
}

wire();
