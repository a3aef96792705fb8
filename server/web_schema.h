// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The web client's view of the signaling wire, made from the application's
// (one source of truth: protocol/signaling_wire.h): a JavaScript module
// with the messages' and payloads' types, the bounds a peer's values are
// held to, and the quality levels the client may ask for. The build writes
// it into the web client's folder beside the key table.

#include <QByteArray>

namespace lunor::signal {

QByteArray webSchemaModule();

}  // namespace lunor::signal
