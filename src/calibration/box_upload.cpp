#include "calibration/box_upload.h"

#include <cstring>
#include <vector>

#include "calibration/cali_link.h"
#include "calibration/cali_modules.h"
#include "calibration/scan.h"
#include "cardlink/card_cmd.h"
#include "cardlink/card_operation.h"
#include "flash/flash_pages.h"
#include "frame/card_version.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/system_para.h"

bool BoxTablesModuleLoaded() { return g_SystemPara.bNewBoxCali ? g_GridelModule.bLoaded : CorrixApi.bLoaded; }

uint32_t BoxTableScaleWord(double halfRange) { return RealToUInt32(65536.0 / (2.0 * halfRange) * 8192.0); }

uint32_t WriteBoxTableAreas(const uint8_t* image0, const uint8_t* image1, uint32_t pageCount) {
  // Each image goes to its area (compared page by page, rewritten where it differs, through the
  // bad-block table on NAND; UpdatePages takes the serial-flash road by itself on that map); the card
  // is told to take the areas only when a page was rewritten.
  const FlashAreaMap& m = g_FlashAreaMap;
  const uint32_t a = CBrokenBlock::UpdatePages(image0, pageCount, m.nBoxTableA);
  const uint32_t b = CBrokenBlock::UpdatePages(image1, pageCount, m.nBoxTableB);
  if (a || b) FlushAndSuccess(OP_ARG_COMMIT_BOX_TABLES, AREA_BOX_TABLE_A, AREA_BOX_TABLE_B);
  return RV_OK;
}

uint32_t CScan::SendBoxTables() {
  const bool newMethod = g_SystemPara.bNewBoxCali != 0;
  if (!BoxTablesModuleLoaded()) {
    LogFailure("CScan::SendBoxTables", newMethod ? "Gridel.dll is not loaded: the correction tables are not sent"
                                                 : "Corrix.dll is not loaded: the correction tables are not sent");
    throw MyException(RV_UNSUPPORTED_CALI_TYPE, 1);
  }
  std::vector<uint8_t> image0(kBoxTableBufferBytes, 0), image1(kBoxTableBufferBytes, 0);
  uint32_t pages;
  if (!newMethod) {
    CreateTables();
    WriteBoxXls(0, image0.data());
    WriteBoxXls(1, image1.data());
    pages = kOldBoxTablePages;
  } else {
    CCaliLink::CreateTableAll();
    CCaliLink::TableImage(0, image0.data());
    CCaliLink::TableImage(1, image1.data());
    image0[kNewBoxTablePages * 2048 - 1] = 0xA5;
    image1[kNewBoxTablePages * 2048 - 1] = 0xA5;
    pages = kNewBoxTablePages;
    const uint32_t scale = BoxTableScaleWord(CCaliLink::HalfRange());
    SendCmdNoReply(CMD_BOX_TABLE_SCALE, scale, scale);
  }
  const uint32_t rc = WriteBoxTableAreas(image0.data(), image1.data(), pages);
  if (rc != RV_OK) throw MyException(rc, 1);
  return RV_OK;
}
