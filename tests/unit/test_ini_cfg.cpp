// The folder rules of the configuration and the logs, and the typed reads of the configuration.
#include <gtest/gtest.h>

#include "frame/ini_cfg.h"
#include "platform/files.h"
#include "support/lib_folder.h"

namespace {

using qztest::NativePath;

TEST(FolderRules, PerCardAndPlainFolders) {
  struct Case { const char* moduleDir; const char* config; const char* logDir; } cases[] = {
      {"E:/A/QuenloDLL3/", "E:/A/ini/Quenlo3/QZMarkPara.cfg", "E:/A/LOG/Card3/"},
      {"E:/B/bin/", "E:/B/bin/ini/QZMarkPara.cfg", "E:/B/bin/LOG/Card/"},
      // A folder named exactly QuenloDLL: the character after the marker is the separator itself.
      {"E:/A/QuenloDLL/", "E:/A/ini/Quenlo//QZMarkPara.cfg", "E:/A/LOG/Card//"},
      // The first occurrence decides.
      {"E:/QuenloDLL1/QuenloDLL2/", "E:/ini/Quenlo1/QZMarkPara.cfg", "E:/LOG/Card1/"},
      // The search is case-sensitive and needs the separator before the marker.
      {"E:/A/quenlodll3/", "E:/A/quenlodll3/ini/QZMarkPara.cfg", "E:/A/quenlodll3/LOG/Card/"},
      {"E:/AQuenloDLL3/", "E:/AQuenloDLL3/ini/QZMarkPara.cfg", "E:/AQuenloDLL3/LOG/Card/"},
      {"/opt/mark/QuenloDLLx7/", "/opt/mark/ini/Quenlox/QZMarkPara.cfg", "/opt/mark/LOG/Cardx/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ResolveConfigPath(NativePath(c.moduleDir), "QZMarkPara.cfg"), NativePath(c.config)) << c.moduleDir;
    EXPECT_EQ(ResolveLogDir(NativePath(c.moduleDir)), NativePath(c.logDir)) << c.moduleDir;
  }
}

TEST(FolderRules, LongPathsAreNotCut) {
  std::string dir = "/" + std::string(300, 'd') + "/QuenloDLL5/";
  std::string expected = "/" + std::string(300, 'd') + "/ini/Quenlo5/" + std::string(40, 'f') + ".cfg";
  EXPECT_EQ(ResolveConfigPath(NativePath(dir), std::string(40, 'f') + ".cfg"), NativePath(expected));
}

using IniCfgTest = qztest::LibFolderTest;

TEST_F(IniCfgTest, TypedReadsConvertLikeTheCRuntime) {
  WriteFile("ini/t.cfg", "[Main]\nint=12.7\nreal=0.5abc\nempty=\ntext=  hello  \nneg=-3\n");
  CIniCfg cfg("t.cfg");
  EXPECT_EQ(cfg.Path(), dir.File("ini/t.cfg"));
  EXPECT_EQ(cfg.GetInt("Main", "int", 99), 12);
  EXPECT_EQ(cfg.GetInt("MAIN", "neg", 99), -3);
  EXPECT_EQ(cfg.GetInt("Main", "empty", 99), 0);      // present but empty: 0, not the default
  EXPECT_EQ(cfg.GetInt("Main", "missing", 99), 99);
  EXPECT_EQ(cfg.GetInt("Main", "int", 99, 0), 99);    // bRead 0 never touches the file
  EXPECT_DOUBLE_EQ(cfg.GetDouble("Main", "real", 1, 7.0), 0.5);
  EXPECT_DOUBLE_EQ(cfg.GetDouble("Main", "missing", 1, 0.3), 0.3);
  EXPECT_DOUBLE_EQ(cfg.GetDouble("Main", "real", 0, 7.0), 7.0);
  EXPECT_EQ(cfg.GetString("Main", "text", "d"), "hello");
  CIniCfg absent("absent.cfg");
  EXPECT_EQ(absent.GetInt("Main", "k", -5), -5);
  EXPECT_DOUBLE_EQ(absent.GetDouble("Main", "k", 1, 2.25), 2.25);
}

TEST_F(IniCfgTest, MainConfigurationWritesAndReadsBack) {
  WriteMainCfgInt("Main", "bConfiguration", 1);
  WriteMainCfgInt("Main", "nBufDataCheckType", -2);
  EXPECT_EQ(ReadMainInt("main", "BCONFIGURATION", 0), 1);
  EXPECT_EQ(ReadMainInt("Main", "nBufDataCheckType", 0), -2);
  std::string text;
  ASSERT_TRUE(plat::ReadWholeFile(dir.File("ini/QZMarkPara.cfg"), text));
  EXPECT_NE(text.find("bConfiguration=1"), std::string::npos);
}

}  // namespace
