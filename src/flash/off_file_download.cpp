#include "flash/off_file_download.h"

#include <cstring>

#include "cardlink/card_cmd.h"
#include "cardlink/card_operation.h"
#include "cardlink/portlane.h"
#include "frame/bytes.h"
#include "frame/card_version.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "flash/off_file_head.h"

namespace {

constexpr const char* kTag = "DownLoadOffFile";
constexpr uint32_t kNandCheckVersion = 69;  // cards from this version have their slots checked
constexpr uint8_t kNandIdMaker = 0xEC, kNandIdDevice = 0xDA;

// The NAND check of a download into slots 0-16. 0 accepted; else why not: 1 a wrong id (the first
// word of the id page in `id`), 2 no NAND check possible on this card.
int NandRefusal(uint32_t& id) {
  const SystemPara& p = g_SystemPara;
  if (p.nCheckFlashType == 2) {
    CmdReply reply;
    if (!FlashCmdRead(FLASHW_NAND_ID, reply)) throw MyException(RV_CARD_NOT_CONNECTED, 0);
    FlashPage page{};
    CPortlane::ReadBlocks(FLASHW_NAND_BULK_READ, page.data(), kFlashPageBytes);
    if (page[1] == kNandIdMaker && page[2] == kNandIdDevice) return 0;
    id = GetU32(page.data());
    return 1;
  }
  if (p.nCheckFlashType != 0 && p.CardLinkCfg.bUsbFlashPath) return 0;
  return 2;
}

}  // namespace

bool OffFileSource::Open() {
  read_ = 0;
  if (file_.Open(path_, "rb") && file_.RegularSize(size_)) return true;
  file_.Close();
  return false;
}

bool OffFileSource::Next(uint8_t* page) {
  if (size_ - read_ < kFlashPageBytes || file_.Read(page, kFlashPageBytes) != kFlashPageBytes) return false;
  read_ += kFlashPageBytes;
  return true;
}

bool OffMemorySource::Next(uint8_t* page) {
  if (bytes_.size() - at_ < kFlashPageBytes) return false;
  std::memcpy(page, bytes_.data() + at_, kFlashPageBytes);
  at_ += kFlashPageBytes;
  return true;
}

void DownLoadOffPages(OffPageSource& source, uint32_t slot, bool strict) {
  const SystemPara& p = g_SystemPara;
  const bool inSlots = slot < kOffSlotCount;
  if (inSlots && p.nCardVersion >= kNandCheckVersion) {
    uint32_t id = 0;
    const int refusal = NandRefusal(id);
    if (refusal != 0) {
      if (!strict) return;
      if (refusal == 1) ReportFailure(kTag, StrFormat("flash id 异常 %x", id));
      throw MyException(RV_DOWNLOAD_NO_NAND, 1);
    }
  }
  const uint64_t size = source.Size();
  g_InfoLog.Write(kTag, LOG_INFO, "Size::%f k", static_cast<double>(size) / 1024.0);

  const FlashAreaMap& m = g_FlashAreaMap;
  if (inSlots) {
    // Whole KB as the limit counts them: a byte over the last KB is over.
    const uint64_t kb = (size + 1023) / 1024;
    if (uint64_t{slot} * 8192 + kb > kOffSlotsKb) throw MyException(RV_OFFLINE_FILE_TOO_BIG, 1);
    g_nPageCursor = slot << kOffSlotPageShift;
  } else if (slot == kOffSlotDefaultHead) {
    if (size > kFlashPageBytes) throw MyException(RV_OFFLINE_FILE_TOO_BIG, 1);
    NoticeCardInvalidPara(AREA_OFF_DEFAULT_HEAD);
  } else {
    return;
  }

  FlashPage page;
  if (slot == kOffSlotDefaultHead) {
    const uint32_t at = m.nSecondBlockBase + 2 * m.nBlockSize;
    if (source.Next(page.data())) {
      if (FlashIsSpiMap()) {
        page[kFlashPageBytes - 1] = 0xA5;
        CBrokenBlock::WriteSpiPage(at, page.data());
      } else {
        g_nPageCursor = at;
        CBrokenBlock::WritePageBBT(page.data());
      }
    }
    FlushAndSuccess(OP_ARG_COMMIT_SECOND_PARA, AREA_OFF_DEFAULT_HEAD, -1);
  } else {
    while (source.Next(page.data())) CBrokenBlock::WritePageBBT(page.data());
    if (slot == kOffSlotCount - 1 && !FlashCmdWait(OP_COMMIT, OP_ARG_COMMIT_OFF_SLOT16))
      throw MyException(RV_CARD_NOT_CONNECTED, 0);
  }
  g_InfoLog.Write(kTag, LOG_INFO, "end");
}

void DownLoadOffFile(const std::string& path, uint32_t slot, bool strict) {
  OffFileSource file(path);
  if (!file.Open()) throw MyException(RV_NOT_OPEN_OFFLINE_FILE, 1);
  DownLoadOffPages(file, slot, strict);
}

FlashPage OffDefaultHeadFile(int32_t checkType, const OffBlockCrc& crc) {
  FlashPage page{};
  const uint32_t words[] = {0x50000000u, 0x57000001u, 0x51100001u, 0x57000001u, 0x50000000u};
  for (size_t i = 0; i < 5; ++i) PutU32(page.data() + 4 * i, words[i]);
  if (checkType == 1) PutU32(page.data(), 0x5110A55Au);
  if (checkType == 2) {
    for (uint16_t k = 0; k < kFlashPageBytes / 128; ++k) {
      uint8_t* block = page.data() + 128 * k;
      PutU32(block + 124, 0x5A000000u | crc(block, k));
    }
  }
  return page;
}

namespace {

// Writes `bytes` to "OffLineFile.tmp" beside the library; a file that cannot be written is left.
void WriteScratchFile(const std::vector<uint8_t>& bytes) {
  plat::WriteWholeFile(GetModuleDir() + "OffLineFile.tmp", std::string(bytes.begin(), bytes.end()));
}

}  // namespace

void ResetCardFlash(const std::function<uint32_t()>& upload, const OffBlockCrc& crc) {
  OffFileHead head = OffFileHead::Default(static_cast<uint8_t>(g_SystemPara.CardLinkCfg.PID & 0xFFu));
  UpdateOffFileHead(head);
  // The slots and the head file do not depend on the parameters: a failed upload is reported once
  // the rest is written.
  const uint32_t uploaded = upload ? upload() : RV_OK;
  const std::vector<uint8_t> blank(kOffResetBlankPages * kFlashPageBytes, 0xFF);
  WriteScratchFile(blank);
  for (uint32_t slot = 0; slot + 1 < kOffSlotCount; ++slot) {
    OffMemorySource source(blank);
    DownLoadOffPages(source, slot, false);
  }
  const FlashPage file = OffDefaultHeadFile(g_SystemPara.nBufDataCheckType, crc);
  const std::vector<uint8_t> bytes(file.begin(), file.end());
  WriteScratchFile(bytes);
  OffMemorySource source(bytes);
  DownLoadOffPages(source, kOffSlotDefaultHead, false);
  if (uploaded != RV_OK) throw MyException(uploaded, 1);
}
