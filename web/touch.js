// SPDX-License-Identifier: GPL-3.0-or-later
// Touch on the host's picture, in two ways the person switches between
// from the tool bar: a touch pad (the finger moves a cursor drawn on the
// picture) and direct touch (the finger is the pointer); two fingers
// pinch to zoom the picture and pan it, never the page.

export class TouchInput {
  // area: the stage's focusable area; picture: the element that is the
  // host's picture; cursor: the cursor drawn in touch-pad mode; button: the
  // tool bar's switch; send(message): one control message to the session;
  // displayIndex(): the shown display; relayout(): asks the page to lay
  // the picture out again (after a zoom).
  constructor({area, picture, cursor, button, send, displayIndex, relayout}) {
    Object.assign(this, {area, picture, cursor, button, send, displayIndex, relayout});
    this.enabled = false;
  }

  setEnabled(enabled) {
    if (!enabled) this.releaseAll();
    this.enabled = enabled;
  }

  // Lets go of whatever a finger holds on the host.
  releaseAll() {}

  // The picture's zoom, which the page's layout applies: a scale and an
  // offset in CSS pixels of the zoomed picture from its laid-out place.
  get zoom() { return {scale: 1, x: 0, y: 0}; }
}
