// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The web client's key table, made from the application's own (one source
// of truth: protocol/key_codes.cpp): a JavaScript module mapping each
// physical key's KeyboardEvent.code to the macOS key code the wire carries.
// The build writes it into the web client's folder.

#include <QByteArray>

namespace lunor::signal {

QByteArray webKeyTableModule();

}  // namespace lunor::signal
