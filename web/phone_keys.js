// SPDX-License-Identifier: GPL-3.0-or-later
// Typing from a phone: a tool bar button that raises the on-screen keyboard
// (what the person confirms is what the host gets), and a row of the keys
// phones lack (Esc, Tab, modifiers held for the next key, arrows, F-keys).
//
// The keyboard types into a text field; the host is sent the difference
// between what the field held and what it holds now, once the keyboard
// has settled on it: a word being composed is sent when it is committed,
// and a correction arrives as Backspaces and the corrected text.

import {macKeyCodes} from "./keys.js";
import {controlTypes, modifierFlags as flags} from "./schema.js";
import {modifierChanges, modifierFlagOfCode, modifierFlagsOf} from "./input.js";
import {whenTouchDevice} from "./touch.js";

// What the field starts with: an on-screen keyboard's Backspace is heard
// only when it has something to delete.
const kLead = "  ";
// Past this many characters the field starts again, once nothing is composed.
const kFieldChars = 48;
// Less of the page covered is the browser's own bars, not a keyboard.
const kKeyboardHeight = 80;

const key = (name) => ({keyCode: macKeyCodes[name]});
const isEnter = (k) => k.keyCode === macKeyCodes.Enter;

// Characters the host gets as their key rather than as themselves.
const characterKeys = {"\n": "Enter", "\t": "Tab"};
// The keys a keyboard sends that type nothing in the field (its key is its name here).
const typeNothing = new Set(["Escape", "Tab", "Enter", "ArrowLeft", "ArrowRight", "ArrowUp", "ArrowDown", "Home",
                             "End", "PageUp", "PageDown", "Delete", "Insert",
                             ...Array.from({length: 12}, (_, i) => "F" + (i + 1))]);

// The keys that take the host from the field's text `before` (what it has
// been sent) to `after`: a Backspace for each character after their common
// beginning, then the new ones. Characters beyond U+FFFF have no key on the
// host: they are neither sent nor taken back.
export function typingChanges(before, after) {
  const was = Array.from(before);
  const now = Array.from(after);
  let same = 0;
  while (same < was.length && same < now.length && was[same] === now[same]) ++same;
  const sent = (c) => c.length === 1 && c !== "\r";
  return [...was.slice(same).filter(sent).map(() => key("Backspace")),
          ...now.slice(same).filter(sent).map((c) => (characterKeys[c] ? key(characterKeys[c]) : {key: c}))];
}

// The special keys' row: a key of the host, a modifier held for the next
// key, or the F-keys' switch.
const rowKeys = [
  {id: "Escape", label: "Échap"},
  {id: "Tab", label: "Tab"},
  {id: "ctrl", label: "Ctrl", modifier: flags.ctrl},
  {id: "alt", label: "Alt", modifier: flags.alt},
  {id: "ArrowLeft", label: "←", title: "Flèche gauche"},
  {id: "ArrowUp", label: "↑", title: "Flèche haut"},
  {id: "ArrowDown", label: "↓", title: "Flèche bas"},
  {id: "ArrowRight", label: "→", title: "Flèche droite"},
  {id: "cmd", label: "Super", title: "Super / Cmd (⌘)", modifier: flags.cmd},
  {id: "shift", label: "Maj", title: "Maj (⇧)", modifier: flags.shift},
  {id: "fn", label: "Fn", title: "Touches F1 à F12"},
  ...Array.from({length: 12}, (_, i) => ({id: "F" + (i + 1), label: "F" + (i + 1), fKey: true})),
  {id: "ctrl-alt-delete", label: "Ctrl+Alt+Suppr", title: "Ctrl+Alt+Suppr sur l’ordinateur distant"},
];

export class PhoneKeyboard {
  // button: the tool bar's keyboard button; row: the special keys' row;
  // sink: the text field the on-screen keyboard types into; area: the
  // stage's focusable area; send(message): one control message to the
  // session; displayIndex(): the shown display.
  constructor({button, row, sink, area, send, displayIndex}) {
    Object.assign(this, {button, row, sink, area, send, displayIndex});
    this.enabled = false;
    this.touchDevice = false;
    this.latched = 0;        // modifiers the host holds for the next key
    this.sent = "";          // the field's text as the host has had it
    this.composing = false;
    this.fKeys = false;      // the row shows F1 to F12
    this.keyboardSeen = false;  // the on-screen keyboard came up since the field took the focus

    row.replaceChildren(...rowKeys.map((k) => {
      const b = document.createElement("button");
      b.type = "button";
      b.className = "special-key" + (k.fKey ? " f-key" : "");
      b.dataset.key = k.id;
      b.textContent = k.label;
      if (k.title) b.title = k.title;
      if (k.modifier || k.id === "fn") b.setAttribute("aria-pressed", "false");
      return b;
    }));

    const on = (target, type, handler, options) => target.addEventListener(type, handler, options);
    // The button and the row leave the focus in the field: the on-screen
    // keyboard stays up.
    on(button, "mousedown", (e) => e.preventDefault());
    on(row, "mousedown", (e) => e.preventDefault());
    on(button, "click", () => this.toggle());
    on(row, "click", (e) => {
      const b = e.target.closest("button");
      if (b && this.enabled) this.rowKey(rowKeys.find((k) => k.id === b.dataset.key));
    });
    on(sink, "focus", () => {
      this.keyboardSeen = false;
      this.render();
    });
    on(sink, "blur", () => {
      this.commit();
      // A modifier held for a key that will not come now.
      this.unlatch();
      this.render();
    });
    on(sink, "compositionstart", () => {
      this.composing = true;
      this.render();
    });
    on(sink, "compositionend", () => {
      this.composing = false;
      this.commit();
      this.render();
    });
    on(sink, "beforeinput", (e) => this.beforeInput(e));
    on(sink, "input", (e) => { if (!e.isComposing && !this.composing) this.commit(); });
    on(sink, "keydown", (e) => this.keyDown(e));
    if (window.visualViewport) {
      for (const type of ["resize", "scroll"]) on(window.visualViewport, type, () => this.keepAboveKeyboard());
    }
    whenTouchDevice(() => {
      this.touchDevice = true;
      this.render();
    });
    this.render();
  }

  setEnabled(enabled) {
    if (!enabled) this.releaseAll();
    this.enabled = enabled;
    this.render();
  }

  // Lets go of every key and modifier the host holds for this keyboard
  // (keys go down and up together: only the held modifiers).
  releaseAll() {
    this.unlatch();
  }

  get up() { return this.enabled && document.activeElement === this.sink; }

  render() {
    const up = this.up;
    this.button.hidden = !this.touchDevice;
    this.button.setAttribute("aria-pressed", String(up));
    // Hidden, the field loses the focus: the on-screen keyboard goes.
    this.sink.hidden = !(this.enabled && this.touchDevice);
    this.sink.classList.toggle("composing", this.composing);
    this.row.hidden = !up;
    for (const b of this.row.children) {
      const k = rowKeys.find((r) => r.id === b.dataset.key);
      if (k.modifier) b.setAttribute("aria-pressed", String((this.latched & k.modifier) !== 0));
      if (k.id === "fn") b.setAttribute("aria-pressed", String(this.fKeys));
      if (k.fKey) b.hidden = !this.fKeys;
    }
    this.keepAboveKeyboard();
  }

  toggle() {
    if (!this.enabled) return;
    if (this.up) {
      this.sink.blur();
      this.area.focus({preventScroll: true});
      return;
    }
    this.sink.hidden = false;
    this.restart();
    // In the tap's own handler: phones raise their keyboard only then.
    this.sink.focus({preventScroll: true});
  }

  // The on-screen keyboard covers the page's bottom without resizing it
  // (most phones): the stage keeps the row above it.
  keepAboveKeyboard() {
    const view = window.visualViewport;
    const covered = view && this.up ? Math.max(0, window.innerHeight - view.height - view.offsetTop) : 0;
    document.documentElement.style.setProperty("--keyboard-inset", Math.round(covered) + "px");
    if (covered > kKeyboardHeight) {
      this.keyboardSeen = true;
    } else if (this.up && this.keyboardSeen && covered === 0) {
      // Put away by the phone (Android's Back) with the field still focused:
      // the row goes with it, and the button raises it again.
      this.keyboardSeen = false;
      this.sink.blur();
    }
  }

  // The field anew, as if everything in it had been sent.
  restart() {
    this.sink.value = kLead;
    this.sink.setSelectionRange(kLead.length, kLead.length);
    this.sent = kLead;
  }

  // What the field holds now, to the host (nothing while a word is composed).
  commit() {
    if (this.composing) return;
    const value = this.sink.value;
    const keys = typingChanges(this.sent, value);
    this.sent = value;
    for (const k of keys) this.stroke(k);
    // Short, and with its lead for the next Backspace; a new line starts it again.
    if (value.length > kFieldChars || !value.startsWith(kLead) || keys.some(isEnter)) this.restart();
  }

  beforeInput(e) {
    // Enter is a key on the host (a terminal's line, a form's submit), not a character.
    if ((e.inputType === "insertLineBreak" || e.inputType === "insertParagraph") && e.cancelable && !this.composing) {
      e.preventDefault();
      this.hostKey(key("Enter"));
    }
  }

  // Keys that type nothing (a keyboard's Enter, a plugged keyboard's arrows)
  // and a plugged keyboard's shortcuts go to the host as keys.
  keyDown(e) {
    if (!this.enabled || e.isComposing || e.keyCode === 229) return;
    const held = modifierFlagsOf(e) & ~flags.shift;
    if (typeNothing.has(e.key)) {
      e.preventDefault();
      this.hostKey(key(e.key), modifierFlagsOf(e));
    } else if (held && macKeyCodes[e.code] !== undefined && !modifierFlagOfCode(e.code)) {
      e.preventDefault();
      this.hostKey({keyCode: macKeyCodes[e.code]}, modifierFlagsOf(e));
    }
  }

  // A key of the host after what the field holds; the field starts again
  // (the host's caret may be elsewhere now).
  hostKey(k, extra = 0) {
    this.commit();
    this.stroke(k, extra);
    this.restart();
  }

  rowKey(k) {
    if (!k) return;
    if (k.id === "fn") {
      this.fKeys = !this.fKeys;
    } else if (k.modifier) {
      // A tap holds it (a click on the picture has it too), a second lets go.
      const latched = this.latched ^ k.modifier;
      this.modifiers(this.latched, latched);
      this.latched = latched;
    } else if (k.id === "ctrl-alt-delete") {
      this.hostKey(key("Delete"), flags.ctrl | flags.alt);
    } else {
      this.hostKey(key(k.id));
    }
    this.render();
  }

  modifiers(before, after) {
    for (const message of modifierChanges(before, after)) this.send(message);
  }

  // One key pressed and let go, with the held modifiers and `extra` ones;
  // the held ones go with it.
  stroke(k, extra = 0) {
    this.modifiers(this.latched, this.latched | extra);
    this.send({t: controlTypes.keydown, ...k, displayIndex: this.displayIndex()});
    this.send({t: controlTypes.keyup, ...k, displayIndex: this.displayIndex()});
    this.modifiers(this.latched | extra, this.latched);
    this.unlatch();
  }

  unlatch() {
    if (!this.latched) return;
    this.modifiers(this.latched, 0);
    this.latched = 0;
    this.render();
  }
}
