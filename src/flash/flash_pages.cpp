#include "flash/flash_pages.h"

#include <cstring>

#include "cardlink/card_cmd.h"
#include "cardlink/card_operation.h"
#include "cardlink/portlane.h"
#include "frame/card_version.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/system_para.h"

uint32_t g_nPageCursor = 0;

bool ComparePage2048(const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, kFlashPageBytes) == 0; }

bool FlashIsSpiMap() { return g_SystemPara.bJustM25p64 != 0; }

namespace {

constexpr int kReadTries = 3;

[[noreturn]] void CardLost() { throw MyException(RV_CARD_NOT_CONNECTED, 0); }

// A flash operation the card must finish; one it never finishes counts as a lost card.
void Operate(uint32_t word) {
  if (!FlashCmdWait(OP_FLASH, word)) CardLost();
}

// The same, then the status: its second word, whose low byte is the page status.
uint32_t OperateStatus(uint32_t word) {
  CmdReply reply;
  if (!FlashCmdRead(word, reply)) CardLost();
  return reply.r1();
}

// The data phase: the card takes the next 2048 bulk bytes into its page buffer.
void SendPageData(uint32_t dataWord, const uint8_t* data) {
  SendCmdNoReply(CMD_OPERATE, OP_FLASH, dataWord);
  CPortlane::BufSend(data);
  if (!FlashWaitIdle(OP_FLASH, dataWord)) CardLost();
}

// A read of a page whose select succeeded: the status is logged when it is not clean.
bool ReadAfterSelect(const char* tag, uint32_t status, uint32_t bulkWord, uint8_t* buffer) {
  if (status & 0xFFu) g_ErrorLog.Write(tag, LOG_ERROR, "Read %d", static_cast<int>(status));
  if (status & PAGE_STATUS_READ_FAIL) return false;
  CPortlane::ReadBlocks(bulkWord, buffer, kFlashPageBytes);
  return true;
}

// Erase (when the page begins a block), data and program of one NAND page, without the read-back.
bool EraseAndProgram(uint32_t page, const uint8_t* data) {
  const char* tag = "CBrokenBlock::WritePage";
  if (page % kNandPagesPerBlock == 0) {
    g_InfoLog.Write(tag, LOG_INFO, "Flash addr::%d k", static_cast<int>(page * 2));
    const uint32_t status = OperateStatus(FlashNandWord(FLASHW_NAND_ERASE, page));
    if (status & PAGE_STATUS_WRITE_FAIL) {
      LogFailure(tag, StrFormat("erease err %x", status));
      return false;
    }
  }
  SendPageData(FLASHW_NAND_DATA, data);
  const uint32_t status = OperateStatus(FlashNandWord(FLASHW_NAND_PROGRAM, page));
  if (status & PAGE_STATUS_WRITE_FAIL) {
    LogFailure(tag, StrFormat("write err %x", status));
    return false;
  }
  return true;
}

// Fills the slots below `slot` that the current write did not put into the block image from the
// block that failed, so that they move with it; a page that cannot be read moves as blank.
void FillImageBelow(uint32_t block, uint32_t slot) {
  CBBT& t = g_BBT;
  for (uint32_t s = 0; s < slot; ++s) {
    if (t.imageValid & (uint64_t{1} << s)) continue;
    FlashPage& page = t.image[s];
    bool read = false;
    for (int i = 0; i < kReadTries && !read; ++i)
      read = CBrokenBlock::ReadPageOnce(block * kNandPagesPerBlock + s, page.data());
    if (!read) page.fill(0xFF);
    t.imageValid |= uint64_t{1} << s;
  }
}

}  // namespace

void ReadPageRange(const char* tag, uint32_t page, size_t offset, uint8_t* out, size_t length) {
  FlashPage p;
  // ReadPage leaves zeros when the page cannot be read: the caller gets those, and the code.
  const bool read = CBrokenBlock::ReadPage(page, p.data());
  if (length > 0) std::memcpy(out, p.data() + offset, length);
  if (read) return;
  // Code 24 speaks of a write that did not read back; a page that cannot be read has its own text.
  ReportFailure(tag, LangText("STRING_ReadFlash_Fail", "无法读取板卡闪存页。",
                              "The card's flash page could not be read."));
  throw MyException(RV_WRITE_READ_FLASH_NOT_SAME, 0);
}

bool CBrokenBlock::ReadPageOnce(uint32_t page, uint8_t* buffer) {
  const uint32_t status = OperateStatus(FlashNandWord(FLASHW_NAND_SELECT, page));
  return ReadAfterSelect("CBrokenBlock::ReadPageOnce", status, FLASHW_NAND_BULK_READ, buffer);
}

bool CBrokenBlock::ReadSpiPageOnce(uint32_t a, uint8_t* buffer) {
  const uint32_t status = OperateStatus(FlashSpiWord(a, FLASHW_SPI_SELECT));
  return ReadAfterSelect("CBrokenBlock::ReadPage", status, FLASHW_SPI_BULK_READ, buffer);
}

bool CBrokenBlock::ReadPage(uint32_t page, uint8_t* buffer) {
  if (FlashIsSpiMap()) {
    for (int i = 0; i < kReadTries; ++i)
      if (ReadSpiPageOnce(page, buffer)) return true;
  } else {
    g_nPageCursor = page;
    g_BBT.SkipBad(g_nPageCursor);
    const uint32_t at = g_nPageCursor++;
    for (int i = 0; i < kReadTries; ++i)
      if (ReadPageOnce(at, buffer)) return true;
  }
  // Never a buffer of whatever the last failed read left.
  std::memset(buffer, 0, kFlashPageBytes);
  return false;
}

bool CBrokenBlock::ReadPageVerify(uint32_t page, uint8_t* buffer, const uint8_t* expected) {
  for (int i = 0; i < kReadTries; ++i)
    if (ReadPageOnce(page, buffer) && ComparePage2048(buffer, expected)) return true;
  return false;
}

bool CBrokenBlock::WritePage(uint32_t page, const uint8_t* data) {
  FlashPage back;
  return EraseAndProgram(page, data) && ReadPageVerify(page, back.data(), data);
}

bool CBrokenBlock::WritePage(uint32_t first, uint32_t count) {
  FlashPage back;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t page = first + i;
    const uint8_t* data = g_BBT.image[page % kNandPagesPerBlock].data();
    if (!EraseAndProgram(page, data) || !ReadPageVerify(page, back.data(), data)) return false;
  }
  return true;
}

void CBrokenBlock::WritePageBBT(const uint8_t* data) {
  CBBT& t = g_BBT;
  uint32_t& cursor = g_nPageCursor;
  // Every page goes through the table, also the first page of a write that begins inside a block.
  t.SkipBad(cursor);
  const uint32_t slot = cursor % kNandPagesPerBlock;
  if (cursor / kNandPagesPerBlock != t.imageBlock) {
    t.imageBlock = cursor / kNandPagesPerBlock;
    t.imageValid = 0;
  }
  std::memcpy(t.image[slot].data(), data, kFlashPageBytes);
  t.imageValid |= uint64_t{1} << slot;
  if (!WritePage(cursor, data)) {
    LogFailure("CBrokenBlock::WritePageBBT", "err::bad Flash !!! ");
    FillImageBelow(cursor / kNandPagesPerBlock, slot);
    t.MarkBad(cursor / kNandPagesPerBlock);
    t.Save();
    for (;;) {
      if (!g_Link.g_bConnected) CardLost();
      t.SkipBad(cursor);  // the next good block, the page at the same place
      t.imageBlock = cursor / kNandPagesPerBlock;
      if (WritePage(cursor - slot, slot + 1)) break;
      t.MarkBad(cursor / kNandPagesPerBlock);
      t.Save();
    }
  }
  ++cursor;
}

bool CBrokenBlock::WriteSpiPage(uint32_t a, const uint8_t* data) {
  if (a % kSpiSectorBytes == 0) Operate(FlashSpiWord(a, FLASHW_SPI_ERASE));
  SendPageData(FLASHW_SPI_DATA, data);
  Operate(FlashSpiWord(a, FLASHW_SPI_PROGRAM));
  FlashPage back;
  if (!ReadSpiPageOnce(a, back.data()) || !ComparePage2048(back.data(), data))
    throw MyException(RV_WRITE_READ_FLASH_NOT_SAME, 1);
  return true;
}

uint32_t CBrokenBlock::UpdatePages(const uint8_t* data, uint32_t count, uint32_t first) {
  if (FlashIsSpiMap()) return UpdatePagesSpi(data, count, first);
  uint32_t& cursor = g_nPageCursor;
  cursor = first;
  FlashPage back;
  bool same = true;
  for (uint32_t i = 0; i < count && same; ++i) {
    g_BBT.SkipBad(cursor);
    same = ReadPageVerify(cursor, back.data(), data + i * kFlashPageBytes);
    ++cursor;
  }
  if (same) return 0;
  cursor = first;
  for (uint32_t i = 0; i < count; ++i) WritePageBBT(data + i * kFlashPageBytes);
  return 1;
}

uint32_t CBrokenBlock::UpdatePagesSpi(const uint8_t* data, uint32_t count, uint32_t first) {
  FlashPage back;
  bool same = true;
  for (uint32_t i = 0; i < count && same; ++i)
    same = ReadSpiPageOnce(first + kSpiPageStep * i, back.data()) &&
           ComparePage2048(back.data(), data + i * kFlashPageBytes);
  if (same) return 0;
  const FlashAreaMap& m = g_FlashAreaMap;
  if (first == m.nBoxTableA) {
    NoticeCardInvalidPara(AREA_BOX_TABLE_A);
  } else if (first == m.nBoxTableB) {
    NoticeCardInvalidPara(AREA_BOX_TABLE_B);
  } else if (first == m.nCardParaPage) {
    NoticeCardInvalidPara(AREA_CARD_PARA);
  } else if (first == m.nSecondBlockBase + m.nBlockSize) {
    NoticeCardInvalidPara(AREA_SECOND_BLOCK);
  }
  for (uint32_t i = 0; i < count; ++i) WriteSpiPage(first + kSpiPageStep * i, data + i * kFlashPageBytes);
  return 1;
}

void FlashWritePage(uint32_t page, const uint8_t* data, int32_t length) {
  if (length < 0 || length > static_cast<int32_t>(kFlashPageBytes) || (length > 0 && !data))
    throw MyException(RV_ERROR, 1);
  FlashPage p{};
  if (length > 0) std::memcpy(p.data(), data, static_cast<size_t>(length));
  if (FlashIsSpiMap()) {
    CBrokenBlock::WriteSpiPage(page, p.data());
  } else {
    g_nPageCursor = page;
    CBrokenBlock::WritePageBBT(p.data());
  }
}

void FlashReadPage(uint32_t page, uint8_t* data, int32_t length) {
  if (length < 0 || length > static_cast<int32_t>(kFlashPageBytes) || (length > 0 && !data))
    throw MyException(RV_ERROR, 1);
  ReadPageRange("FlashReadPage", page, 0, data, static_cast<size_t>(length));
}
