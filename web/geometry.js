// SPDX-License-Identifier: GPL-3.0-or-later
// Where the host's picture lands on the stage, as the application places it.

// The picture of vw x vh pixels in a W x H area: fitted whole ("fit"),
// covering the area ("fill", overhanging equally on both sides) or at one
// pixel per CSS pixel ("original", centred). The whole area when a size is
// not positive (NaN included).
export function fittedRect(mode, vw, vh, W, H) {
  if (!(vw > 0) || !(vh > 0) || !(W > 0) || !(H > 0)) return {x: 0, y: 0, width: W, height: H};
  const va = vw / vh;
  const ca = W / H;
  const widthLimited = {x: 0, y: (H - W / va) / 2, width: W, height: W / va};
  const heightLimited = {x: (W - va * H) / 2, y: 0, width: va * H, height: H};
  switch (mode) {
    case "fit": return ca < va ? widthLimited : heightLimited;
    case "fill": return ca >= va ? widthLimited : heightLimited;
    default: return {x: (W - vw) / 2, y: (H - vh) / 2, width: vw, height: vh};
  }
}

// The picture's size for the stage: the host's display as it reported it,
// else what the quality profile sends.
export function stagePictureSize(remoteSize, quality) {
  if (remoteSize && (remoteSize.width || remoteSize.height)) return remoteSize;
  return {width: quality.width, height: quality.height};
}
