#pragma once
// A fixture for the readers of the system parameters: a fresh library folder with its own
// "ini/QZMarkPara.cfg", boxes captured into a file, and every global the readers touch restored
// afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cardlink/portlane.h"
#include "frame/wait_desc.h"
#include "frame/card_version.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "frame/worker_threads.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/faults.h"
#include "support/temp_dir.h"

namespace qztest {

class SystemParaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qztest::SetModuleDir(dir.Path());
    g_MainCfg = CIniCfg("QZMarkPara.cfg");
    const std::string& cfg = g_MainCfg.Path();
    ASSERT_TRUE(plat::CreateFolders(cfg.substr(0, cfg.find_last_of(plat::kPathSep))));
    plat::SetEnvVar("QZMARK_MSGBOX_LOG", dir.File("boxes.txt"));
    g_SystemPara = SystemPara{};
  }

  void TearDown() override {
    StopWorkerThreads();
    g_SystemPara = SystemPara{};
    g_mapWaitDesc.Publish({});
    g_FlashAreaMap = FlashAreaMap{};
    g_CmdNumTable = CmdNumTable{};
    g_Link.Reset();
    g_bLangZh = 0;
    g_InfoLog.SetMinLevel(1);
    g_ErrorLog.Close();
    plat::SetEnvVar("QZMARK_MSGBOX_LOG", "");
    g_MainCfg = savedCfg;
    qztest::SetModuleDir("");
  }

  void WriteCfg(const std::string& text) { ASSERT_TRUE(plat::WriteWholeFile(g_MainCfg.Path(), text)); }
  std::string ReadCfg() const {
    std::string text;
    plat::ReadWholeFile(g_MainCfg.Path(), text);
    return text;
  }
  // The boxes shown so far, one "<topmost|plain> <ok|yesno>: <text>" line each.
  std::vector<std::string> Boxes() const {
    std::string text;
    plat::ReadWholeFile(dir.File("boxes.txt"), text);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
      lines.push_back(text.substr(start, nl - start));
    }
    return lines;
  }

  TempDir dir;
  CIniCfg savedCfg = g_MainCfg;
};

}  // namespace qztest
