// The card-version settings: recording on a fresh configuration with the flash area map, refusing a
// card that no longer fits, and the extended command numbers.
#include "test_system_para_fixture.h"

namespace qztest {
namespace {

using CardVersionTest = SystemParaTest;

TEST_F(CardVersionTest, FreshConfigurationRecordsWhatTheVersionFixes) {
  struct Case { uint32_t version; int32_t justM25p64, cmdWithNum, newBoxCali, checkType; } cases[] = {
      {85, 1, 1, 1, 1}, {96, 1, 1, 1, 2}, {95, 1, 1, 1, 1}, {80, 1, 1, 1, 1}, {79, 1, 1, 0, 0},
      {64, 1, 1, 0, 0}, {63, 1, 0, 0, 0}, {56, 1, 0, 0, 0}, {55, 0, 0, 0, 0}, {0, 0, 0, 0, 0},
      {0xFFFFFFFFu, 1, 1, 1, 2},
  };
  for (const Case& c : cases) {
    WriteCfg("");
    g_SystemPara = SystemPara{};
    ASSERT_TRUE(g_SystemPara.CheckCardVersionCfg(c.version)) << c.version;
    const SystemPara& p = g_SystemPara;
    EXPECT_EQ(p.bJustM25p64, c.justM25p64) << c.version;
    EXPECT_EQ(p.bCmdWithNum, c.cmdWithNum) << c.version;
    EXPECT_EQ(p.bNewBoxCali, c.newBoxCali) << c.version;
    EXPECT_EQ(p.nBufDataCheckType, c.checkType) << c.version;
    EXPECT_EQ(p.bConfiguration, 1) << c.version;
    // The flash area map of the serial flash, or of the NAND below version 56.
    const FlashAreaMap spi{0x100000, 0x130000, 0x110000, 0x120000, 0x140000, 0x10000, 0, 0x50000};
    const FlashAreaMap nand{0x100000, 0x1DA00, 0x1C000, 0x1C200, 0x1D000, 0x200, 0x1C600, 0x1CA00};
    EXPECT_TRUE(g_FlashAreaMap == (c.justM25p64 ? spi : nand)) << c.version;

    // Written in this order, bConfiguration last.
    const std::string text = ReadCfg();
    const size_t a = text.find("bJustM25p64=" + std::to_string(c.justM25p64));
    const size_t b = text.find("bCmdWithNum=" + std::to_string(c.cmdWithNum));
    const size_t n = text.find("bNewBoxCali=" + std::to_string(c.newBoxCali));
    const size_t t = text.find("nBufDataCheckType=" + std::to_string(c.checkType));
    const size_t f = text.find("bConfiguration=1");
    ASSERT_NE(f, std::string::npos) << text;
    EXPECT_TRUE(a < b && b < n && n < t && t < f) << text;
    EXPECT_EQ(text.find("bHaveNandFlash"), std::string::npos) << text;

    // The next opening of the same card verifies and accepts it without writing.
    ASSERT_TRUE(g_SystemPara.CheckCardVersionCfg(c.version)) << c.version;
    EXPECT_EQ(ReadCfg(), text);
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(CardVersionTest, MismatchIsRefusedWithABoxAndNothingWritten) {
  const std::string recorded85 =
      "[Main]\nbConfiguration=1\nbJustM25p64=1\nbCmdWithNum=1\nbNewBoxCali=1\nnBufDataCheckType=1\n";
  const std::string en =
      "topmost ok: The card version recorded by the software does not match the current card version. "
      "Please apply a V6 patch or reinstall the software.";
  const std::string zh = "topmost ok: 软件记录的卡版本与当前卡版本不匹配，请重新打V6补丁或重装软件";
  struct Case { uint32_t version; uint8_t langZh; const std::string* box; } cases[] = {
      {96, 0, &en},  // check layout differs
      {79, 1, &zh},  // box calibration and check layout differ
      {63, 0, &en},  // plain command numbers differ
      {55, 0, &en},  // flash layout differs
  };
  for (const Case& c : cases) {
    WriteCfg(recorded85);
    ClearLogs();
    g_bLangZh = c.langZh;
    g_FlashAreaMap = FlashAreaMap{};
    g_CmdNumTable = CmdNumTable{};
    EXPECT_FALSE(g_SystemPara.CheckCardVersionCfg(c.version)) << c.version;
    EXPECT_EQ(Boxes(), std::vector<std::string>{*c.box}) << c.version;
    EXPECT_EQ(ReadCfg(), recorded85) << c.version;
    // Nothing after the check ran.
    EXPECT_EQ(g_FlashAreaMap.nUserPage, 0u) << c.version;
    EXPECT_EQ(g_CmdNumTable.num[0], 0u) << c.version;
  }
}

TEST_F(CardVersionTest, NandFlashKeyIsNeverCompared) {
  const std::string recorded =
      "[Main]\nbConfiguration=1\nbJustM25p64=1\nbCmdWithNum=1\nbNewBoxCali=1\nnBufDataCheckType=1\n"
      "bHaveNandFlash=7\n";
  WriteCfg(recorded);
  EXPECT_TRUE(g_SystemPara.CheckCardVersionCfg(85));
  EXPECT_EQ(g_SystemPara.bHaveNandFlash, 7);
  EXPECT_EQ(ReadCfg(), recorded);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(CardVersionTest, ExtendedCommandNumbers) {
  struct Case { uint32_t version; uint32_t n; uint32_t sent; } cases[] = {
      {63, 288, 0x2055}, {63, 289, 0x2155}, {63, 297, 0x2955}, {63, 309, 0x3555}, {63, 329, 0x4955}, {63, 330, 0x4A55},
      {64, 288, 288},    {64, 289, 289},    {64, 330, 330},
      // Always plain, and numbers outside the table pass unchanged.
      {63, 334, 334},    {63, 336, 336},    {63, 337, 337},    {63, 296, 296},
  };
  for (const Case& c : cases) {
    WriteCfg("");
    ASSERT_TRUE(g_SystemPara.CheckCardVersionCfg(c.version));
    EXPECT_EQ(g_CmdNumTable.Of(c.n), c.sent) << c.version << " " << c.n;
  }
}

}  // namespace
}  // namespace qztest
