#include "support/lib_folder.h"

#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/faults.h"
#include "support/staged_library.h"

namespace qztest {

void LibFolderTest::SetUp() {
  SetModuleDir(dir.Path());
  g_MainCfg = CIniCfg("QZMarkPara.cfg");
  ASSERT_TRUE(plat::CreateFolders(dir.File("ini")));
  plat::SetEnvVar("QZMARK_MSGBOX_LOG", dir.File("boxes.txt"));
  g_InfoLog.Init(dir.File("info.log"));
  g_ErrorLog.Init(dir.File("error.log"));
}

void LibFolderTest::TearDown() {
  g_InfoLog.Close();
  g_ErrorLog.Close();
  plat::SetEnvVar("QZMARK_MSGBOX_LOG", "");
  SetModuleDir("");
  g_MainCfg = CIniCfg("QZMarkPara.cfg");
  g_bLangZh = 0;
}

void LibFolderTest::WriteFile(const std::string& rel, const std::string& text) const {
  ASSERT_TRUE(plat::WriteWholeFile(dir.File(rel), text)) << rel;
}

std::vector<std::string> LibFolderTest::Boxes() const { return ReadLines(dir.File("boxes.txt")); }
std::vector<std::string> LibFolderTest::InfoLines() const { return ReadLines(dir.File("info.log")); }
std::vector<std::string> LibFolderTest::ErrorLines() const { return ReadLines(dir.File("error.log")); }

void LibFolderTest::ClearLogs() const {
  for (const char* f : {"boxes.txt", "info.log", "error.log"}) plat::WriteWholeFile(dir.File(f), "");
}

bool HasLine(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& l : lines)
    if (l.find(text) != std::string::npos) return true;
  return false;
}

}  // namespace qztest
