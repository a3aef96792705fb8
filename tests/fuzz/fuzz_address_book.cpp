// SPDX-License-Identifier: GPL-3.0-or-later
// The address book file as it may be found on disk: whatever decodes saves
// to bytes that decode and save the same again.

#include "fuzz_support.h"
#include "store/address_book_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lunor;
  const auto document = decodeAddressBook(fuzz::bytes(data, size));
  if (!document) return 0;
  const QByteArray saved = encodeAddressBook(*document);
  const auto reread = decodeAddressBook(saved);
  fuzz::require(reread.has_value(), "a saved book reads back");
  fuzz::require(encodeAddressBook(*reread) == saved, "a book read back saves the same bytes");
  return 0;
}
