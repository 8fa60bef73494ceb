// Calibration exports: the box range and type, the box parameter block, and loading a calibration
// onto the card (old box method from the configured box file, new method from a host's block).
#include <cstring>

#include "calibration/box_para.h"
#include "calibration/cali_link.h"
#include "calibration/scan.h"
#include "cardlink/portlane.h"
#include "cardlink/task_state.h"
#include "cardlink/task_table.h"
#include "frame/export_call.h"
#include "frame/system_para.h"
#include "qzmark.h"

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetBoxRange(double* range) {
  return ExportCall("QZ_GetBoxRange", [&]() -> uint32_t {
    if (!range) return RV_ERROR;
    *range = 2.0 * CCaliLink::HalfRange();
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetBoxType(uint32_t* type) {
  return ExportCall("QZ_GetBoxType", [&]() -> uint32_t {
    if (!type) return RV_ERROR;
    *type = static_cast<uint32_t>(g_SystemPara.bNewBoxCali);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetCaliPara(void* block) {
  return ExportCall("QZ_GetCaliPara", [&]() -> uint32_t {
    if (!block) return RV_ERROR;
    BoxParaBlock copy = CopyBoxPara();
    BoxSetU32(copy, kBoxExtension, 0);  // the host never sees the extension word
    std::memcpy(block, copy.data(), kBoxParaSize);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SaveCaliPara(const void* block) {
  return ExportCall("QZ_SaveCaliPara", [&]() -> uint32_t {
    if (!block) return RV_ERROR;
    BoxParaBlock b;
    std::memcpy(b.data(), block, kBoxParaSize);
    CheckBoxParaVer(b, 0, true);
    // The module is not handed the block here: this export takes no task, and a table may be being
    // built through the module meanwhile. It gets the block with the next table build or file read.
    return CCaliLink::WritePara() ? RV_OK : RV_NOT_OPEN_BOX_FILE;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetCaliParaFile(uint32_t /*fileName: the configuration names the box file*/) {
  return ExportCall("QZ_SetCaliParaFile", [&]() -> uint32_t {
    if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
    CSysTaskLock task(TASK_BOXFILE_SAVING);
    if (task.Result() != RV_OK) return task.Result();
    if (g_SystemPara.bNewBoxCali) {
      ShowTopmostBox(Lang("当前系统不支持旧Box方法", "The current system does not support the old Box method"));
      return RV_ERROR;
    }
    g_Scan.SetCalibratePara();
    g_Scan.SendBoxTables();
    return g_Link.g_bConnected ? RV_OK : RV_CARD_NOT_CONNECTED;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetCaliPara(const void* block) {
  return ExportCall("QZ_SetCaliPara", [&]() -> uint32_t {
    if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
    if (!block) return RV_ERROR;
    CSysTaskLock task(TASK_BOXFILE_SAVING);
    if (task.Result() != RV_OK) return task.Result();
    if (g_SystemPara.bNewBoxCali != 1) {
      ShowTopmostBox(Lang("当前系统不支持新Box方法", "The current system does not support the new Box method"));
      return RV_ERROR;
    }
    BoxParaBlock b;
    std::memcpy(b.data(), block, kBoxParaSize);
    CheckBoxParaVer(b, 0, true);
    // A block that cannot be saved still goes to the card; the host learns of the file afterwards.
    const bool saved = CCaliLink::WritePara();
    g_Scan.SendBoxTables();
    if (!saved) return RV_NOT_OPEN_BOX_FILE;
    return g_Link.g_bConnected ? RV_OK : RV_CARD_NOT_CONNECTED;
  });
}
