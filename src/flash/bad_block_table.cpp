// The bad-block table of the NAND, kept on the serial flash at the table address on both maps.
//
// The table page: bytes 0-1791 zero, then a 256-byte bitmap in which bit i of byte j is 1 when block
// 8j + i is bad; the bitmap's last byte is the marker 0xA5 and takes the place of blocks 2040-2047,
// whose flags are never stored. Loading expands the marker like any other byte, so blocks 2040,
// 2042, 2045 and 2047 always count as bad after a load.
#include "flash/bad_block_table.h"

#include <string>

#include "cardlink/card_operation.h"
#include "cardlink/portlane.h"
#include "flash/flash_pages.h"
#include "frame/card_version.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "platform/files.h"

CBBT g_BBT;

namespace {

constexpr int kReadTries = 3;
constexpr uint32_t kBitmapBytes = kFlashPageBytes - kBbtBitmapOffset;

}  // namespace

bool CBBT::Loaded() const { return needLoad == 0 && loadedAtLink == g_Link.nLinkSerial.load(); }

void CBBT::SkipBad(uint32_t& cursor) {
  if (!Loaded()) Load();
  const uint32_t from = cursor;
  for (;;) {
    const uint32_t block = cursor / kNandPagesPerBlock;
    if (block >= kNandBlocks) {
      g_ErrorLog.Write("CBBT::SkipBad", LOG_ERROR, "no good block at or after page %u", from);
      throw MyException(RV_WRITE_READ_FLASH_NOT_SAME, 1);
    }
    if (!bad[block]) return;
    cursor += kNandPagesPerBlock;
  }
}

void CBBT::Load() {
  // What another card (or this one before a close) said is never used: a table that cannot be used
  // is rewritten from all-good flags.
  bad.fill(0);
  imageBlock = 0xFFFFFFFFu;
  imageValid = 0;
  const uint32_t at = g_FlashAreaMap.nBadBlockTablePage;
  FlashPage page;
  bool read = false;
  for (int i = 0; i < kReadTries && !read; ++i) read = CBrokenBlock::ReadSpiPageOnce(at, page.data());
  if (!read) {
    // Rewriting a table that could not be read would forget the card's bad blocks.
    g_ErrorLog.Write("CBBT::SkipBad", LOG_ERROR, "the bad-block table at %x cannot be read", at);
    throw MyException(RV_WRITE_READ_FLASH_NOT_SAME, 1);
  }
  if (!FlashIsSpiMap() && !FlashCmdWait(OP_FLASH, FlashSpiWord(at, FLASHW_SPI_SELECT)))
    throw MyException(RV_CARD_NOT_CONNECTED, 0);
  if (!BBT_bit2byte(page.data())) Save();
  needLoad = 0;
  loadedAtLink = g_Link.nLinkSerial.load();
  WriteListFile();
}

bool CBBT::BBT_bit2byte(const uint8_t* page) {
  const uint8_t* bitmap = page + kBbtBitmapOffset;
  if (bitmap[kBitmapBytes - 1] != kBbtMarker) return false;
  for (uint32_t j = 0; j < kBitmapBytes; ++j) {
    if (bitmap[j] == 0xFF) {
      ReportFailure("CBBT::BBT_bit2byte", "当前记录中存在连续坏块，可能有异常！已被清理。");
      return false;
    }
  }
  for (uint32_t j = 0; j < kBitmapBytes; ++j)
    for (uint32_t i = 0; i < 8; ++i) bad[8 * j + i] = static_cast<uint8_t>((bitmap[j] >> i) & 1u);
  return true;
}

FlashPage CBBT::BuildPage() const {
  FlashPage page{};
  for (uint32_t b = 0; b < kNandBlocks; ++b)
    if (bad[b]) page[kBbtBitmapOffset + b / 8] |= static_cast<uint8_t>(1u << (b % 8));
  page[kFlashPageBytes - 1] = kBbtMarker;
  return page;
}

void CBBT::Save() {
  const FlashPage page = BuildPage();
  NoticeCardInvalidPara(AREA_BAD_BLOCK_TABLE);
  CBrokenBlock::WriteSpiPage(g_FlashAreaMap.nBadBlockTablePage, page.data());
  FlushAndSuccess(OP_ARG_COMMIT_ALL, AREA_BAD_BLOCK_TABLE, -1);
  WriteListFile();
}

void CBBT::WriteListFile() const {
  std::string text;
  for (uint32_t b = 0; b < kNandBlocks; ++b)
    if (bad[b]) text += StrFormat("%d\r\n", static_cast<int>(b));
  // A file that cannot be written is skipped (nothing reads it), and the daily log says so.
  if (!plat::WriteWholeFile(GetModuleDir() + "BBT.txt", text))
    g_InfoLog.Write("CBBT::WriteListFile", LOG_WARNING, "BBT.txt cannot be written");
}
