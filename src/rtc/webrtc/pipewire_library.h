// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace lunor::rtc {

// The WebRTC library links PipeWire's functions as entry points of its own
// that stay empty until it loads the system's libpipewire; being first in
// the link, they are also the ones our PipeWire consumer calls. Loads the
// library behind them (once; later calls answer at once). False when there
// is no libpipewire to load.
bool loadPipeWireLibrary();

}  // namespace lunor::rtc
