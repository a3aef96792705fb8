// SPDX-License-Identifier: GPL-3.0-or-later
// Control messages as a client (or anyone who reaches the data channel)
// may send them: whatever decodes must encode to a message that decodes to
// the same thing.

#include "fuzz_support.h"
#include "protocol/control_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const auto message = lunor::decodeControlMessage(bytes);
  if (!message) return 0;
  const auto again = lunor::decodeControlMessage(lunor::encodeControlMessage(*message));
  lunor::fuzz::require(again && *again == *message, "decode(encode(message)) == message");
  return 0;
}
