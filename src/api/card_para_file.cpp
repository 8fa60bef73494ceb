// The card parameter file: QZ_SetCardParaFile reads the whole configuration, loads the fly, axis
// and calibration parameters, checks that library, card, USB firmware and optical-switch card fit
// together, and uploads the card parameters into the card's flash. Only then are the parameters
// accepted (tasks that need them run). It reaches across the subsystems, so it is wired here; each
// step lives in its subsystem.
#include "api/card_para_file.h"

#include "api/library_startup.h"
#include "axis/axis_records.h"
#include "calibration/box_para.h"
#include "calibration/box_upload.h"
#include "calibration/scan.h"
#include "cardlink/card_para.h"
#include "cardlink/hw_info.h"
#include "cardlink/portlane.h"
#include "cardlink/task_state.h"
#include "cardlink/task_table.h"
#include "flash/card_para_flash.h"
#include "frame/errors.h"
#include "frame/export_call.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "mark/fly_encode.h"
#include "mark/mark_job.h"
#include "qzmark.h"

namespace {

// The usable share of the card's FIFO as the FIFO code derives it: [HARDWARE]
// dbValideBufferSpacePercent, 0.8 in wobble mode, clamped to 0.01 .. 0.999 (NaN: 0.01).
double BufferSpaceShare() {
  double space = ReadMainDouble("HARDWARE", "dbValideBufferSpacePercent", 0.999);
  if (g_SystemPara.wob == 1) space = 0.8;
  if (!(space >= 0.01)) return 0.01;
  return space > 0.999 ? 0.999 : space;
}

CardParaUploadSteps UploadSteps() {
  CardParaUploadSteps s;
  // Without the module of the box method in force no table can be built: the tables are skipped.
  if (BoxTablesModuleLoaded()) s.sendBoxTables = [] { g_Scan.SendBoxTables(); };
  s.buildCommands = [](CmdBatch& batch) { BuildCardParaList(batch); };
  s.runSecondBlockJob = [] {
    return RunMarkFlow(2, nullptr, 1, static_cast<uint32_t>(g_SystemPara.bScanNotBack), 0);
  };
  return s;
}

}  // namespace

void BuildCardParaList(CmdBatch& batch) {
  BuildCardParaCommands(batch, BufferSpaceShare());
  // Rotary fly sends its rotation centre to the card at once; the rest joins the batch.
  AppendFlyParaCmds(g_FlyScanPara, &batch);
}

uint32_t FlushCardParaBlocks() { return FlushCardParaBlocks(UploadSteps()); }

void SetCardParaFile() {
  const char* tag = "SetCardParaFile";
  SystemPara& p = g_SystemPara;
  g_bParaAccepted = 0;
  if (IsUpgradeModeWord(ReadHdVer())) {
    ReportFailure(tag, "板卡处于升级模式，无法打开");
    return;
  }
  ApplyParameterFile();
  // and the encoder's constants; a refused encoder range leaves the parameters not accepted, as
  // the compatibility checks do.
  const bool flyTaken = ReadFlyScanPara();
  UpdateMotorPara();
  if (p.bNewBoxCali == 0) {
    g_Scan.SetCalibratePara();
  } else {
    CCaliLink::ReadPara(true);
  }
  p.MIRCO_MOVE_VEL = ReadMainInt("SCAN", "MIRCO_MOVE_VEL", 10);
  if (p.bKvxOSS) p.bCardNotGridel = 1;
  if (!flyTaken || !ConformCompatible()) return;
  if (p.bUpdateParaInCardWhenOpen == 1) {
    const uint32_t rc = FlushCardParaBlocks();
    if (rc != RV_OK) {
      g_InfoLog.Write(tag, LOG_INFO, "%d", static_cast<int>(rc));
      return;
    }
  }
  g_bParaAccepted = 1;
  g_InfoLog.Write(tag, LOG_INFO, "%d", 0);
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetCardParaFile(uint32_t /*reserved*/) {
  return ExportCall("QZ_SetCardParaFile", [&]() -> uint32_t {
    if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
    CSysTaskLock task(TASK_CARD_INITIALIZING);
    if (task.Result() != RV_OK) return task.Result();
    SetCardParaFile();
    return g_Link.g_bConnected ? RV_OK : RV_CARD_NOT_CONNECTED;
  });
}
