#pragma once
// The two calibration companions: the box-correction module "Gridel.dll" (new box method) and the
// calibration module "Corrix.dll" (box text file method). Both are loaded when the library loads; a
// missing one shows a box and leaves its loaded flag clear, and the calibration code tests the flag
// before every call. The typed calls (calibration/cali_module_api.h) are made by the calibration
// code through GridelFn and CorrixFn.
#include <cstdint>

#include "calibration/cali_module_api.h"
#include "frame/companion.h"

// Entry points of "Gridel.dll", in the order of CaliLinkModule::entries.
enum GridelEntry { GRIDEL_SetCaliPara, GRIDEL_GetBoxSize, GRIDEL_Cali, GRIDEL_COUNT };
// Entry points of "Corrix.dll".
enum CorrixEntry {
  CORRIX_Initial, CORRIX_Create, CORRIX_Del, CORRIX_DelAll, CORRIX_SetCaliPara, CORRIX_SetRedPara,
  CORRIX_Set3DPara, CORRIX_EnableDiffCorr, CORRIX_DisableDiffCorr, CORRIX_Do2DCali, CORRIX_Do3DCali,
  CORRIX_COUNT
};

extern CompanionModule g_GridelModule;  // the module part of CCaliLink
extern CompanionModule CorrixApi;

// The typed entry point of a loaded module (only when its loaded flag is set).
template <class Fn>
Fn GridelFn(GridelEntry e) {
  return reinterpret_cast<Fn>(g_GridelModule.entries[e]);
}
template <class Fn>
Fn CorrixFn(CorrixEntry e) {
  return reinterpret_cast<Fn>(CorrixApi.entries[e]);
}

// Load-time steps: each loads its module and shows its box when it is missing or incomplete.
void LoadGridelModule();
void LoadCorrixModule();
// The scanner object's load step: the calibration module's Initial(1) when it is loaded.
void InitCorrixAtLoad();
void FreeCaliModules();
