#include "calibration/cali_modules.h"

#include "frame/errors.h"

CompanionModule g_GridelModule;
CompanionModule CorrixApi;

void LoadGridelModule() {
  g_GridelModule = LoadCompanion("Gridel", {"SetCaliPara", "GetBoxSize", "Cali"});
  if (g_GridelModule.bLoaded) return;
  // The language is not read yet at load, so the English texts show.
  if (!g_GridelModule.bModuleLoaded)
    ShowTopmostBox(Lang("初始化Gridel.dll失败!\r\n", "Failed to initialize Gridel.dll!  r  n"));
  else
    ShowTopmostBox(Lang("初始化Gridel.dll失败!\r\n", "Failed to initialize Gridel.dll!"));
}

void LoadCorrixModule() {
  CorrixApi = LoadCompanion("Corrix", {"Initial", "Create", "Del", "DelAll", "SetCaliPara", "SetRedPara",
                                       "Set3DPara", "EnableDiffCorr", "DisableDiffCorr", "Do2DCali",
                                       "Do3DCali"});
  if (!CorrixApi.bLoaded)
    ShowTopmostBox(Lang("初始化Corrix.dll失败!\r\n", "Failed to initialize Corrix. DLL!  r  n"));
}

void InitCorrixAtLoad() {
  if (!CorrixApi.bLoaded) return;
  CorrixFn<CorrixInitialFn>(CORRIX_Initial)(1);
}

void FreeCaliModules() {
  FreeCompanion(CorrixApi);
  FreeCompanion(g_GridelModule);
}
