#include "para_record.h"

namespace cardsim {

namespace {

constexpr uint32_t kPacketBytes = 16;
constexpr uint8_t kMarker = 0xA5;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// The NAND page the card reads for `page`: the same place in the first good block from its block on.
uint32_t GoodNandPage(const FlashModel& flash, uint32_t page) {
  Page table;
  if (!flash.Peek(CARDSIM_FLASH_SPI, kBbtSpiAddress, table.data(), kPageBytes) || table[kPageBytes - 1] != kMarker)
    return page;
  for (uint32_t block = page / kBlockPages; block < kNandBlockCount; ++block) {
    if (!((table[1792 + block / 8] >> (block % 8)) & 1)) return block * kBlockPages + page % kBlockPages;
  }
  return page;
}

}  // namespace

bool ReadParaPage(const FlashModel& flash, uint32_t cardVersion, std::vector<cardsim_para_packet>& out) {
  out.clear();
  Page page;
  const bool read = cardVersion >= 56
                        ? flash.Peek(CARDSIM_FLASH_SPI, kParaSpiAddress, page.data(), kPageBytes)
                        : flash.Peek(CARDSIM_FLASH_NAND, GoodNandPage(flash, kParaNandPage) * kPageBytes, page.data(),
                                     kPageBytes);
  if (!read || page[kPageBytes - 1] != kMarker) return false;
  for (uint32_t off = 0; off + kPacketBytes <= kPageBytes - 1; off += kPacketBytes) {
    const uint8_t* p = page.data() + off;
    bool head = true;
    for (int i = 0; i < 6; ++i) head = head && p[i] == kMarker;
    if (!head) break;
    out.push_back({static_cast<uint32_t>(p[6] | (p[7] << 8)), Le32(p + 8), Le32(p + 12)});
  }
  return true;
}

}  // namespace cardsim
