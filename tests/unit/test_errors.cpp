// Error texts from the language file, the language flag, the exception's report and the export
// wrapper that turns every exception into a code; the library's text logs: the line format and level
// tags, the level filter, long messages, the daily roll-over, two writers at once and old logs deleted.
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

TEST_F(ErrorsTest, LanguageFlagIsASubstringTestOnTheFileName) {
  struct Case { const char* cfg; uint8_t zh; } cases[] = {
      {"", 1},                                         // default "QZ_zh.txt"
      {"[OTHER]\nlanguageFile=QZ_en.txt\n", 0}, {"[OTHER]\nlanguageFile=mine_zh.txt.old\n", 1},
      {"[OTHER]\nlanguageFile=QZ_ZH.TXT\n", 0},        // case-sensitive
  };
  for (const Case& c : cases) {
    LoadLanguage(c.cfg);
    EXPECT_EQ(g_bLangZh, c.zh) << c.cfg;
  }
}

TEST_F(ErrorsTest, TextsComeFromTheLanguageFileByKey) {
  WriteFile("ini/QZ_en.txt",
            "[language]\nSTRING_Card_is_not_connected=Card is not connected\n"
            "STRING_MemoryException=Out of memory\nSTRING_not_Open_Box_File=Cannot open the box file\n"
            "STRING_mark_error=" + std::string(300, 'm') + "\n");
  LoadLanguage("[OTHER]\nlanguageFile=QZ_en.txt\n");
  EXPECT_TRUE(Boxes().empty());
  // Code 20 cut to 255 bytes; 3's key missing from the file; code 4 has no text.
  const std::pair<uint32_t, std::string> texts[] = {{0, "OK"}, {2, "Error"}, {1, "Card is not connected"},
      {38, "Out of memory"}, {10, "Cannot open the box file"}, {20, std::string(255, 'm')}, {3, ""}, {4, ""}, {41, ""}};
  for (const auto& [code, text] : texts) EXPECT_EQ(GetErrText(code), text) << code;
  EXPECT_EQ(g_mapErrText.count(41), 0u);             // a lookup does not add an entry
  for (uint32_t code = 0; code < kReturnCodeCount; ++code) EXPECT_EQ(g_mapErrText.count(code), code == 4 ? 0u : 1u);
}

TEST_F(ErrorsTest, MissingLanguageFileShowsItsBoxAndLeavesTextsEmpty) {
  LoadLanguage("[OTHER]\nlanguageFile=nothere_zh.txt\n");
  EXPECT_EQ(Boxes(), std::vector<std::string>{"plain ok: no language File"});
  EXPECT_EQ(g_bLangZh, 1);
  EXPECT_EQ(GetErrText(1), "");
  EXPECT_EQ(GetErrText(0), "OK");
}

TEST_F(ErrorsTest, ExamplesLanguageFilesHaveATextForEveryCode) {
  for (const char* name : {"QZ_zh.txt", "QZ_en.txt"}) {
    std::string text;
    ASSERT_TRUE(plat::ReadWholeFile(qztest::NativePath(std::string(QZ_SOURCE_DIR) + "/examples/ini/" + name), text));
    WriteFile(std::string("ini/") + name, text);
    LoadLanguage(std::string("[OTHER]\nlanguageFile=") + name + "\n");
    for (uint32_t code = 0; code < kReturnCodeCount; ++code)
      EXPECT_TRUE(code == 4 || !GetErrText(code).empty()) << name << " code " << code;
  }
}

TEST_F(ErrorsTest, ShowReportsOnlyWhenAsked) {
  WriteFile("ini/QZ_en.txt", "[language]\nSTRING_Flush_Fail=Flush failed 100%\n");
  LoadLanguage("[OTHER]\nlanguageFile=QZ_en.txt\n");
  MyException silent(RV_CARD_NOT_CONNECTED, 0);
  EXPECT_EQ(silent.Show(), 1u);
  EXPECT_TRUE(InfoLines().empty());
  EXPECT_TRUE(Boxes().empty());

  MyException shown(RV_FLUSH_FAIL, 1);
  EXPECT_STREQ(shown.what(), "C++ Exception");
  EXPECT_EQ(shown.Show(), 26u);
  ASSERT_EQ(InfoLines().size(), 1u);
  ASSERT_EQ(ErrorLines().size(), 1u);
  EXPECT_EQ(InfoLines()[0].substr(0, 9), "[INFO]   ");
  EXPECT_NE(InfoLines()[0].find("] MyException::Show:Flush failed 100%"), std::string::npos);
  EXPECT_EQ(ErrorLines()[0].substr(0, 9), "[ERROR]  ");
  EXPECT_NE(ErrorLines()[0].find("] MyException::Show:Flush failed 100%"), std::string::npos);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"topmost ok: Flush failed 100%"});
}

TEST_F(ErrorsTest, ExportWrapperTurnsEveryExceptionIntoACode) {
  WriteFile("ini/QZ_en.txt", "[language]\nSTRING_MemoryException=Out of memory\n");
  LoadLanguage("[OTHER]\nlanguageFile=QZ_en.txt\n");

  EXPECT_EQ(ExportCall("QZ_Ok", [] { return 0u; }), 0u);
  EXPECT_EQ(ExportCall("QZ_Lost", []() -> uint32_t { throw MyException(RV_CARD_NOT_CONNECTED, 0); }), 1u);
  EXPECT_TRUE(InfoLines().empty());

  EXPECT_EQ(ExportCall("QZ_Alloc", []() -> uint32_t { throw std::bad_alloc(); }), 38u);
  ASSERT_EQ(InfoLines().size(), 1u);
  EXPECT_NE(InfoLines()[0].find("] QZ_Alloc:Out of memory"), std::string::npos);
  EXPECT_NE(ErrorLines()[0].find("] QZ_Alloc:Out of memory"), std::string::npos);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"topmost ok: Out of memory"});

  EXPECT_EQ(ExportCall("QZ_Odd", []() -> uint32_t { throw std::runtime_error("boom"); }), 2u);
  EXPECT_EQ(ExportCall("QZ_Odder", []() -> uint32_t { throw 42; }), 2u);
  ASSERT_EQ(InfoLines().size(), 3u);
  ASSERT_EQ(ErrorLines().size(), 3u);
  EXPECT_NE(InfoLines()[1].find("] QZ_Odd:"), std::string::npos);
  EXPECT_NE(ErrorLines()[1].find("boom"), std::string::npos);
  EXPECT_NE(ErrorLines()[2].find("] QZ_Odder:"), std::string::npos);
  EXPECT_EQ(Boxes().size(), 1u);  // unexpected failures are logged, not shown
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

TEST_F(LogFileTest, LineFormatLevelTagsAndTheLevelFilter) {
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
                                             "[ERROR]  [2026-03-07 13:05:09.042] T:kept"}));
}

TEST_F(LogFileTest, MessagesUpTo8000CharactersAreWrittenWhole) {
  CLogFile log;
  log.Init(dir.File("x.log"));
  std::string exact(8000, 'a');
  std::string over(8001, 'b');
  log.Write("T", LOG_INFO, "%s", exact.c_str());
  log.Write("T", LOG_INFO, "%s", over.c_str());
  log.WriteText("T", LOG_INFO, over);
  auto lines = ReadLines(dir.File("x.log"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("T:" + exact), std::string::npos);
  EXPECT_EQ(lines[1].substr(lines[1].find("T:")), "T:TOO LONG,CAN NOT LOG!");
  EXPECT_EQ(lines[2].substr(lines[2].find("T:")), "T:TOO LONG,CAN NOT LOG!");
}

TEST_F(LogFileTest, DailyLogRollsOverAtTheFirstLineAfterMidnight) {
  CLogFile log;
  clock.local = plat::LocalTime{2026, 3, 7, 23, 59, 59, 999, 6};
  log.Init("");
  const std::string day1 = BuildLogFilePath("Log_03_07.log");
  EXPECT_EQ(log.Path(), day1);
  log.Write("T", LOG_INFO, "late");
  clock.local = plat::LocalTime{2026, 3, 8, 0, 0, 0, 1, 0};
  log.Write("T", LOG_INFO, "early");
  const std::string day2 = BuildLogFilePath("Log_03_08.log");
  EXPECT_EQ(log.Path(), day2);
  auto old = ReadLines(day1);
  auto fresh = ReadLines(day2);
  ASSERT_EQ(old.size(), 1u);
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_NE(old[0].find("23:59:59.999] T:late"), std::string::npos);
  EXPECT_NE(fresh[0].find("00:00:00.001] T:early"), std::string::npos);
}

TEST_F(LogFileTest, UnopenableLogDropsLinesSilently) {
  plat::WriteWholeFile(dir.File("blocker"), "a file, not a folder");
  CLogFile log;
  log.Init(dir.File("blocker/x.log"));
  log.Write("T", LOG_ERROR, "nowhere");  // must not crash
  EXPECT_FALSE(plat::FileExists(dir.File("blocker/x.log")));
}

TEST_F(LogFileTest, TwoThreadsWritingTwoLogsProduceIntactLines) {
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
  auto la = ReadLines(dir.File("a.log"));
  auto lb = ReadLines(dir.File("b.log"));
  ASSERT_EQ(la.size(), 400u);
  ASSERT_EQ(lb.size(), 200u);
  for (const auto& l : la)
    EXPECT_TRUE(l.find(std::string(100, 'x')) != std::string::npos || l.find(std::string(100, 'z')) != std::string::npos);
}

TEST_F(LogFileTest, OldLogsAreDeletedByNameAndAge) {
  const std::string folder = BuildLogDir();
  ASSERT_TRUE(plat::CreateFolders(folder));
  const int64_t day = 86400;
  struct Case { const char* name; int64_t ageSeconds; bool kept; } cases[] = {
      {"Log.log", 30 * day, true},           // shorter than 8 characters
      {"Log_01_02.log", 11 * day, false}, {"Log_01_03.log", 9 * day, true},
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
