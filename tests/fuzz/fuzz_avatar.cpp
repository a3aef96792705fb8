// SPDX-License-Identifier: GPL-3.0-or-later
// A requester's picture as a peer may send it: the input is the picture's
// bytes, sent as the Base64 the wire carries.

#include <QImage>

#include "fuzz_support.h"
#include "store/user_profile_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lunor;
  const QImage image = decodeWireAvatar(QString::fromLatin1(fuzz::bytes(data, size).toBase64()));
  fuzz::require(image.isNull() || (image.width() <= kMaxWireAvatarSide && image.height() <= kMaxWireAvatarSide),
                "a decoded picture is within the side limit");
  return 0;
}
