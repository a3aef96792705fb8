// SPDX-License-Identifier: GPL-3.0-or-later
// The person's pointer and keyboard over the host's picture, as control
// messages: the same messages the application's client sends.

import {macKeyCodes} from "./keys.js";
import {controlTypes, modifierFlags as wireFlags} from "./schema.js";

// Modifier flags as the wire's peers know them (the macOS event flags), in
// the order their changes are sent.
export const modifierFlags = Object.freeze(["cmd", "shift", "alt", "ctrl"].map((k) => [k, wireFlags[k]]));
const flag = Object.fromEntries(modifierFlags);

// The flag a modifier key stands for (the Meta key is the command key); 0
// for other keys.
export function modifierFlagOfCode(code) {
  switch (code) {
    case "MetaLeft": case "MetaRight": case "OSLeft": case "OSRight": return flag.cmd;
    case "ShiftLeft": case "ShiftRight": return flag.shift;
    case "AltLeft": case "AltRight": return flag.alt;
    case "ControlLeft": case "ControlRight": return flag.ctrl;
    default: return 0;
  }
}

// The flags an event says are held.
export function modifierFlagsOf(event) {
  return (event.metaKey ? flag.cmd : 0) | (event.shiftKey ? flag.shift : 0) |
         (event.altKey || (event.getModifierState && event.getModifierState("AltGraph")) ? flag.alt : 0) |
         (event.ctrlKey ? flag.ctrl : 0);
}

// The "mod" messages from flags `before` to `after`.
export function modifierChanges(before, after) {
  const changed = before ^ after;
  return modifierFlags.filter(([, f]) => changed & f).map(([k, f]) => ({t: controlTypes.mod, k, d: (after & f) !== 0}));
}

// The normalised position of a client point over the picture's rectangle:
// x 0 at its left edge, y 0 at its top edge; points outside are clamped onto
// the nearest edge (NaN onto the low one); (0, 0) for an empty rectangle.
export function normalisedPosition(clientX, clientY, rect) {
  if (!(rect.width > 0) || !(rect.height > 0)) return {x: 0, y: 0};
  const clamp = (v, low, high) => (Number.isNaN(v) ? low : Math.max(low, Math.min(v, high)));
  const cx = clamp(clientX, rect.left, rect.left + rect.width);
  const cy = clamp(clientY, rect.top, rect.top + rect.height);
  return {x: (cx - rect.left) / rect.width, y: (cy - rect.top) / rect.height};
}

// Scroll deltas in pixels with the application client's signs (dy > 0 moves
// down the document, dx > 0 to its left). A wheel notch is 40 pixels, the
// amount a host turns into one wheel click: Firefox counts a notch as 3
// lines, Chromium reports pixels but says the notch in wheelDelta (120, up
// and left positive); a page is 400 pixels.
export function wheelPixels(event) {
  if (event.deltaMode === 1 || event.deltaMode === 2) {
    const unit = event.deltaMode === 1 ? 40 / 3 : 400;
    return {dx: -event.deltaX * unit, dy: event.deltaY * unit};
  }
  if (event.wheelDeltaX || event.wheelDeltaY) {
    const notch = 40 / 120;
    return {dx: (event.wheelDeltaX || 0) * notch, dy: -(event.wheelDeltaY || 0) * notch};
  }
  return {dx: -event.deltaX, dy: event.deltaY};
}

// One character a key typed when it has no physical key the host knows
// (virtual keyboards): what "key" carries; null otherwise.
export function typedCharacter(event) {
  if (event.isComposing || macKeyCodes[event.code] !== undefined) return null;
  const key = event.key || "";
  // One UTF-16 unit: characters beyond U+FFFF have no key on the host.
  return key.length === 1 ? key : null;
}

// What identifies a key that types a character: its physical key when the
// browser knows it, else the character (on-screen keyboards).
const characterKey = (event) =>
  event.code && event.code !== "Unidentified" ? "code:" + event.code : "key:" + event.key;

// Whether the browser keeps this key (F11: its own full screen).
export const keptByBrowser = (event) => event.code === "F11";

// Ctrl, Alt and Shift pressed together and let go with no other key: the
// way out of the host's keyboard, which the host never receives (the
// modifiers go to the host only with what they modify, or as a tap when let
// go alone). With another key they are the host's, as ever (Ctrl+Alt+Shift+T).
export const kEscapeChord = flag.ctrl | flag.alt | flag.shift;

// Wire button of a DOM button: 0 primary, 1 secondary; null for the others.
const wireButton = (button) => (button === 0 ? 0 : button === 2 ? 1 : null);

export class InputCapture {
  // area: the focusable element the keyboard belongs to; picture: the
  // element that is exactly the host's picture; send(message): hands one
  // control message to the session; displayIndex(): the shown display;
  // leave(): the person made the escape chord.
  constructor(area, picture, send, displayIndex, leave = () => {}) {
    this.area = area;
    this.picture = picture;
    this.send = send;
    this.displayIndex = displayIndex;
    this.modifiers = 0;    // the flags the host holds
    this.held = 0;         // the flags held here, which the host gets with the next key, click or release
    this.chord = false;    // the escape chord is held, and nothing else happened meanwhile
    this.swallowing = false;  // the chord made: its keys go nowhere until all are up
    this.leave = leave;
    this.heldButtons = new Set();
    this.heldKeys = new Set();     // key codes pressed on the host
    this.heldChars = new Map();    // characters pressed on the host, by the key that typed them
    this.enabled = false;

    const on = (target, type, handler, options) => target.addEventListener(type, handler, options);
    on(picture, "pointerdown", (e) => { if (this.enabled) picture.setPointerCapture(e.pointerId); });
    on(picture, "mousedown", (e) => this.mouseDown(e));
    on(picture, "mouseup", (e) => this.mouseUp(e));
    on(picture, "mousemove", (e) => this.mouseMove(e));
    on(picture, "lostpointercapture", () => this.releaseButtons());
    on(picture, "wheel", (e) => this.wheel(e), {passive: false});
    on(picture, "contextmenu", (e) => e.preventDefault());
    on(picture, "dragstart", (e) => e.preventDefault());
    on(area, "keydown", (e) => this.keyDown(e));
    on(area, "keyup", (e) => this.keyUp(e));
    // The releases will not come to us any more: let go on the host now.
    on(area, "blur", () => this.releaseAll());
    on(window, "blur", () => this.releaseAll());
    on(document, "visibilitychange", () => { if (document.hidden) this.releaseAll(); });
  }

  setEnabled(enabled) {
    if (!enabled) this.releaseAll();
    this.enabled = enabled;
  }

  position(e) {
    return normalisedPosition(e.clientX, e.clientY, this.picture.getBoundingClientRect());
  }

  pointer(t, button, e) {
    this.lastPointer = {clientX: e.clientX, clientY: e.clientY};
    const p = this.position(e);
    const message = {t};
    if (button !== null) message.b = button;
    message.x = p.x;
    message.y = p.y;
    message.displayIndex = this.displayIndex();
    this.send(message);
  }

  mouseDown(e) {
    const button = wireButton(e.button);
    if (!this.enabled || button === null) return;
    e.preventDefault();
    this.area.focus({preventScroll: true});
    this.flushModifiers();
    this.heldButtons.add(button);
    // The second press of a pair is the double click (not the third).
    this.pointer(e.detail === 2 ? controlTypes.doubleclick : controlTypes.mdown, button, e);
  }

  mouseUp(e) {
    const button = wireButton(e.button);
    // Only what the host holds.
    if (button === null || !this.heldButtons.delete(button)) return;
    this.pointer(controlTypes.mup, button, e);
  }

  mouseMove(e) {
    if (!this.enabled) return;
    if (this.heldButtons.has(0)) this.pointer(controlTypes.drag, 0, e);
    else if (this.heldButtons.has(1)) this.pointer(controlTypes.drag, 1, e);
    else this.pointer(controlTypes.move, null, e);
  }

  wheel(e) {
    if (!this.enabled) return;
    e.preventDefault();
    this.flushModifiers();
    const p = this.position(e);
    const {dx, dy} = wheelPixels(e);
    this.send({t: controlTypes.scroll, x: p.x, y: p.y, dx, dy, displayIndex: this.displayIndex()});
  }

  setModifiers(flags) {
    for (const message of modifierChanges(this.modifiers, flags)) this.send(message);
    this.modifiers = flags;
  }

  // The modifiers held here go to the host: something they modify comes.
  flushModifiers() {
    this.chord = false;
    this.setModifiers(this.held);
  }

  // A modifier's press or release: `flags` are now held.
  modifiersHeld(flags, released) {
    if (released && this.chord) {
      // The escape chord let go: the host heard none of it, nor will it hear
      // the rest of it let go.
      this.chord = false;
      this.held = flags;
      this.swallowing = flags !== 0;
      this.leave();  // (the keyboard leaves the area: everything is let go)
      return;
    }
    if (this.swallowing) {
      this.held = flags;
      this.swallowing = flags !== 0;
      return;
    }
    // Let go alone, a modifier reaches the host as a tap (Super opens its overview).
    if (released) this.setModifiers(this.held | this.modifiers);
    this.held = flags;
    if (released) this.setModifiers(flags);
    else this.chord = flags === kEscapeChord && this.modifiers === 0 && this.heldKeys.size === 0 &&
                      this.heldChars.size === 0 && this.heldButtons.size === 0;
  }

  keyDown(e) {
    if (!this.enabled || e.target !== this.area || keptByBrowser(e)) return;
    e.preventDefault();
    const modifier = modifierFlagOfCode(e.code);
    if (modifier) {
      if (!e.repeat) this.modifiersHeld(modifierFlagsOf(e) | modifier, false);
      return;
    }
    if (e.code === "CapsLock") return;  // a flag, not a key, for the host
    // A modifier pressed while the focus was elsewhere shows up here.
    this.held = modifierFlagsOf(e);
    this.flushModifiers();
    const code = macKeyCodes[e.code];
    if (code !== undefined) {
      this.heldKeys.add(code);
      this.send({t: controlTypes.keydown, keyCode: code, displayIndex: this.displayIndex()});
      return;
    }
    const character = typedCharacter(e);
    if (character !== null) {
      this.heldChars.set(characterKey(e), character);
      this.send({t: controlTypes.keydown, key: character, displayIndex: this.displayIndex()});
    }
  }

  keyUp(e) {
    if (!this.enabled || e.target !== this.area || keptByBrowser(e)) return;
    e.preventDefault();
    const modifier = modifierFlagOfCode(e.code);
    if (modifier) {
      // Browsers on macOS do not tell the release of a key let go while
      // Command was held (Cmd+C): whatever is still down goes up with it.
      if (modifier === flag.cmd) this.releaseKeys();
      this.modifiersHeld(modifierFlagsOf(e) & ~modifier, true);
      return;
    }
    const code = macKeyCodes[e.code];
    if (code !== undefined) {
      if (this.heldKeys.delete(code)) this.send({t: controlTypes.keyup, keyCode: code, displayIndex: this.displayIndex()});
      return;
    }
    // The character the key typed when it went down (Shift may be gone by now).
    const id = characterKey(e);
    const character = this.heldChars.get(id);
    if (character !== undefined) {
      this.heldChars.delete(id);
      this.send({t: controlTypes.keyup, key: character, displayIndex: this.displayIndex()});
    }
  }

  releaseButtons() {
    for (const button of this.heldButtons) {
      this.send({t: controlTypes.mup, b: button, ...this.lastPosition(), displayIndex: this.displayIndex()});
    }
    this.heldButtons.clear();
  }

  lastPosition() {
    if (!this.lastPointer) return {x: 0, y: 0};
    return this.position(this.lastPointer);
  }

  releaseKeys() {
    for (const code of this.heldKeys) this.send({t: controlTypes.keyup, keyCode: code, displayIndex: this.displayIndex()});
    for (const key of this.heldChars.values()) this.send({t: controlTypes.keyup, key, displayIndex: this.displayIndex()});
    this.heldKeys.clear();
    this.heldChars.clear();
  }

  // Lets go of everything the host holds for this page.
  releaseAll() {
    this.releaseButtons();
    this.releaseKeys();
    this.held = 0;
    this.chord = false;
    this.swallowing = false;
    this.setModifiers(0);
  }
}
