#include "api/library_startup.h"

#include "calibration/box_para.h"
#include "calibration/cali_modules.h"
#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "frame/worker_threads.h"
#include "cardlink/watchdog.h"
#include "laser/laser.h"
#include "laser/light_path.h"
#include "mark/fifo_data.h"
#include "mark/mark_job.h"
#include "mark/phase_timer.h"
#include "monitor/monitor_thread.h"
#include "platform/debug_out.h"
#include "platform/clock.h"
#include "platform/module.h"
#include "platform/random.h"
#include "platform/thread.h"

void LibraryLoadCompanions() {
  LoadGridelModule();
  LoadCorrixModule();
  InitCorrixAtLoad();
  CPortlane::LoadDll();
}

void LibraryProcessAttach() {
  plat::PinOwnModule();
  InitLanguage();
  g_SystemPara.bNewBoxCali = ReadMainInt("MAIN", "bNewBoxCali", 0);
  BoxParaBlock defaults;
  SetBoxParaDefaults(defaults);
  StoreBoxPara(defaults);
  CCaliLink::ReadPara(false, false);
  InitErrorTexts();
  g_MarkJob.nMarkState = kMarkStateIdle;
  g_ErrorLog.Init(BuildLogFilePath("Error.log"));
  g_InfoLog.Init("");
  const std::string logDir = BuildLogDir();
  DeleteOldLogs(logDir, std::string(1, plat::kPathSep) + "*.log");
  DeleteOldLogs(logDir, std::string(1, plat::kPathSep) + "*.xls");
  plat::SeedRandom(static_cast<uint32_t>(plat::Now()));
  ResetPhaseTimer();
  plat::TimerResolutionBegin(1);
}

void LibraryProcessDetach(bool threadsEnded) {
  plat::TimerResolutionEnd(1);
  if (threadsEnded) {
    plat::SetProcessEnding();
    return;
  }
  StopWorkerThreads();
  CPortlane::FreeDll();
  FreeCaliModules();
}

void ApplyParameterFile() {
  SystemPara& p = g_SystemPara;
  p.InitPara();
  CFifoData::ReadBufferPara(true);
  for (int32_t i = 0; i < p.nLaserCount && i < 2; ++i) g_Laser[i].LoadConfig(i, p.bYLS, p.TopSoftWareControlYlrEnable);
  LoadLightPathConfig();
  StartWorkerThreads(MonitorThreadProc, UsbCheckStock);
}
