// SPDX-License-Identifier: GPL-3.0-or-later
// The profile record as it may be found in the settings: whatever decodes
// saves to a record that decodes to the same profile.

#include "fuzz_support.h"
#include "store/user_profile_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lunor;
  const auto profile = decodeProfile(fuzz::bytes(data, size));
  if (!profile) return 0;
  const auto again = decodeProfile(encodeProfile(*profile));
  fuzz::require(again && *again == *profile, "decode(encode(profile)) == profile");
  std::ignore = displayName(*profile);
  return 0;
}
