#include "calibration/box_upload.h"

#include <cstring>
#include <vector>

#include "calibration/cali_link.h"
#include "calibration/cali_modules.h"
#include "calibration/scan.h"
#include "cardlink/card_cmd.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/system_para.h"

bool BoxTablesModuleLoaded() { return g_SystemPara.bNewBoxCali ? g_GridelModule.bLoaded : CorrixApi.bLoaded; }

uint32_t BoxTableScaleWord(double halfRange) { return RealToUInt32(65536.0 / (2.0 * halfRange) * 8192.0); }

// ---------------------------------------------------------------------------------------------
// SEAM: the flash pages of the card (CBrokenBlock in flash/flash_pages.h, FlushAndSuccess in
// cardlink/card_operation.h) are not part of this tree yet. Until they are, the tables never reach
// the card and the upload fails with 24. Connected, the body is (UpdatePages takes the serial-flash
// road by itself on that map):
//   const FlashAreaMap& m = g_FlashAreaMap;
//   const uint32_t a = CBrokenBlock::UpdatePages(image0, pageCount, m.nBoxTableA);
//   const uint32_t b = CBrokenBlock::UpdatePages(image1, pageCount, m.nBoxTableB);
//   if (a || b) FlushAndSuccess(0x10000002, 2, 3);
//   return RV_OK;
// ---------------------------------------------------------------------------------------------
uint32_t WriteBoxTableAreas(const uint8_t* /*image0*/, const uint8_t* /*image1*/, uint32_t /*pageCount*/) {
  g_InfoLog.Write("WriteBoxTableAreas", LOG_ERROR, "the flash pages of the correction tables are not available");
  return RV_WRITE_READ_FLASH_NOT_SAME;
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
