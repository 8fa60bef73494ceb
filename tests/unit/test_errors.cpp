// Error texts from the language file, the language flag, the exception's report and the export
// wrapper that turns every exception into a code.
#include <gtest/gtest.h>

#include <stdexcept>

#include "frame/errors.h"
#include "frame/export_call.h"
#include "platform/files.h"
#include "support/lib_folder.h"

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
  EXPECT_EQ(GetErrText(0), "OK");
  EXPECT_EQ(GetErrText(2), "Error");
  EXPECT_EQ(GetErrText(1), "Card is not connected");
  EXPECT_EQ(GetErrText(38), "Out of memory");
  EXPECT_EQ(GetErrText(10), "Cannot open the box file");
  EXPECT_EQ(GetErrText(20), std::string(255, 'm'));  // cut to 255 bytes
  EXPECT_EQ(GetErrText(3), "");                      // key missing from the file
  EXPECT_EQ(GetErrText(4), "");                      // code 4 has no text
  EXPECT_EQ(GetErrText(41), "");
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

}  // namespace
