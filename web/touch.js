// SPDX-License-Identifier: GPL-3.0-or-later
// Touch on the host's picture, in two ways the person switches between
// from the tool bar: a touch pad (the finger moves a cursor drawn on the
// picture) and direct touch (the finger is the pointer); two fingers
// pinch to zoom the picture and pan it, never the page.
//
//               touch pad                     direct touch
//   one finger  moves the cursor              drags with the left button
//   tap         left click at the cursor      left click under the finger
//   tap, drag   drags with the left button    -
//   long press  -                             right click under the finger
//   two fingers scroll, tap: right click, spread or close: zoom and pan

import {normalisedPosition} from "./input.js";
import {controlTypes} from "./schema.js";

const kSlop = 10;            // CSS pixels a finger may wander and still be still
const kTapMs = 300;          // the longest touch that is still a tap
const kTapDragMs = 250;      // touch pad: how long a tap waits for the touch that drags
const kDoubleTapMs = 300;
const kDoubleTapSlop = 24;
const kLongPressMs = 500;
const kPinchSlop = 24;       // change in the fingers' spread that makes a pinch
const kMaxZoom = 5;
const kScrollGain = 2;       // host pixels a finger's CSS pixel scrolls, unzoomed
const kCursorMargin = 24;    // a zoomed picture pans to keep the cursor this far in

export const touchModes = Object.freeze({pad: "Pavé tactile", direct: "Toucher direct"});
const kModeKey = "lunor.touchMode";

const clamp = (v, low, high) => Math.max(low, Math.min(v, high));

// Calls `then` once the device shows it has a touch screen: a coarse
// pointer, or its first touch (a laptop's screen may be both).
export function whenTouchDevice(then) {
  const coarse = window.matchMedia("(pointer: coarse)");
  let told = false;
  const tell = () => {
    if (told) return;
    told = true;
    coarse.removeEventListener("change", tell);
    window.removeEventListener("touchstart", tell, true);
    then();
  };
  if (coarse.matches) {
    tell();
    return;
  }
  coarse.addEventListener("change", tell);
  window.addEventListener("touchstart", tell, {capture: true, passive: true});
}

function storedMode() {
  try {
    const mode = JSON.parse(localStorage.getItem(kModeKey));
    return Object.hasOwn(touchModes, mode) ? mode : null;
  } catch (e) {
    return null;
  }
}

// A phone's screen is small enough that a finger hides what it points at.
const defaultMode = () => (window.matchMedia("(max-width: 599px), (max-height: 599px)").matches ? "pad" : "direct");

export class TouchInput {
  // area: the stage's focusable area; picture: the element that is the
  // host's picture; cursor: the cursor drawn in touch-pad mode; button: the
  // tool bar's switch; send(message): one control message to the session;
  // displayIndex(): the shown display; relayout(): asks the page to lay
  // the picture out again (after a zoom).
  constructor({area, picture, cursor, button, send, displayIndex, relayout}) {
    Object.assign(this, {area, picture, cursor, button, send, displayIndex, relayout});
    this.enabled = false;
    this.touchDevice = false;
    this.mode = storedMode() || defaultMode();
    this.scale = 1;
    this.offset = {x: 0, y: 0};   // of the zoomed picture from its laid-out place, CSS pixels
    this.cursorAt = {x: 0.5, y: 0.5};  // normalised over the picture
    this.gesture = null;          // the fingers on the area, from the first down to the last up
    this.held = null;             // {b, at}: the button a finger holds on the host
    this.pendingTap = null;       // touch pad: a tap waiting to see whether a drag follows
    this.lastTap = null;          // direct: {at, time, clientX, clientY} for a double tap
    this.glide = null;            // a scroll's momentum after the fingers left

    const on = (target, type, handler, options) => target.addEventListener(type, handler, options);
    for (const type of ["touchstart", "touchmove", "touchend", "touchcancel"]) {
      on(area, type, (e) => this.touch(e), {passive: false});
    }
    // Safari's own pinch, which touch-action does not stop everywhere.
    on(area, "gesturestart", (e) => e.preventDefault());
    // The switch leaves the focus where it is (the phone's keyboard stays up).
    on(button, "mousedown", (e) => e.preventDefault());
    on(button, "click", () => this.setMode(this.mode === "pad" ? "direct" : "pad"));
    whenTouchDevice(() => {
      this.touchDevice = true;
      this.render();
    });
    this.render();
  }

  setEnabled(enabled) {
    if (!enabled) this.releaseAll();
    this.enabled = enabled;
    if (enabled) {
      // A new session starts unzoomed, the cursor in the middle.
      this.scale = 1;
      this.offset = {x: 0, y: 0};
      this.cursorAt = {x: 0.5, y: 0.5};
    }
    this.render();
  }

  setMode(mode) {
    this.releaseAll();
    // The cursor takes over where the finger last was.
    if (mode === "pad" && this.lastDirect) this.cursorAt = this.lastDirect;
    this.mode = mode;
    try { localStorage.setItem(kModeKey, JSON.stringify(mode)); } catch (e) { /* private mode */ }
    this.render();
  }

  render() {
    const other = this.mode === "pad" ? "direct" : "pad";
    this.button.hidden = !this.touchDevice;
    this.button.textContent = touchModes[this.mode];
    this.button.title = `Toucher : ${touchModes[this.mode]} (passer en ${touchModes[other]})`;
    this.button.dataset.mode = this.mode;
    this.cursor.hidden = !(this.enabled && this.touchDevice && this.mode === "pad");
    this.placeCursor();
  }

  // Lets go of whatever a finger holds on the host.
  releaseAll() {
    if (this.gesture) clearTimeout(this.gesture.longPress);
    this.gesture = null;
    if (this.pendingTap) clearTimeout(this.pendingTap.timer);
    this.pendingTap = null;
    this.lastTap = null;
    this.stopGlide();
    if (this.held) this.pointer(controlTypes.mup, this.held.b, this.held.at);
    this.held = null;
  }

  // The picture's zoom, which the page's layout applies: a scale and an
  // offset in CSS pixels of the zoomed picture from its laid-out place.
  // Read as the page lays the picture out, it is kept over the picture's
  // new place, and the cursor with it.
  get zoom() {
    this.keepZoomInPlace();
    this.placeCursor();
    return {scale: this.scale, x: this.offset.x, y: this.offset.y};
  }

  // ------------------------------------------------------------ geometry --

  // The picture's laid-out box in the area's content (the zoom aside).
  laidOut() {
    const p = this.picture;
    return {x: p.offsetLeft, y: p.offsetTop, width: p.offsetWidth, height: p.offsetHeight};
  }

  // A client point in the area's content, where the picture and the cursor are placed.
  areaPoint(clientX, clientY) {
    const r = this.area.getBoundingClientRect();
    return {x: clientX - r.left - this.area.clientLeft + this.area.scrollLeft,
            y: clientY - r.top - this.area.clientTop + this.area.scrollTop};
  }

  // A zoomed picture covers the area where it is big enough, and stays
  // centred where it is not.
  keepZoomInPlace() {
    const box = this.laidOut();
    const axis = (offset, start, size, room) => {
      const extent = Math.max(room, size + 2 * start);
      const span = size * this.scale;
      if (span <= extent) return (extent - span) / 2 - start;
      return clamp(offset, extent - span - start, -start);
    };
    this.offset = {x: axis(this.offset.x, box.x, box.width, this.area.clientWidth),
                   y: axis(this.offset.y, box.y, box.height, this.area.clientHeight)};
  }

  // Where a normalised point of the picture is in the area's content.
  shownAt(p) {
    const box = this.laidOut();
    return {x: box.x + this.offset.x + p.x * box.width * this.scale,
            y: box.y + this.offset.y + p.y * box.height * this.scale};
  }

  placeCursor() {
    if (this.cursor.hidden) return;
    const at = this.shownAt(this.cursorAt);
    this.cursor.style.transform = `translate(${at.x}px, ${at.y}px)`;
  }

  setZoom(scale, offset) {
    this.scale = clamp(scale, 1, kMaxZoom);
    this.offset = offset;
    this.relayout();
    // A picture shown 1:1 and bigger than the area pans by scrolling the
    // area, where the zoom has no room.
    if (getComputedStyle(this.area).overflow !== "hidden") {
      this.area.scrollLeft -= offset.x - this.offset.x;
      this.area.scrollTop -= offset.y - this.offset.y;
    }
  }

  // ------------------------------------------------------------- messages --

  pointer(t, b, at) {
    const message = {t};
    if (b !== null) message.b = b;
    message.x = at.x;
    message.y = at.y;
    message.displayIndex = this.displayIndex();
    this.send(message);
  }

  click(b, at) {
    this.pointer(controlTypes.mdown, b, at);
    this.pointer(controlTypes.mup, b, at);
  }

  press(at) {
    this.held = {b: 0, at};
    this.pointer(controlTypes.mdown, 0, at);
  }

  scroll(at, dx, dy) {
    if (!dx && !dy) return;
    this.send({t: controlTypes.scroll, x: at.x, y: at.y, dx, dy, displayIndex: this.displayIndex()});
  }

  // A finger's client point, normalised over the picture as it is shown.
  under(finger) {
    const at = normalisedPosition(finger.x, finger.y, this.picture.getBoundingClientRect());
    this.lastDirect = at;
    return at;
  }

  // ------------------------------------------------------------- gestures --

  touch(e) {
    if (!this.enabled) return;
    // Only touches that begin on the picture or the area around it (not the
    // waiting page's text); the browser makes no mouse events of them.
    if (!this.gesture && (e.type !== "touchstart" || !(e.target === this.area || this.picture.contains(e.target)))) {
      return;
    }
    e.preventDefault();
    if (e.type === "touchstart") this.fingersDown(e);
    else if (e.type === "touchmove") this.fingersMoved(e);
    else this.fingersUp(e, e.type === "touchcancel");
  }

  fingersDown(e) {
    this.stopGlide();
    let g = this.gesture;
    if (!g) {
      g = this.gesture = {ids: new Set(), fingers: new Map(), kind: "one", start: e.timeStamp, last: e.timeStamp};
      if (this.pendingTap) {
        // A touch right after a tap: the tap's click waits to see what it is.
        clearTimeout(this.pendingTap.timer);
        g.afterTap = this.pendingTap;
        this.pendingTap = null;
      }
    }
    for (const t of e.changedTouches) {
      g.ids.add(t.identifier);
      if (g.fingers.size < 2 && g.ids.size <= 2) {
        const finger = {x0: t.clientX, y0: t.clientY, x: t.clientX, y: t.clientY, lastX: t.clientX, lastY: t.clientY};
        g.fingers.set(t.identifier, finger);
        if (!g.first) g.first = finger;
      }
    }
    if (g.fingers.size === 1 && g.kind === "one" && this.mode === "direct") {
      g.longPress = setTimeout(() => this.longPress(), kLongPressMs);
    }
    // A second finger before the first did anything: a two-finger gesture.
    if (g.fingers.size === 2 && (g.kind === "one" || g.kind === "move")) {
      clearTimeout(g.longPress);
      this.flushTap(g);
      const [a, b] = g.fingers.values();
      const middle = {x: (a.x + b.x) / 2, y: (a.y + b.y) / 2};
      Object.assign(g, {kind: "two", start2: e.timeStamp, spread0: Math.hypot(a.x - b.x, a.y - b.y), middle0: middle,
                        tapAt: this.mode === "pad" ? {...this.cursorAt} : this.under(middle)});
    }
  }

  fingersMoved(e) {
    const g = this.gesture;
    for (const t of e.changedTouches) {
      const f = g.fingers.get(t.identifier);
      if (f) Object.assign(f, {x: t.clientX, y: t.clientY});
    }
    const dt = Math.max(1, e.timeStamp - g.last);
    g.last = e.timeStamp;
    const f = g.first;
    if (g.kind === "one" && Math.hypot(f.x - f.x0, f.y - f.y0) > kSlop) {
      clearTimeout(g.longPress);
      if (this.mode === "direct") {
        g.kind = "drag";
        this.press(this.under({x: f.x0, y: f.y0}));
      } else if (g.afterTap) {
        // Tap, then touch again and move: the tap's press drags.
        g.kind = "drag";
        g.afterTap = null;
        this.press({...this.cursorAt});
      } else {
        g.kind = "move";
      }
    }
    if ((g.kind === "move" || g.kind === "drag") && (f.x !== f.lastX || f.y !== f.lastY)) {
      if (this.mode === "pad") this.moveCursor(f.x - f.lastX, f.y - f.lastY, dt);
      else this.held.at = this.under(f);
      if (g.kind === "drag") this.pointer(controlTypes.drag, 0, this.held.at);
      else this.pointer(controlTypes.move, null, this.cursorAt);
    } else if (g.fingers.size === 2 && ["two", "pinch", "scroll"].includes(g.kind)) {
      const [a, b] = g.fingers.values();
      this.twoFingers(g, a, b, dt);
    }
    for (const finger of g.fingers.values()) Object.assign(finger, {lastX: finger.x, lastY: finger.y});
  }

  twoFingers(g, a, b, dt) {
    const spread = Math.hypot(a.x - b.x, a.y - b.y);
    const middle = {x: (a.x + b.x) / 2, y: (a.y + b.y) / 2};
    if (g.kind === "two") {
      if (Math.abs(spread - g.spread0) > kPinchSlop) {
        // From here on, the picture's point under the fingers stays under them.
        const box = this.laidOut();
        const m = this.areaPoint(middle.x, middle.y);
        Object.assign(g, {kind: "pinch", spread0: spread, scale0: this.scale,
                          anchor: {x: (m.x - box.x - this.offset.x) / this.scale,
                                   y: (m.y - box.y - this.offset.y) / this.scale}});
      } else if (Math.hypot(middle.x - g.middle0.x, middle.y - g.middle0.y) > kSlop) {
        g.kind = "scroll";
        g.velocity = {x: 0, y: 0};
      }
    }
    if (g.kind === "pinch") {
      const box = this.laidOut();
      const m = this.areaPoint(middle.x, middle.y);
      const scale = clamp(g.scale0 * spread / g.spread0, 1, kMaxZoom);
      this.setZoom(scale, {x: m.x - box.x - g.anchor.x * scale, y: m.y - box.y - g.anchor.y * scale});
    } else if (g.kind === "scroll") {
      const last = {x: (a.lastX + b.lastX) / 2, y: (a.lastY + b.lastY) / 2};
      // The host's page follows the fingers, as a phone's own pages do.
      const dx = (middle.x - last.x) * kScrollGain / this.scale;
      const dy = -(middle.y - last.y) * kScrollGain / this.scale;
      const keep = Math.exp(-dt / 50);  // a short memory of the speed, for the momentum
      g.velocity = {x: keep * g.velocity.x + (1 - keep) * dx / dt, y: keep * g.velocity.y + (1 - keep) * dy / dt};
      g.scrollAt = this.mode === "pad" ? {...this.cursorAt} : this.under(middle);
      this.scroll(g.scrollAt, dx, dy);
    }
  }

  fingersUp(e, cancelled) {
    const g = this.gesture;
    for (const t of e.changedTouches) {
      g.ids.delete(t.identifier);
      // A finger gone ends what it did alone; two-finger gestures wait for both.
      if (g.fingers.get(t.identifier) === g.first && g.kind === "drag" && !cancelled) {
        this.pointer(controlTypes.mup, 0, this.held.at);
        this.held = null;
        g.kind = "done";
      }
      g.fingers.delete(t.identifier);
    }
    if (cancelled) {
      this.releaseAll();
      return;
    }
    if (g.ids.size > 0) return;
    this.gesture = null;
    clearTimeout(g.longPress);
    const f = g.first;
    if (g.kind === "one" && this.mode === "direct") {
      this.directTap(this.under({x: f.x0, y: f.y0}), e.timeStamp, f);
    } else if (g.kind === "one" && e.timeStamp - g.start < kTapMs) {
      const tap = g.afterTap;
      g.afterTap = null;
      if (tap) {
        // The second tap of two: a double click.
        this.click(0, tap.at);
        this.pointer(controlTypes.doubleclick, 0, tap.at);
        this.pointer(controlTypes.mup, 0, tap.at);
      } else {
        const pending = {at: {...this.cursorAt}};
        pending.timer = setTimeout(() => this.flushTap({afterTap: pending}), kTapDragMs);
        this.pendingTap = pending;
      }
    } else if (g.kind === "two" && e.timeStamp - g.start2 < kTapMs) {
      this.click(1, g.tapAt);
    } else if (g.kind === "scroll") {
      this.startGlide(g.velocity, g.scrollAt);
    }
    this.flushTap(g);
  }

  // The click of a tap that no drag followed.
  flushTap(g) {
    const tap = g.afterTap;
    if (!tap) return;
    g.afterTap = null;
    if (tap === this.pendingTap) this.pendingTap = null;
    this.click(0, tap.at);
  }

  directTap(at, time, f) {
    const last = this.lastTap;
    if (last && time - last.time < kDoubleTapMs && Math.hypot(f.x0 - last.x, f.y0 - last.y) < kDoubleTapSlop) {
      // The second press of a pair is the double click, where the first was.
      this.pointer(controlTypes.doubleclick, 0, last.at);
      this.pointer(controlTypes.mup, 0, last.at);
      this.lastTap = null;
      return;
    }
    this.click(0, at);
    this.lastTap = {at, time, x: f.x0, y: f.y0};
  }

  longPress() {
    const g = this.gesture;
    if (!g || g.kind !== "one") return;
    g.kind = "pressed";
    const [f] = g.fingers.values();
    this.click(1, this.under({x: f.x0, y: f.y0}));
    if (navigator.vibrate) navigator.vibrate(10);
  }

  // Touch pad: the cursor goes the finger's way, further the faster it goes.
  moveCursor(dx, dy, dt) {
    const speed = Math.hypot(dx, dy) / dt;  // CSS pixels a millisecond
    const gain = clamp(0.6 + 2 * speed, 1, 3);
    const box = this.laidOut();
    const width = box.width * this.scale;
    const height = box.height * this.scale;
    if (!(width > 0) || !(height > 0)) return;
    this.cursorAt = {x: clamp(this.cursorAt.x + dx * gain / width, 0, 1),
                     y: clamp(this.cursorAt.y + dy * gain / height, 0, 1)};
    if (this.held) this.held.at = {...this.cursorAt};
    this.followCursor();
    this.placeCursor();
  }

  // The picture pans to keep the cursor in sight.
  followCursor() {
    const at = this.shownAt(this.cursorAt);
    const a = this.area;
    const shift = (p, low, high) => (p < low ? low - p : p > high ? high - p : 0);
    const margin = Math.min(kCursorMargin, a.clientWidth / 4, a.clientHeight / 4);
    const dx = shift(at.x, a.scrollLeft + margin, a.scrollLeft + a.clientWidth - margin);
    const dy = shift(at.y, a.scrollTop + margin, a.scrollTop + a.clientHeight - margin);
    if (dx || dy) this.setZoom(this.scale, {x: this.offset.x + dx, y: this.offset.y + dy});
  }

  // A swipe's scroll carries on a moment after the fingers leave, slowing down.
  startGlide(velocity, at) {
    if (!velocity || Math.hypot(velocity.x, velocity.y) < 0.3 || !at) return;
    const glide = this.glide = {v: {...velocity}, last: performance.now(), until: performance.now() + 2000};
    const step = (now) => {
      if (this.glide !== glide) return;
      const dt = Math.max(1, now - glide.last);
      glide.last = now;
      const decay = Math.pow(0.95, dt / 16);
      glide.v = {x: glide.v.x * decay, y: glide.v.y * decay};
      if (Math.hypot(glide.v.x, glide.v.y) < 0.05 || now > glide.until) {
        this.glide = null;
        return;
      }
      this.scroll(at, glide.v.x * dt, glide.v.y * dt);
      glide.frame = requestAnimationFrame(step);
    };
    glide.frame = requestAnimationFrame(step);
  }

  stopGlide() {
    if (this.glide) cancelAnimationFrame(this.glide.frame);
    this.glide = null;
  }
}
