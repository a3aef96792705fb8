// SPDX-License-Identifier: GPL-3.0-or-later
// Control messages as a client (or anyone who reaches the data channel)
// may send them: whatever decodes must encode to a message that decodes to
// the same thing.

#include "fuzz_support.h"
#include "protocol/control_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto message = lunor::decodeControlMessage(lunor::fuzz::bytes(data, size));
  if (!message) return 0;
  const auto again = lunor::decodeControlMessage(lunor::encodeControlMessage(*message));
  lunor::fuzz::require(again && *again == *message, "decode(encode(message)) == message");
  return 0;
}
