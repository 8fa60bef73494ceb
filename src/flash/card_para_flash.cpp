#include "flash/card_para_flash.h"

#include <vector>

#include "cardlink/card_operation.h"
#include "cardlink/card_para.h"
#include "frame/card_version.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "flash/flash_pages.h"
#include "flash/off_file_head.h"
#include "platform/files.h"

void WriteCardParaPage(const CmdBatch& batch) {
  FlashPage page;
  MakeCardParaBlock(batch, page.data());
  CBrokenBlock::UpdatePages(page.data(), 1, g_FlashAreaMap.nCardParaPage);
  FlushAndSuccess(OP_ARG_COMMIT_CARD_PARA, AREA_CARD_PARA, -1);
}

uint32_t SecondBlockMaxPages() {
  const uint32_t unit = g_FlashAreaMap.nBlockSize;
  return FlashIsSpiMap() ? unit / kSpiPageStep : unit;
}

uint32_t WriteSecondParaBlock(const std::string& path) {
  const char* tag = "WriteSecondParaBlock";
  std::string data;
  const bool read = plat::ReadWholeFile(path, data);
  const uint32_t pages = read ? static_cast<uint32_t>(data.size() / kFlashPageBytes) : 0;
  if (pages == 0) {
    LogFailure(tag, StrFormat("%s (%s)", GetErrText(RV_NOT_OPEN_OFFLINE_FILE).c_str(), path.c_str()));
    return RV_NOT_OPEN_OFFLINE_FILE;
  }
  if (pages > SecondBlockMaxPages()) {
    LogFailure(tag, StrFormat("%s (%u pages)", GetErrText(RV_OFFLINE_FILE_TOO_BIG).c_str(), pages));
    return RV_OFFLINE_FILE_TOO_BIG;
  }
  const FlashAreaMap& m = g_FlashAreaMap;
  CBrokenBlock::UpdatePages(reinterpret_cast<const uint8_t*>(data.data()), pages, m.nSecondBlockBase + m.nBlockSize);
  FlushAndSuccess(OP_ARG_COMMIT_SECOND_PARA, AREA_SECOND_BLOCK, -1);
  return RV_OK;
}

uint32_t FlushCardParaBlocks(const CardParaUploadSteps& steps) {
  // The bad-block table is loaded before anything is written (page 0 on both maps).
  uint32_t cursor = 0;
  g_BBT.SkipBad(cursor);
  if (steps.sendBoxTables) steps.sendBoxTables();

  CmdBatch batch;
  if (steps.buildCommands) steps.buildCommands(batch);
  WriteCardParaPage(batch);

  if (steps.runSecondBlockJob) {
    const uint32_t rc = steps.runSecondBlockJob();
    if (rc != RV_OK) return rc;
  }
  const uint32_t rc = WriteSecondParaBlock(GetModuleDir() + "OffLineFile.tmp");
  if (rc != RV_OK) return rc;

  const SystemPara& p = g_SystemPara;
  if (p.wob || p.bKvxOSS) ConformOffHeadTiming(p.bKvxOSS ? kOffHeadTimingOss : static_cast<uint32_t>(p.nWobDocNoStableTmUs));
  return RV_OK;
}
