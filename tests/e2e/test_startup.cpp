// Loading the library like a host: companion boxes, language file, per-card folders, logs and their clean-up.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/files.h"
#include "qzmark.h"
#include "support/staged_library.h"

namespace {

using qztest::StagedLibrary;

const char* const kGridelMissing = "topmost ok: Failed to initialize Gridel.dll!  r  n";
const char* const kGridelIncomplete = "topmost ok: Failed to initialize Gridel.dll!";
const char* const kCorrixMissing = "topmost ok: Failed to initialize Corrix. DLL!  r  n";
const char* const kPortlaneMissing = "topmost ok: Failed to initialize Portlane.dll!  r  n";
const char* const kNoLanguage = "plain ok: no language File";

TEST(Startup, BareFolderShowsEveryCompanionBoxInEnglishThenWorks) {
  StagedLibrary lib;
  ASSERT_TRUE(lib.Load());
  std::vector<std::string> expected = {kGridelMissing, kCorrixMissing, kPortlaneMissing, kNoLanguage};
  EXPECT_EQ(lib.Boxes(), expected);
  auto getSwVer = lib.Get<decltype(&QZ_GetSwVer)>("QZ_GetSwVer");
  ASSERT_NE(getSwVer, nullptr);
  uint32_t v = 0;
  EXPECT_EQ(getSwVer(&v), 0u);
  EXPECT_EQ(v, 0x3454u);
  EXPECT_EQ(getSwVer(nullptr), 2u);
  // The logs are open in the plain log folder beside the library.
  EXPECT_TRUE(plat::FileExists(lib.LibDir() + "LOG" + plat::kPathSep + "Card" + plat::kPathSep + "Error.log"));
  EXPECT_TRUE(plat::FileExists(lib.TodaysLog("Log_", ".log")));
  // Freeing the library does not unload it: its exports still answer until the process ends.
  lib.Free();
  v = 0;
  EXPECT_EQ(getSwVer(&v), 0u);
  EXPECT_EQ(v, 0x3454u);
}

// A missing or incomplete companion shows its box in English (the bare folder's language is Chinese; our
// calibration modules show none: every card host's load); only a card type other than 0 loads the PCIe link.
TEST(Startup, CompanionBoxesByFolder) {
  // config nullptr: none.
  struct Case { const char *gridel, *corrix, *portlane, *config; std::vector<std::string> boxes; } cases[] = {
      {"partial", "full", "full", nullptr, {kGridelIncomplete}},
      {"full", "partial", "full", nullptr, {kCorrixMissing}},
      {"full", "full", "partial", nullptr, {kPortlaneMissing}},
      {"full", "full", "full", "[main]\ncardtype=7\n", {kPortlaneMissing}},  // no PCIe link library
  };
  for (const Case& c : cases) {
    StagedLibrary lib;
    lib.AddStandIn("Gridel", c.gridel);
    lib.AddStandIn("Corrix", c.corrix);
    lib.AddStandIn("Portlane", c.portlane);
    lib.AddExampleLanguageFiles();
    if (c.config) lib.WriteConfig("QZMarkPara.cfg", c.config);
    ASSERT_TRUE(lib.Load());
    EXPECT_EQ(lib.Boxes(), c.boxes) << "case " << &c - cases;
  }
}

// A per-card folder holds the configuration and the logs; logs past their age are deleted at load.
TEST(Startup, PerCardFolderHoldsConfigurationAndLogs) {
  StagedLibrary lib('3');
  for (const char* name : {"Gridel", "Corrix", "Portlane"}) lib.AddStandIn(name, "full");
  lib.AddExampleLanguageFiles();
  const std::string logDir = lib.Root() + "LOG" + plat::kPathSep + "Card3" + plat::kPathSep;
  ASSERT_TRUE(plat::CreateFolders(logDir));
  const int64_t now = plat::SystemClock().Now();
  // Both patterns of the log folder, by age (the rules: test_log_file.cpp).
  struct Case { const char* name; int days; bool kept; } cases[] = {
      {"Log_01_02.log", 11, false}, {"Log_01_03.log", 9, true}, {"monitor_01.xls", 30, false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(plat::WriteWholeFile(logDir + c.name, "x"));
    ASSERT_TRUE(plat::SetFileLastWriteTime(logDir + c.name, now - int64_t{c.days} * 86400));
  }
  ASSERT_TRUE(lib.Load());
  EXPECT_TRUE(lib.Boxes().empty());  // the language file was found in ini/Quenlo3
  for (const Case& c : cases) EXPECT_EQ(plat::FileExists(logDir + c.name), c.kept) << c.name;
}

}  // namespace
