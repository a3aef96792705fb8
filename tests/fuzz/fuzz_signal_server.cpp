// SPDX-License-Identifier: GPL-3.0-or-later
// The signaling server's protocol as a crowd of hostile connections may
// drive it, on one instance: the script of RoomsScript.

#include "../server/memory_cluster.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lunor::test::RoomsScript script(1, lunor::fuzz::require);
  script.run(data, size);
  lunor::fuzz::require(script.instances[0]->rooms.connectionCount() == script.connections.size(),
                       "the rooms count the open connections");
  return 0;
}
