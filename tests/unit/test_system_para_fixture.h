#pragma once
// Readers of the system parameters: a fresh "ini/QZMarkPara.cfg", every global they touch restored after.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cardlink/portlane.h"
#include "frame/card_version.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "frame/wait_desc.h"
#include "frame/worker_threads.h"
#include "platform/files.h"
#include "support/lib_folder.h"

namespace qztest {

class SystemParaTest : public LibFolderTest {
 protected:
  void SetUp() override {
    LibFolderTest::SetUp();
    g_SystemPara = SystemPara{};
  }
  void TearDown() override {
    StopWorkerThreads();
    g_SystemPara = SystemPara{};
    g_mapWaitDesc.Publish({});
    g_FlashAreaMap = FlashAreaMap{};
    g_CmdNumTable = CmdNumTable{};
    g_Link.Reset();
    g_InfoLog.SetMinLevel(1);
    LibFolderTest::TearDown();
  }

  void WriteCfg(const std::string& text) { WriteFile("ini/QZMarkPara.cfg", text); }
  std::string ReadCfg() const {
    std::string text;
    plat::ReadWholeFile(g_MainCfg.Path(), text);
    return text;
  }
};

}  // namespace qztest
