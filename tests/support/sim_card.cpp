#include "support/sim_card.h"

#include "cardlink/link_config.h"
#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/faults.h"
#include "support/staged_library.h"

namespace qztest {

void SimCardTest::Stage(int cardType, const std::string& config) {
  clock.autoAdvanceMs = 1;
  // A folder of its own for each staging: a library file that may still be mapped is never overwritten.
  folder_ = dir.File("stage" + std::to_string(++stages_)) + plat::kPathSep;
  ASSERT_TRUE(plat::CreateFolders(folder_));
  ASSERT_TRUE(CopyCompanions({"Portlane", "PortlanePCIE"}, folder_));
  qztest::SetModuleDir(folder_);
  g_MainCfg = CIniCfg("QZMarkPara.cfg");
  ASSERT_TRUE(plat::CreateFolders(folder_ + "ini"));
  ASSERT_TRUE(plat::WriteWholeFile(g_MainCfg.Path(), "[Main]\nCardType=" + std::to_string(cardType) + "\n" + config));
  plat::SetEnvVar("QZMARK_MSGBOX_LOG", dir.File("boxes.txt"));
  g_InfoLog.Init(dir.File("info.log"));
  g_ErrorLog.Init(dir.File("error.log"));
  g_SystemPara = SystemPara();
  CPortlane::LoadDll();
  ASSERT_EQ(PortlaneApi.bLoaded, 1);
  ASSERT_TRUE(ResolveSim([this](const char* name) { return SimSymbol(name); }));
  cardsim_reset_();
  InitParaLink(0);
}

void SimCardTest::TearDown() {
  CPortlane::Close();
  g_Link.Reset();
  CPortlane::FreeDll();
  LibFolderTest::TearDown();
}

uint32_t SimCardTest::OpenLink() {
  uint32_t rc = CPortlane::Open(0);
  if (rc == 0) g_Link.g_bConnected = 1;
  return rc;
}

void* SimCardTest::SimSymbol(const char* name) {
  return PortlaneApi.module.hModule ? plat::FindSymbol(PortlaneApi.module.hModule, name) : nullptr;
}

}  // namespace qztest
