// The bad-block table page as the library takes it from the serial flash (CBBT::BBT_bit2byte): the
// input is the page (zeros after its end).
// Oracle: a page is a table exactly when its bitmap ends in the marker and has no byte 0xFF; the
// flags taken from a table make the page back (its bitmap, the marker in place of blocks 2040-2047,
// zeros before it); a page refused leaves the flags as they were.
#include <algorithm>
#include <cstring>

#include "flash/bad_block_table.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qzfuzz::LibraryFolder();  // boxes out of the output
  FlashPage page{};
  std::memcpy(page.data(), data, std::min(size, page.size()));
  // The flags before: blocks 3 and 1000 bad, and those the marker stands for.
  FlashPage before{};
  before[kBbtBitmapOffset + 0] = 1u << 3;
  before[kBbtBitmapOffset + 125] = 1u << 0;
  before[kFlashPageBytes - 1] = kBbtMarker;
  FUZZ_CHECK(g_BBT.BBT_bit2byte(before.data()) && g_BBT.BuildPage() == before, "the page before is no table");

  const auto bitmap = page.begin() + kBbtBitmapOffset;
  const bool table = page.back() == kBbtMarker && std::find(bitmap, page.end(), uint8_t{0xFF}) == page.end();
  const bool taken = g_BBT.BBT_bit2byte(page.data());
  FUZZ_CHECK(taken == table, "marker %02X judged %d", page.back(), taken);
  if (!taken) {
    FUZZ_CHECK(g_BBT.BuildPage() == before, "a refused page changed the flags");
    return 0;
  }
  std::fill(page.begin(), page.begin() + kBbtBitmapOffset, 0);
  FUZZ_CHECK(g_BBT.BuildPage() == page, "the flags do not make the page back");
  return 0;
}
