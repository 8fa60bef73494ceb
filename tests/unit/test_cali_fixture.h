#pragma once
// The calibration code with our calibration modules: a fresh library folder, the two modules copied
// into it and loaded the way the library loads them, their control functions, and the calibration
// state restored afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calibration/box_file.h"
#include "calibration/box_para.h"
#include "calibration/cali_link.h"
#include "calibration/cali_modules.h"
#include "calibration/scan.h"
#include "corrix_api.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "gridel_api.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/faults.h"
#include "support/lib_folder.h"
#include "support/staged_library.h"

namespace qztest {

class CaliModuleTest : public LibFolderTest {
 protected:
  void SetUp() override {
    LibFolderTest::SetUp();
    g_SystemPara = SystemPara{};
    g_SystemPara.CardLinkCfg.PID = 0x8000;
    g_SystemPara.CardLinkCfg.CARDNO = 0x8000;
    for (const char* base : {"Corrix", "Gridel"}) {
      const std::string file = plat::CompanionFileName(base);
      ASSERT_TRUE(plat::CopyFilePath(NativePath(QZ_DEPLOY_DIR) + plat::kPathSep + file, dir.Path() + file));
      handles.push_back(plat::LoadModule(dir.Path() + file));
      ASSERT_NE(handles.back(), nullptr) << file;
    }
    LoadCorrixModule();
    LoadGridelModule();
    ASSERT_TRUE(CorrixApi.bLoaded && g_GridelModule.bLoaded);
#define QZ_CORRIX_RESOLVE(fn) fn##_ = reinterpret_cast<decltype(&fn)>(plat::FindSymbol(handles[0], #fn)); ASSERT_NE(fn##_, nullptr);
    CORRIX_CONTROL_FUNCTIONS(QZ_CORRIX_RESOLVE)
#undef QZ_CORRIX_RESOLVE
#define QZ_GRIDEL_RESOLVE(fn) fn##_ = reinterpret_cast<decltype(&fn)>(plat::FindSymbol(handles[1], #fn)); ASSERT_NE(fn##_, nullptr);
    GRIDEL_CONTROL_FUNCTIONS(QZ_GRIDEL_RESOLVE)
#undef QZ_GRIDEL_RESOLVE
    corrix_reset_();
    gridel_reset_();
    ResetScan();
    BoxParaBlock d;
    SetBoxParaDefaults(d);
    StoreBoxPara(d);
    CCaliLink::SetHalfRange(10.0);
  }

  void TearDown() override {
    FreeCaliModules();
    for (plat::ModuleHandle h : handles)
      if (h) plat::FreeModule(h);
    ResetScan();
    g_BoxFile = BoxFileRecords{};
    CCaliLink::SetHalfRange(10.0);
    g_SystemPara = SystemPara{};
    FailFileWrites("");
    LibFolderTest::TearDown();
  }

  static void ResetScan() {
    g_Scan.SetFieldSizes(100.0, 100.0, 17.0);
    g_Scan.nCoordType = 0;
    g_Scan.nTableSelect = 0;
    g_Scan.dbOrgX = g_Scan.dbOrgY = 0.0;
    g_Scan.dbRotSin = 0.0;
    g_Scan.dbRotCos = 1.0;
  }

  void WriteConfig(const std::string& name, const std::string& content) {
    ASSERT_TRUE(plat::WriteWholeFile(dir.File("ini/" + name), content));
  }
  std::vector<plat::ModuleHandle> handles;
#define QZ_CORRIX_MEMBER(fn) decltype(&fn) fn##_ = nullptr;
  CORRIX_CONTROL_FUNCTIONS(QZ_CORRIX_MEMBER)
  GRIDEL_CONTROL_FUNCTIONS(QZ_CORRIX_MEMBER)
#undef QZ_CORRIX_MEMBER
};

}  // namespace qztest
