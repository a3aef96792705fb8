// SPDX-License-Identifier: GPL-3.0-or-later
// Two instances of the server's protocol sharing their rooms, as hostile
// connections spread over both may drive them: the script of RoomsScript,
// over a cluster in memory that answers later, in order, as Redis would.

#include "../server/memory_cluster.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lunor::test::RoomsScript(2, lunor::fuzz::require).run(data, size);
  return 0;
}
