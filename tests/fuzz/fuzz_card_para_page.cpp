// The card-parameter page as the simulated card reads it back from its flash: the input is a byte
// that picks the flash (serial flash from card version 56, else NAND), the page, and optionally
// the bad-block table page that steers the NAND read.
// Oracle: the page is valid exactly when it carries the marker; its packets are the leading
// 16-byte groups that begin with six 0xA5 bytes, with their fields as written; and the library's
// page made from those packets holds the same packet bytes and the marker.
#include <algorithm>
#include <cstring>
#include <vector>

#include "cardlink/card_para.h"
#include "flash_model.h"
#include "fuzz_support.h"
#include "para_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint32_t version = data[0] & 1 ? 60 : 40;
  std::vector<uint8_t> page(2048, 0), table;
  std::memcpy(page.data(), data + 1, std::min<size_t>(size - 1, 2048));
  cardsim::FlashModel flash;
  if (size > 1 + 2048) {
    table.assign(2048, 0);
    std::memcpy(table.data(), data + 1 + 2048, std::min<size_t>(size - 1 - 2048, 2048));
    flash.Poke(CARDSIM_FLASH_SPI, cardsim::kBbtSpiAddress, table.data(), 2048);
  }
  if (version >= 56) flash.Poke(CARDSIM_FLASH_SPI, cardsim::kParaSpiAddress, page.data(), 2048);
  else flash.Poke(CARDSIM_FLASH_NAND, cardsim::kParaNandPage * 2048, page.data(), 2048);
  std::vector<cardsim_para_packet> packets;
  const bool valid = cardsim::ReadParaPage(flash, version, packets);
  // With a table the NAND page may be read from another block: only the marker rule holds then.
  if (version < 56 && !table.empty()) {
    FUZZ_CHECK(valid || packets.empty(), "an invalid page gave packets");
    return 0;
  }
  FUZZ_CHECK(valid == (page[2047] == kCardParaMarker), "marker %02X judged %d", page[2047], valid);
  if (!valid) return 0;
  size_t n = 0;
  while (n < kCardParaMaxPackets && std::all_of(&page[16 * n], &page[16 * n + 6], [](uint8_t b) { return b == 0xA5; })) ++n;
  FUZZ_CHECK(packets.size() == n, "%zu packets read, %zu on the page", packets.size(), n);
  CmdBatch batch;
  for (const cardsim_para_packet& p : packets) batch.emplace_back(static_cast<uint16_t>(p.command), p.p1, p.p2);
  std::vector<uint8_t> made(2048, 0);
  MakeCardParaBlock(batch, made.data());
  FUZZ_CHECK(std::equal(made.begin(), made.begin() + 16 * n, page.begin()) && made[2047] == kCardParaMarker,
             "the library's page of the packets read is not the page");
  return 0;
}
