// The offline-file head page as read back from the card's flash.
// Oracle: a page is a head page exactly when it carries the marker, whatever its version; the table
// read from it writes back to the same bytes, and a head page made from it reads to the same table.
#include <cstring>

#include "flash/off_file_head.h"
#include "frame/bytes.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FlashPage page{};
  std::memcpy(page.data(), data, std::min(size, page.size()));
  OffFileHead head;
  const bool isHead = OffHeadFromPage(page.data(), head);
  FUZZ_CHECK(isHead == (page[2047] == 0xA5), "marker %02X version %u judged %d", page[2047],
             GetU16(&page[kOffHeadPageOffset]), isHead);
  if (!isHead) return 0;
  uint8_t table[kOffFileHeadBytes];
  head.Store(table);
  FUZZ_CHECK(std::memcmp(table, &page[kOffHeadPageOffset], kOffFileHeadBytes) == 0, "the table does not store back");
  const FlashPage again = OffHeadPage(head);
  OffFileHead reread;
  FUZZ_CHECK(OffHeadFromPage(again.data(), reread), "the page made from a head is no head page");
  uint8_t table2[kOffFileHeadBytes];
  reread.Store(table2);
  FUZZ_CHECK(std::memcmp(table, table2, kOffFileHeadBytes) == 0, "the head page does not read back");
  return 0;
}
