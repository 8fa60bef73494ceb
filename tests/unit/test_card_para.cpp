// The card-parameter list: the galvanometer word by scanner type, each packet's packing from the
// configuration keys, the run start value with its clamps, the page that holds the list, and the
// USB firmware value of the compatibility check.
#include <cstdint>
#include <tuple>
#include <vector>

#include "cardlink/card_para.h"
#include "support/trace.h"
#include "test_system_para_fixture.h"

namespace qztest {
namespace {

using Packet = std::tuple<uint32_t, uint32_t, uint32_t>;

TEST(CardParaTest, GalvoWordByScannerType) {
  // Distance limit 7, alarm level 0, no time allowance: G shows the eight letters, L and the
  // feedback flag. Type 1 sets a, b; clears e, f; drops L.
  struct Case { int32_t close, type; uint32_t G; int32_t L; uint32_t wait; } cases[] = {
      {0, 1, 0x2C4, 7, 1},   // feedback off: the type does nothing
      {1, 0, 0x2C6, 7, 1},   // type 0 and 16 are outside 1 .. 15
      {1, 16, 0x2C6, 7, 1},
      {1, 1, 0x22A, 0, 0},
      {1, 2, 0x2CE, 7, 1},
      {1, 3, 0x2F2, 0, 0},
      {1, 4, 0x1CE, 7, 1},
      {1, 5, 0x6E2, 0, 0},
      {1, 6, 0x6F2, 0, 0},
      {1, 7, 0x2C6, 7, 1},
      {1, 14, 0x2C6, 7, 1},
      {1, 15, 0x2AA, 0, 0},
      {3, 2, 0x2CE, 7, 1},   // only bit 0 of the switch goes to the card
  };
  for (const auto& c : cases) {
    QZ_TRACE(testing::Message() << c.close << " type " << c.type);
    SystemPara p{};
    p.bCloseFeedback = c.close;
    p.nScanType = c.type;
    p.nScanFeedbackDisLimit = 7;
    EXPECT_EQ(c.G, GalvoWordG(p));
    EXPECT_EQ(c.L, p.nScanFeedbackDisLimit);
    EXPECT_EQ(c.wait, p.bScanFeedbackWait);
  }
  // The alarm level from bit 11 up, the time allowance x 100 from bit 16 up (OR'ed, not added).
  SystemPara p{};
  p.nScanFeedBackAlarmOkV = 0x1F;
  p.nScanFeedbackTimeAllowMs = 10;
  EXPECT_EQ(0x3E802C0u | (0x1Fu << 11), GalvoWordG(p));
}

TEST(CardParaTest, RunStartUnitsStayWithin1And255) {
  struct Case { double space; int32_t size; uint32_t units; } cases[] = {
      {0.999, 10, 23},   // 23.976, truncated
      {0.8, 10, 19},     // wobble mode: 19.2
      {0.999, 99, 237},
      {0.999, 1, 2},
      {0.01, 1, 1},      // 0.024
      {0.999, 0, 1},
      {1.0, 200, 255},   // 480
      {0.999, -5, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(c.units, RunStartUnits(c.space, c.size)) << c.space << " " << c.size;
}

class CardParaListTest : public SystemParaTest {
 protected:
  std::vector<Packet> Build(const std::string& cfg, double space = 0.999) {
    WriteCfg(cfg);
    g_SystemPara = SystemPara{};
    g_SystemPara.InitPara();
    g_SystemPara.MIRCO_MOVE_VEL = 10;
    CmdBatch batch;
    BuildCardParaCommands(batch, space);
    std::vector<Packet> out;
    for (const CmdPacket& k : batch) out.emplace_back(k.Cmd(), k.P1(), k.P2());
    return out;
  }
};

TEST_F(CardParaListTest, EachPacketFromItsKeys) {
  // Each row changes the keys of one packet; the packet at `index` must read `expected`.
  struct Case { const char* cfg; size_t index; Packet expected; } cases[] = {
      {"[SCAN]\nbCloseFeedback=1\nnScanType=1\nnScanFeedbackDisLimit=9\nnScanFeedbackTimeAllowMs=2\n"
       "nScanFeedBackAlarmOkV=3\n",
       0, {1, 0xC81A2A, 10}},  // the dropped limit goes out in p2 as well
      {"[SCAN]\nnScanFeedbackDisLimit=9\n", 0, {1, 0x3E802C4, (9u << 16) | 10}},
      {"[SCAN]\nnScanFbCheckDst=496\nnScanFbCheckMask=60\n", 1, {7, 0, 0x3C30}},
      {"[SCAN]\nnScanStepLimit=77\n", 2, {8, 77, 0}},
      {"[SCAN]\nbCardNotGridel=3\n", 3, {6, 1, 1}},
      {"[SCAN]\nnArriveTime=9\nnArriveNear=131077\nbScanSpiClose=1\n", 4, {5, 9, 0x10005}},
      {"[SCAN]\nbScanSpiClose=2\n", 4, {5, 20, 20}},
      {"[CCDCOMM]\nTIMEOUT=2\nMODE=13\nEParity=0\nnCCDEven1Odd0=3\nBAUD=70\n", 5, {49, 96000, 0xD0000106}},
      {"[CCDCOMM]\nEParity=2\n", 5, {49, 48000000, 0}},
      {"[Uart]\nnSerialFor3YLPN2Red1CW0none=1\nnUartEven1Odd0=1\n[UartCW]\nBAUD=73\nEParity=1\n", 6, {113, 0, 0x109}},
      {"[Main]\nbIgnoreSubCard=1\n[OTHER]\nnOutRev=3\nscanAdSampleFre10us=255\n[LASER]\nnAdFilter=6\n", 7,
       {36, 0x1000, 0x32F06}},
      {"[LASER]\nOSS_TYPE=1\n[OTHER]\nbEnableSwitchLaserParaWhenLaserOn=0\n", 7, {36, 1, 0x804}},
      {"[Main]\nnRecordMask=5\nbRecordDA=0\nbRecordScan=1\n", 8, {40, 5, 1}},
      {"[LASER]\nLASER_TYPE=1\n[Main]\nnRecordMask=-4194305\n", 8, {40, 0xFFFFFFFF, 3}},
      {"[eBUS]\nnTypeBus=1\npowerBusSel=7\n", 9, {43, 1, 25}},
      {"[eBUS]\npowerBusSel=7\n", 9, {43, 1, 7}},
      {"[OTHER]\ncntPcieLostSubMax=4\n", 10, {43, 2, 4}},
      {"[OTHER]\nbOut3IsSwClosed=1\n", 11, {37, 2, 1}},
      {"[LASER]\nbForbidLaserIOEn=3\nnForbidLaserIOMask=511\n", 12, {37, 4, 0x100FF}},
      {"[LASER]\nLASER_TYPE=1\nbYLS=1\n", 14, {82, 1, 0x800}},
      {"[LASER]\nOSS_TYPE=2\n[OTHER]\nbEnableSwitchLaserParaWhenLaserOn=0\n", 15, {82, 1, 0x1000}},
      {"[LASER]\nOSS_TYPE=2\n", 15, {82, 0, 0x1000}},  // the light-path switch clears IoInFromOss
      {"[LASER]\nOSS_TYPE=2\nIoInFromOss=0\n[OTHER]\nbEnableSwitchLaserParaWhenLaserOn=0\n", 15, {82, 0, 0x1000}},
      {"[LASER]\nOSS_TYPE=3\nIoInFromOss=1\n[OTHER]\nbEnableSwitchLaserParaWhenLaserOn=0\n", 15, {82, 0, 0x1000}},
      {"[LASER]\nbForceSwitchLs=5\n", 16, {82, 1, 0x2000}},
      {"[HARDWARE]\nnBufFullStartSize=0\n", 17, {20, 0, 2}},
      {"[HARDWARE]\nnBufFullStartSize=250\n", 17, {20, 0, 237}},
      {"[HARDWARE]\nOverTimeAlarm=777\n", 18, {84, 0, 777}},
      {"[LASER]\nnLaserOverTimeAlarmIO_idx=5\nnLaserOverTimeAlarmSrcSel=3\nbLaserOverTimeAlarmScanMvEn=1\n"
       "bLaserOverTimeAlarmEn=1\ndbLaserOverTimeAlarmCntMs=12.345\n",
       19, {91, 1331, 1234}},
      {"[Main]\nbRecordWhenMark=1\n", 20, {82, 0, 0x10}},
      {"[Main]\nbRecordWhenMark=2\n", 20, {82, 1, 0x10}},
      {"[OTHER]\nbIn6IsErrorReset=1\n", 21, {82, 1, 0x100000}},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.cfg);
    const auto list = Build(c.cfg);
    ASSERT_EQ(22u, list.size());
    EXPECT_EQ(c.expected, list[c.index]);
  }
  // The rotation axis and the FIFO share come from outside the configuration.
  g_SystemPara.nRotateAxis = 1;
  CmdBatch batch;
  BuildCardParaCommands(batch, 0.8);
  EXPECT_EQ((Packet{82, 1, 0x200}), Packet(batch[13].Cmd(), batch[13].P1(), batch[13].P2()));
  EXPECT_EQ((Packet{20, 0, 19}), Packet(batch[17].Cmd(), batch[17].P1(), batch[17].P2()));
}

TEST(CardParaTest, ThePageHoldsThePacketsInOrderAndItsMarker) {
  for (size_t k : {size_t{0}, size_t{1}, size_t{29}, size_t{127}}) {
    QZ_TRACE(k);
    CmdBatch batch;
    for (size_t i = 0; i < k; ++i) batch.emplace_back(static_cast<uint16_t>(i + 1), 0x11223344, static_cast<uint32_t>(i));
    std::vector<uint8_t> page(2048, 0xEE);
    MakeCardParaBlock(batch, page.data());
    for (size_t i = 0; i < k; ++i) {
      const uint8_t* q = &page[16 * i];
      const std::vector<uint8_t> expected = {0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, static_cast<uint8_t>(i + 1), 0,
                                             0x44, 0x33, 0x22, 0x11, static_cast<uint8_t>(i), 0, 0, 0};
      ASSERT_EQ(expected, std::vector<uint8_t>(q, q + 16)) << i;
    }
    for (size_t b = 16 * k; b < 2047; ++b) ASSERT_EQ(0, page[b]) << b;
    EXPECT_EQ(0xA5, page[2047]);
  }
  CmdBatch tooMany(128, CmdPacket(1, 2, 3));
  std::vector<uint8_t> page(2048, 0xEE);
  try {
    MakeCardParaBlock(tooMany, page.data());
    ADD_FAILURE() << "128 packets taken";
  } catch (const MyException& e) {
    EXPECT_EQ(RV_ERROR, e.code);
  }
  EXPECT_EQ(0xEE, page[0]);
}

TEST(CardParaTest, UsbFirmwareValue) {
  struct Case { uint8_t b0, b1; int32_t value; bool accepted; } cases[] = {
      {0x01, 0x00, 0x100, true},        // the simulated card's default
      {0x00, 0x00, 0, false},
      {0x30, 0xF8, 0x30, true},         // (0xF8 + 8) & 31 = 0
      {0x2F, 0xF8, 0x2F, false},
      {0x80, 0x00, -32768, false},      // b0 is signed
      {0xFF, 0xF8, -1, false},
      {0x01, 0x17, INT32_MIN, false},   // shift 31: the value turns negative
      {0x03, 0x15, 0x60000000, true},   // shift 29
      {0x01, 0x18, 0x1, false},         // (0x18 + 8) & 31 = 0
  };
  for (const auto& c : cases) {
    QZ_TRACE(testing::Message() << int{c.b0} << " " << int{c.b1});
    EXPECT_EQ(c.value, UsbFirmwareValue(c.b0, c.b1));
    EXPECT_EQ(c.accepted, UsbFirmwareValue(c.b0, c.b1) >= kMinUsbFirmware);
  }
}

}  // namespace
}  // namespace qztest
