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
  // Each staging gets a folder of its own: a library file that may still be mapped is never
  // overwritten.
  folder_ = dir.File("stage" + std::to_string(++stages_)) + plat::kPathSep;
  ASSERT_TRUE(plat::CreateFolders(folder_));
  for (const char* base : {"Portlane", "PortlanePCIE"}) {
    const std::string file = plat::CompanionFileName(base);
    ASSERT_TRUE(plat::CopyFilePath(NativePath(QZ_DEPLOY_DIR) + plat::kPathSep + file, folder_ + file)) << file;
  }
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
#define QZ_SIM_RESOLVE(fn) fn##_ = Sim<decltype(&fn)>(#fn);
  CARDSIM_CONTROL_FUNCTIONS(QZ_SIM_RESOLVE)
#undef QZ_SIM_RESOLVE
  cardsim_reset_();
  InitParaLink(0);
}

void SimCardTest::TearDown() {
  CPortlane::Close();
  g_Link.Reset();
  CPortlane::FreeDll();
  g_InfoLog.Close();
  g_ErrorLog.Close();
  plat::SetEnvVar("QZMARK_MSGBOX_LOG", "");
  qztest::SetModuleDir("");
  g_MainCfg = CIniCfg("QZMarkPara.cfg");
  g_bLangZh = 0;
}

uint32_t SimCardTest::OpenLink() {
  uint32_t rc = CPortlane::Open(0);
  if (rc == 0) g_Link.g_bConnected = 1;
  return rc;
}

void* SimCardTest::SimSymbol(const char* name) {
  return PortlaneApi.module.hModule ? plat::FindSymbol(PortlaneApi.module.hModule, name) : nullptr;
}

std::vector<cardsim_frame> SimCardTest::Frames() {
  std::vector<cardsim_frame> out(cardsim_log_count_());
  for (uint32_t i = 0; i < out.size(); ++i) cardsim_log_get_(i, &out[i]);
  return out;
}

std::vector<Cmd> SimCardTest::Commands(uint32_t only) {
  std::vector<Cmd> out;
  for (const cardsim_frame& f : Frames())
    if (f.kind == CARDSIM_KIND_COMMAND && (only == 0 || f.command == only)) out.emplace_back(f.command, f.p1, f.p2);
  return out;
}

cardsim_flash SimCardTest::Flash() {
  cardsim_flash f{};
  cardsim_get_flash_(&f);
  return f;
}

cardsim_fifo SimCardTest::Fifo() {
  cardsim_fifo f{};
  cardsim_get_fifo_(&f);
  return f;
}

cardsim_state SimCardTest::State() {
  cardsim_state s{};
  cardsim_get_state_(&s);
  return s;
}

std::vector<uint32_t> SimCardTest::TraceWords() {
  std::vector<uint32_t> out(cardsim_trace_count_(1));
  for (uint32_t i = 0; i < out.size(); ++i) {
    cardsim_trace_entry e{};
    cardsim_trace_get_(1, i, &e);
    out[i] = e.word;
  }
  return out;
}

std::vector<std::string> SimCardTest::InfoLines() const { return ReadLines(dir.File("info.log")); }
std::vector<std::string> SimCardTest::ErrorLines() const { return ReadLines(dir.File("error.log")); }
std::vector<std::string> SimCardTest::Boxes() const { return ReadLines(dir.File("boxes.txt")); }

}  // namespace qztest
