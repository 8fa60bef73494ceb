// The card-parameter list: galvanometer word, each packet from its keys, the USB firmware check, card versions.
#include <cstdint>
#include <tuple>
#include <vector>

#include "cardlink/card_para.h"
#include "frame/conv.h"
#include "support/trace.h"
#include "test_system_para_fixture.h"

namespace qztest {
namespace {

using Packet = std::tuple<uint32_t, uint32_t, uint32_t>;

TEST(CardParaTest, GalvoWordByScannerTypeAndUsbFirmwareValue) {
  // Distance limit 7, no alarm level, no time allowance.
  struct Case { int32_t close, type; uint32_t G; int32_t L; uint32_t wait; } cases[] = {
      {0, 1, 0x2C4, 7, 1},  {1, 0, 0x2C6, 7, 1},  {1, 16, 0x2C6, 7, 1}, {1, 1, 0x22A, 0, 0}, {1, 2, 0x2CE, 7, 1},
      {1, 3, 0x2F2, 0, 0},  {1, 4, 0x1CE, 7, 1},  {1, 5, 0x6E2, 0, 0},  {1, 6, 0x6F2, 0, 0}, {1, 7, 0x2C6, 7, 1},
      {1, 14, 0x2C6, 7, 1}, {1, 15, 0x2AA, 0, 0}, {3, 2, 0x2CE, 7, 1},
  };
  for (const auto& c : cases) {
    QZ_TRACE(testing::Message() << c.close << " type " << c.type);
    SystemPara p{};
    p.bCloseFeedback = c.close;
    p.nScanType = c.type;
    p.nScanFeedbackDisLimit = 7;
    const uint32_t G = GalvoWordG(p);  // sets the limit and the wait flag as well
    EXPECT_EQ(std::tuple(c.G, c.L, c.wait), std::tuple(G, p.nScanFeedbackDisLimit, p.bScanFeedbackWait));
  }
  // The USB firmware value of the compatibility check.
  struct UsbCase { uint8_t b0, b1; int32_t value; } usb[] = {
      {0x01, 0x00, 0x100}, {0x30, 0xF8, 0x30},         {0x2F, 0xF8, 0x2F},       {0x80, 0x00, -32768},
      {0x01, 0x17, INT32_MIN}, {0x03, 0x15, 0x60000000}, {0x01, 0x18, 0x1},
  };
  for (const auto& c : usb) EXPECT_EQ(c.value, UsbFirmwareValue(c.b0, c.b1)) << int{c.b0} << " " << int{c.b1};
}

TEST_F(SystemParaTest, CardParaListEachPacketFromItsKeys) {
  struct Case { const char* cfg; size_t index; Packet expected; } cases[] = {
      {"[SCAN]\nbCloseFeedback=1\nnScanType=1\nnScanFeedbackDisLimit=9\nnScanFeedbackTimeAllowMs=2\n"
       "nScanFeedBackAlarmOkV=3\n",
       0, {1, 0xC81A2A, 10}},  // the dropped limit goes out in p2 as well
      {"[SCAN]\nnScanFeedbackDisLimit=9\n", 0, {1, 0x3E802C4, (9u << 16) | 10}},
      {"[SCAN]\nnScanFbCheckDst=496\nnScanFbCheckMask=60\n", 1, {7, 0, 0x3C30}},
      {"[SCAN]\nbCardNotGridel=3\n", 3, {6, 1, 1}},
      {"[SCAN]\nnArriveTime=9\nnArriveNear=131077\nbScanSpiClose=1\n", 4, {5, 9, 0x10005}},
      {"[SCAN]\nbScanSpiClose=2\n", 4, {5, 20, 20}},
      {"[CCDCOMM]\nTIMEOUT=2\nMODE=13\nEParity=0\nnCCDEven1Odd0=3\nBAUD=70\n", 5, {49, 96000, 0xD0000106}},
      {"[Uart]\nnSerialFor3YLPN2Red1CW0none=1\nnUartEven1Odd0=1\n[UartCW]\nBAUD=73\nEParity=1\n", 6, {113, 0, 0x109}},
      {"[Main]\nbIgnoreSubCard=1\n[OTHER]\nnOutRev=3\nscanAdSampleFre10us=255\n[LASER]\nnAdFilter=6\n", 7,
       {36, 0x1000, 0x32F06}},  // the sampling period masked with 47
      {"[LASER]\nOSS_TYPE=1\n[OTHER]\nbEnableSwitchLaserParaWhenLaserOn=0\n", 7, {36, 1, 0x804}},
      {"[Main]\nnRecordMask=5\nbRecordDA=0\nbRecordScan=1\n", 8, {40, 5, 1}},
      {"[eBUS]\nnTypeBus=1\npowerBusSel=7\n", 9, {43, 1, 25}}, {"[eBUS]\npowerBusSel=7\n", 9, {43, 1, 7}},
      {"[LASER]\nbForbidLaserIOEn=3\nnForbidLaserIOMask=511\n", 12, {37, 4, 0x100FF}},
      {"[LASER]\nLASER_TYPE=1\nbYLS=1\n", 14, {82, 1, 0x800}},
      {"[LASER]\nOSS_TYPE=2\n[OTHER]\nbEnableSwitchLaserParaWhenLaserOn=0\n", 15, {82, 1, 0x1000}},
      {"[LASER]\nOSS_TYPE=2\n", 15, {82, 0, 0x1000}},  // the light-path switch clears IoInFromOss
      {"[LASER]\nbForceSwitchLs=5\n", 16, {82, 1, 0x2000}}, {"[HARDWARE]\nnBufFullStartSize=0\n", 17, {20, 0, 2}},
      {"[HARDWARE]\nnBufFullStartSize=250\n", 17, {20, 0, 237}},
      {"[LASER]\nnLaserOverTimeAlarmIO_idx=5\nnLaserOverTimeAlarmSrcSel=3\nbLaserOverTimeAlarmScanMvEn=1\n"
       "bLaserOverTimeAlarmEn=1\ndbLaserOverTimeAlarmCntMs=12.345\n",
       19, {91, 1331, 1234}},
      {"[Main]\nbRecordWhenMark=1\n", 20, {82, 0, 0x10}}, {"[Main]\nbRecordWhenMark=2\n", 20, {82, 1, 0x10}},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.cfg);
    WriteCfg(c.cfg);
    g_SystemPara = SystemPara{};
    g_SystemPara.InitPara();
    g_SystemPara.MIRCO_MOVE_VEL = 10;
    CmdBatch batch;
    BuildCardParaCommands(batch, 0.999);
    ASSERT_EQ(22u, batch.size());
    EXPECT_EQ(c.expected, Packet(batch[c.index].Cmd(), batch[c.index].P1(), batch[c.index].P2()));
  }
  // The rotation axis and the FIFO share come from outside the configuration (wobble mode: 0.8).
  g_SystemPara.nRotateAxis = 1;
  CmdBatch batch;
  BuildCardParaCommands(batch, 0.8);
  EXPECT_EQ((Packet{82, 1, 0x200}), Packet(batch[13].Cmd(), batch[13].P1(), batch[13].P2()));
  EXPECT_EQ((Packet{20, 0, 19}), Packet(batch[17].Cmd(), batch[17].P1(), batch[17].P2()));
  EXPECT_EQ(255u, RunStartUnits(1.0, 200));
}

// ---- the card-version settings: recording, refusing a card that no longer fits, extended commands

TEST_F(SystemParaTest, CardVersionFreshConfigurationRecordsWhatTheVersionFixesAndAMismatchIsRefused) {
  struct Case { uint32_t version; int32_t justM25p64, cmdWithNum, newBoxCali, checkType; } cases[] = {
      {96, 1, 1, 1, 2}, {95, 1, 1, 1, 1}, {80, 1, 1, 1, 1}, {79, 1, 1, 0, 0}, {64, 1, 1, 0, 0},
      {63, 1, 0, 0, 0}, {56, 1, 0, 0, 0}, {55, 0, 0, 0, 0}, {0xFFFFFFFFu, 1, 1, 1, 2},
  };
  for (const Case& c : cases) {
    WriteCfg("");
    g_SystemPara = SystemPara{};
    ASSERT_TRUE(g_SystemPara.CheckCardVersionCfg(c.version)) << c.version;
    const SystemPara& p = g_SystemPara;
    EXPECT_EQ(std::tuple(p.bJustM25p64, p.bCmdWithNum, p.bNewBoxCali, p.nBufDataCheckType, p.bConfiguration),
              std::tuple(c.justM25p64, c.cmdWithNum, c.newBoxCali, c.checkType, 1)) << c.version;
    // The flash area map of the serial flash, or of the NAND below version 56.
    const FlashAreaMap spi{0x100000, 0x130000, 0x110000, 0x120000, 0x140000, 0x10000, 0, 0x50000};
    const FlashAreaMap nand{0x100000, 0x1DA00, 0x1C000, 0x1C200, 0x1D000, 0x200, 0x1C600, 0x1CA00};
    EXPECT_TRUE(g_FlashAreaMap == (c.justM25p64 ? spi : nand)) << c.version;
    // Written in this order, bConfiguration last.
    std::string text = ReadCfg();
    std::erase(text, '\r');
    EXPECT_EQ(text, StrFormat("[Main]\nbJustM25p64=%d\nbCmdWithNum=%d\nbNewBoxCali=%d\nnBufDataCheckType=%d\n"
                              "bConfiguration=1\n",
                              c.justM25p64, c.cmdWithNum, c.newBoxCali, c.checkType));
    // The next opening of the same card verifies and accepts it without writing.
    text = ReadCfg();
    ASSERT_TRUE(g_SystemPara.CheckCardVersionCfg(c.version)) << c.version;
    EXPECT_EQ(ReadCfg(), text);
  }
  EXPECT_TRUE(Boxes().empty());
  // The extended command numbers.
  struct ExtCase { uint32_t version; uint32_t n; uint32_t sent; } exts[] = {
      {63, 288, 0x2055}, {63, 289, 0x2155}, {63, 297, 0x2955}, {63, 309, 0x3555}, {63, 329, 0x4955},
      {63, 330, 0x4A55}, {64, 288, 288},    {64, 330, 330},
      // Numbers outside the table pass unchanged.
      {63, 287, 287},    {63, 296, 296},    {63, 331, 331},
  };
  for (const ExtCase& c : exts) {
    WriteCfg("");
    ASSERT_TRUE(g_SystemPara.CheckCardVersionCfg(c.version));
    EXPECT_EQ(g_CmdNumTable.Of(c.n), c.sent) << c.version << " " << c.n;
  }
  // A recorded configuration is checked key by key; bHaveNandFlash is never compared.
  const std::string recorded85 = "[Main]\nbConfiguration=1\nbJustM25p64=1\nbCmdWithNum=1\nbNewBoxCali=1\n"
                                 "nBufDataCheckType=1\nbHaveNandFlash=7\n";
  const std::string en =
      "topmost ok: The card version recorded by the software does not match the current card version. "
      "Please apply a V6 patch or reinstall the software.";
  const std::string zh = "topmost ok: 软件记录的卡版本与当前卡版本不匹配，请重新打V6补丁或重装软件";
  struct MismatchCase { uint32_t version; uint8_t langZh; const std::string* box; } mismatches[] = {
      {85, 0, nullptr},  // accepted
      {96, 0, &en},      // check layout differs
      {79, 1, &zh},      // box calibration and check layout differ
      {63, 0, &en},      // plain command numbers differ
      {55, 0, &en},      // flash layout differs
  };
  for (const MismatchCase& c : mismatches) {
    WriteCfg(recorded85);
    ClearLogs();
    g_bLangZh = c.langZh;
    g_FlashAreaMap = FlashAreaMap{};
    g_CmdNumTable = CmdNumTable{};
    EXPECT_EQ(g_SystemPara.CheckCardVersionCfg(c.version), c.box == nullptr) << c.version;
    EXPECT_EQ(Boxes(), c.box ? std::vector<std::string>{*c.box} : std::vector<std::string>{}) << c.version;
    EXPECT_EQ(ReadCfg(), recorded85) << c.version;
    // Nothing after a refused check ran.
    EXPECT_EQ(g_FlashAreaMap.nUserPage == 0, c.box != nullptr) << c.version;
    EXPECT_EQ(g_CmdNumTable.num[0] == 0, c.box != nullptr) << c.version;
  }
}

}  // namespace
}  // namespace qztest
