// SPDX-License-Identifier: GPL-3.0-or-later
// Typing from a phone: a tool bar button that raises the on-screen keyboard
// (what the person confirms is what the host gets), and a row of the keys
// phones lack (Esc, Tab, modifiers held for the next key, arrows, F-keys).

export class PhoneKeyboard {
  // button: the tool bar's keyboard button; row: the special keys' row;
  // sink: the text field the on-screen keyboard types into; area: the
  // stage's focusable area; send(message): one control message to the
  // session; displayIndex(): the shown display.
  constructor({button, row, sink, area, send, displayIndex}) {
    Object.assign(this, {button, row, sink, area, send, displayIndex});
    this.enabled = false;
  }

  setEnabled(enabled) {
    if (!enabled) this.releaseAll();
    this.enabled = enabled;
  }

  // Lets go of every key and modifier the host holds for this keyboard.
  releaseAll() {}
}
