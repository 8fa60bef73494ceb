// A refused write of each file no other test refuses: the defined log line, no crash, nothing else lost.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "flash/bad_block_table.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "monitor/monitor_record.h"
#include "monitor/record_compare.h"
#include "platform/files.h"
#include "support/faults.h"
#include "support/lib_folder.h"
#include "support/sim_card.h"

namespace {

using qztest::FailFileWrites;
using qztest::HasLine;
using qztest::SimCardTest;

TEST_F(SimCardTest, RefusedWritesAreLoggedAndLoseNothingElse) {
  Stage(1, "[HARDWARE]\nPID=32768\n");
  ASSERT_EQ(OpenLink(), 0u);
  uint32_t cursor = 0;
  g_BBT.SkipBad(cursor);  // the table is loaded (and "BBT.txt" written) before the refusal
  // refused: the path (prefix) whose writes fail; logged: the defined line, and what must not be lost.
  struct Case { const char* file; std::string refused; std::function<void()> write; std::function<bool()> logged; };
  const Case cases[] = {
      {"the error log", g_ErrorLog.Path(), [] { LogFailure("QZ_Test", "first failure"); },
       [&] { return HasLine(InfoLines(), "first failure") && !HasLine(ErrorLines(), "first failure"); }},
      {"a monitoring sheet", BuildLogDir(),
       [] { g_recMeasured.durations = {1.5, 2.5}; WriteInfoXls("12_07", "10_00_00", 1, 0); },
       [&] { return HasLine(InfoLines(), "rows dropped") && g_recMeasured.durations.empty(); }},
      {"BBT.txt", GetModuleDir() + "BBT.txt", [] { g_BBT.MarkBad(100); g_BBT.Save(); },
       [&] { return HasLine(InfoLines(), "BBT.txt cannot be written") && g_BBT.IsBad(100); }},
      {"QZMarkPara.cfg", g_MainCfg.Path(), [] { WriteMainCfgInt("Main", "bJustM25p64", 1); },
       [&] {
         return HasLine(ErrorLines(), "[Main] bJustM25p64=1 cannot be written") &&
                ReadMainInt("HARDWARE", "PID", 0) == 32768 && ReadMainInt("Main", "bJustM25p64", 7) == 7;
       }},
  };
  for (const Case& c : cases) {
    FailFileWrites(c.refused);
    EXPECT_NO_THROW(c.write()) << c.file;
    FailFileWrites("");
    EXPECT_TRUE(c.logged()) << c.file;
  }
  LogFailure("QZ_Test", "second failure");  // the error log takes lines again
  EXPECT_TRUE(HasLine(ErrorLines(), "second failure"));
}

}  // namespace
