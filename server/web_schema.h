// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The web client's view of the wire, made from the application's (one
// source of truth: src/protocol): a JavaScript module with the signaling
// messages' and payloads' types, the control channel's types and modifier
// flags, the bounds a peer's values are held to, and the quality levels the
// client may ask for. The build writes it into the web client's folder
// beside the key table.

#include <QByteArray>

namespace lunor::signal {

QByteArray webSchemaModule();

}  // namespace lunor::signal
