// Error texts, the language flag, the exception's report and the export wrapper; the text logs.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "frame/errors.h"
#include "frame/export_call.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "platform/files.h"
#include "support/fake_clock.h"
#include "support/lib_folder.h"
#include "support/staged_library.h"

namespace {

class ErrorsTest : public qztest::LibFolderTest {
 protected:
  void TearDown() override {
    g_mapErrText.clear();
    LibFolderTest::TearDown();
  }
  void LoadLanguage(const std::string& mainCfg) {
    WriteFile("ini/QZMarkPara.cfg", mainCfg);
    InitLanguage();
    InitErrorTexts();
  }
};

TEST_F(ErrorsTest, LanguageFlagAndTextsByKeyAndTheExamplesHaveAllCodes) {
  struct Case { const char* cfg; uint8_t zh; } cases[] = {
      {"", 1},                                         // default "QZ_zh.txt"
      {"[OTHER]\nlanguageFile=QZ_en.txt\n", 0}, {"[OTHER]\nlanguageFile=mine_zh.txt.old\n", 1},
      {"[OTHER]\nlanguageFile=QZ_ZH.TXT\n", 0},        // case-sensitive
  };
  for (const Case& c : cases) {
    LoadLanguage(c.cfg);
    EXPECT_EQ(g_bLangZh, c.zh) << c.cfg;
    EXPECT_EQ(GetErrText(1), "");  // none of the files is there (its box: the start-up tests)
  }
  // Texts come from the language file by key.
  ClearLogs();
  WriteFile("ini/QZ_en.txt",
            "[language]\nSTRING_Card_is_not_connected=Card is not connected\n"
            "STRING_MemoryException=Out of memory\nSTRING_not_Open_Box_File=Cannot open the box file\n");
  LoadLanguage("[OTHER]\nlanguageFile=QZ_en.txt\n");
  EXPECT_TRUE(Boxes().empty());
  // 3's key missing from the file; code 4 has no text.
  const std::pair<uint32_t, std::string> texts[] = {{0, "OK"}, {2, "Error"}, {1, "Card is not connected"},
      {38, "Out of memory"}, {10, "Cannot open the box file"}, {3, ""}, {4, ""}, {41, ""}};
  for (const auto& [code, text] : texts) EXPECT_EQ(GetErrText(code), text) << code;
  EXPECT_EQ(g_mapErrText.count(41), 0u);             // a lookup does not add an entry
  for (uint32_t code = 0; code < kReturnCodeCount; ++code) EXPECT_EQ(g_mapErrText.count(code), code == 4 ? 0u : 1u);
  // The example language files have a text for every code.
  for (const char* name : {"QZ_zh.txt", "QZ_en.txt"}) {
    std::string text;
    ASSERT_TRUE(plat::ReadWholeFile(qztest::NativePath(std::string(QZ_SOURCE_DIR) + "/examples/ini/" + name), text));
    WriteFile(std::string("ini/") + name, text);
    LoadLanguage(std::string("[OTHER]\nlanguageFile=") + name + "\n");
    for (uint32_t code = 0; code < kReturnCodeCount; ++code)
      EXPECT_TRUE(code == 4 || !GetErrText(code).empty()) << name << " code " << code;
  }
}

// The lines of a log without their level and time, each checked to carry `level`.
std::vector<std::string> Texts(std::vector<std::string> lines, const std::string& level) {
  for (std::string& l : lines) {
    EXPECT_EQ(l.substr(0, 9), level) << l;
    l.erase(0, l.find("] ", 9) + 2);
  }
  return lines;
}

TEST_F(ErrorsTest, ShowReportsOnlyWhenAskedAndTheExportWrapperTurnsEveryExceptionIntoACode) {
  WriteFile("ini/QZ_en.txt", "[language]\nSTRING_Flush_Fail=Flush failed 100%\nSTRING_MemoryException=Out of memory\n");
  LoadLanguage("[OTHER]\nlanguageFile=QZ_en.txt\n");
  EXPECT_EQ(MyException(RV_CARD_NOT_CONNECTED, 0).Show(), 1u);
  MyException shown(RV_FLUSH_FAIL, 1);
  EXPECT_STREQ(shown.what(), "C++ Exception");
  EXPECT_EQ(shown.Show(), 26u);
  EXPECT_EQ(ExportCall("QZ_Ok", [] { return 0u; }), 0u);
  EXPECT_EQ(ExportCall("QZ_Lost", []() -> uint32_t { throw MyException(RV_CARD_NOT_CONNECTED, 0); }), 1u);
  EXPECT_EQ(ExportCall("QZ_Alloc", []() -> uint32_t { throw std::bad_alloc(); }), 38u);
  EXPECT_EQ(ExportCall("QZ_Odd", []() -> uint32_t { throw std::runtime_error("boom"); }), 2u);
  EXPECT_EQ(ExportCall("QZ_Odder", []() -> uint32_t { throw 42; }), 2u);
  const std::vector<std::string> logged = {"MyException::Show:Flush failed 100%", "QZ_Alloc:Out of memory",
                                           "QZ_Odd:unexpected exception: boom",
                                           "QZ_Odder:unexpected exception: unknown exception"};
  EXPECT_EQ(std::tuple(Texts(InfoLines(), "[INFO]   "), Texts(ErrorLines(), "[ERROR]  ")), std::tuple(logged, logged));
  // Unexpected failures are logged, not shown.
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"topmost ok: Flush failed 100%", "topmost ok: Out of memory"}));
}

// ---- the text logs

using qztest::ReadLines;

class LogFileTest : public qztest::LibFolderTest {
 protected:
  void SetUp() override {
    LibFolderTest::SetUp();
    clock.local = plat::LocalTime{2026, 3, 7, 13, 5, 9, 42, 6};
  }
  qztest::FakeClock clock;
};

TEST_F(LogFileTest, LineFormatLevelTagsTheLevelFilterAndTheDailyRollOver) {
  CLogFile log;
  log.Init(dir.File("a/b/Error.log"));  // missing folders are created
  log.Write("T", LOG_TRACE, "dropped at the default level 1");
  log.SetMinLevel(0);
  log.Write("Tag", LOG_TRACE, "n=%d", 5);
  log.Write("Other::Step", LOG_INFO, "%s", "info");
  log.Write("W", LOG_WARNING, "w");
  log.Write("E", LOG_ERROR, "e");
  log.Write("F", LOG_FATAL, "f");
  log.Write("F7", 7, "seven");
  log.WriteText("T", LOG_INFO, "100% literal %d");
  // Messages up to 8000 characters are written whole.
  const std::string exact(8000, 'a'), over(8001, 'b');
  log.Write("T", LOG_INFO, "%s", exact.c_str());
  log.Write("T", LOG_INFO, "%s", over.c_str());
  log.WriteText("T", LOG_INFO, over);
  log.SetMinLevel(3);
  log.Write("T", LOG_WARNING, "dropped");
  log.Write("T", LOG_ERROR, "kept");
  auto lines = ReadLines(dir.File("a/b/Error.log"));
  EXPECT_EQ(lines, (std::vector<std::string>{"[TRACE]  [2026-03-07 13:05:09.042] Tag:n=5",
                                             "[INFO]   [2026-03-07 13:05:09.042] Other::Step:info",
                                             "[WARNING][2026-03-07 13:05:09.042] W:w",
                                             "[ERROR]  [2026-03-07 13:05:09.042] E:e",
                                             "[FATAL]  [2026-03-07 13:05:09.042] F:f",
                                             "[FATAL]  [2026-03-07 13:05:09.042] F7:seven",
                                             "[INFO]   [2026-03-07 13:05:09.042] T:100% literal %d",
                                             "[INFO]   [2026-03-07 13:05:09.042] T:" + exact,
                                             "[INFO]   [2026-03-07 13:05:09.042] T:TOO LONG,CAN NOT LOG!",
                                             "[INFO]   [2026-03-07 13:05:09.042] T:TOO LONG,CAN NOT LOG!",
                                             "[ERROR]  [2026-03-07 13:05:09.042] T:kept"}));
  // A log that cannot be opened drops its lines silently.
  plat::WriteWholeFile(dir.File("blocker"), "a file, not a folder");
  CLogFile blocked;
  blocked.Init(dir.File("blocker/x.log"));
  blocked.Write("T", LOG_ERROR, "nowhere");
  // The daily log rolls over at the first line after midnight.
  CLogFile daily;
  clock.local = plat::LocalTime{2026, 3, 7, 23, 59, 59, 999, 6};
  daily.Init("");
  const std::string day1 = BuildLogFilePath("Log_03_07.log");
  EXPECT_EQ(daily.Path(), day1);
  daily.Write("T", LOG_INFO, "late");
  clock.local = plat::LocalTime{2026, 3, 8, 0, 0, 0, 1, 0};
  daily.Write("T", LOG_INFO, "early");
  const std::string day2 = BuildLogFilePath("Log_03_08.log");
  EXPECT_EQ(daily.Path(), day2);
  EXPECT_EQ(ReadLines(day1), std::vector<std::string>{"[INFO]   [2026-03-07 23:59:59.999] T:late"});
  EXPECT_EQ(ReadLines(day2), std::vector<std::string>{"[INFO]   [2026-03-08 00:00:00.001] T:early"});
}

TEST_F(LogFileTest, TwoThreadsWritingTwoLogsProduceIntactLinesAndOldLogsAreDeletedByNameAndAge) {
  CLogFile a, b;
  a.Init(dir.File("a.log"));
  b.Init(dir.File("b.log"));
  auto writer = [](CLogFile* log, char c) {
    for (int i = 0; i < 200; ++i) log->Write("W", LOG_INFO, "%s", std::string(100, c).c_str());
  };
  std::thread t1(writer, &a, 'x'), t2(writer, &b, 'y'), t3(writer, &a, 'z');
  t1.join();
  t2.join();
  t3.join();
  EXPECT_EQ(ReadLines(dir.File("b.log")).size(), 200u);
  const auto la = ReadLines(dir.File("a.log"));
  ASSERT_EQ(la.size(), 400u);
  for (const auto& l : la)
    EXPECT_TRUE(l.find(std::string(100, 'x')) != std::string::npos || l.find(std::string(100, 'z')) != std::string::npos);
  // Old logs are deleted by name and age.
  const std::string folder = BuildLogDir();
  ASSERT_TRUE(plat::CreateFolders(folder));
  const int64_t day = 86400;
  struct Case { const char* name; int64_t ageSeconds; bool kept; } cases[] = {
      {"Log.log", 30 * day, true},           // shorter than 8 characters
      {"Log_01_04.log", 10 * day, true},     // exactly ten days is not more than ten days
      {"Log_01_05.log", 10 * day + 1, false},
      {"data.xls", 30 * day, true},          // no marker word in its name
      {"monitor1.xls", 30 * day, false},
      {"radio_x.log", 30 * day, false},      // "io" anywhere in the name
      {"LOG_case.log", 30 * day, true},      // the marker words are case-sensitive
      {"info_abcd.txt", 30 * day, true},     // not matched by the patterns
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(plat::WriteWholeFile(folder + c.name, "x"));
    ASSERT_TRUE(plat::SetFileLastWriteTime(folder + c.name, clock.now - c.ageSeconds));
  }
  DeleteOldLogs(folder, std::string(1, plat::kPathSep) + "*.log");
  DeleteOldLogs(folder, std::string(1, plat::kPathSep) + "*.xls");
  for (const Case& c : cases) EXPECT_EQ(plat::FileExists(folder + c.name), c.kept) << c.name;
  DeleteOldLogs(dir.File("no_such_folder"), "/*.log");  // a missing folder is not an error
}

}  // namespace
