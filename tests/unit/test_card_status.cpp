// Status decoding and the alarm and galvanometer texts that need no card exchange.
#include <gtest/gtest.h>

#include <cstring>

#include "cardlink/card_cmd.h"
#include "cardlink/card_status.h"
#include "frame/errors.h"
#include "frame/system_para.h"
#include "support/expect_code.h"

namespace {

class LanguageScope {
 public:
  explicit LanguageScope(uint8_t zh) { g_bLangZh = zh; }
  ~LanguageScope() { g_bLangZh = 0; }
};

TEST(CardStatusDecode, LegacyCardsOnlyShowRunStateAndTwoAlarms) {
  const CardStatus s = DecodeCardStatus(0xFFFFFFFF, 0xFFFFFFFF, false);
  EXPECT_EQ(s.connected, 1u);
  EXPECT_EQ(s.runState, 7u);
  EXPECT_EQ(s.running, 1);
  EXPECT_EQ(s.cardTaskId, 0u);
  EXPECT_EQ(s.subState, 0u);
  EXPECT_EQ(s.offline, 0);
  EXPECT_EQ(s.laserAlarm, 0u);
  for (int b = 0; b < 32; ++b) EXPECT_EQ(s.bAlarm[b], (b == 10 || b == 11) ? 1 : 0) << b;
}

TEST(CardStatusDecode, NumberedCardsDecodeEveryField) {
  // r1: task id 9 in bits 21-25, sub-state 5 in bits 16-20, offline bit 26.
  const uint32_t r1 = (9u << 21) | (5u << 16) | (1u << 26);
  const CardStatus s = DecodeCardStatus(0x4 | (1u << 13) | (1u << 25), r1, true);
  EXPECT_EQ(s.cardTaskId, 9u);
  EXPECT_EQ(s.subState, 5u);
  EXPECT_EQ(s.offline, 1);
  EXPECT_EQ(s.runState, 4u);
  EXPECT_EQ(s.running, 0);
  EXPECT_EQ(s.bAlarm[13], 1);
  EXPECT_EQ(s.bAlarm[25], 1);
  EXPECT_EQ(s.bAlarm[7], 0);  // bit 7 belongs to the laser field
}

TEST(CardStatusDecode, LaserAlarmField) {
  struct Case {
    uint32_t r0, r1, field;
  } cases[] = {
      {1u << 7, 8u << 27, 17},   // bit 7 with r1 bits 27-31 = 0b01000
      {0, 8u << 27, 16},
      {1u << 7, 0, 1},
      {1u << 7, 31u << 27, 63},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeCardStatus(c.r0, c.r1, true).laserAlarm, c.field);
}

TEST(CardStatusDecode, WhichBitsCountAsAlarms) {
  for (int b = 0; b < 32; ++b) {
    const bool counts = b == 4 || b == 5 || b == 6 || (b >= 10 && b <= 22) || b == 24 || b >= 28;
    const bool laser = b == 7;  // the laser field is nonzero
    EXPECT_EQ(DecodeCardStatus(1u << b, 0, true).AnyFlagSet(), counts || laser) << b;
  }
}

TEST(CardAlarmText, PlainAlarmsInOrderInBothLanguages) {
  CardStatus s = DecodeCardStatus((1u << 31) | (1u << 10) | (1u << 4) | (1u << 24) | (1u << 14), 0, true);
  {
    LanguageScope en(0);
    std::string text;
    FormatCardAlarm(s, text);
    EXPECT_EQ(text,
              "Spectral system alarm, output distance too small (can be cleared)\r\n"
              "Offline flash not initialized (Tools ->Initial Reset)\r\n"
              "The secondary card connection is lost, causing the operation to stop (can be cleared)\r\n"
              "Buffer data stream validation error, causing the run to abort (can be cleared)\r\n"
              "Platform collision limit causing stop (can be cleared)\r\n");
  }
  {
    LanguageScope zh(1);
    std::string text = "前:";
    FormatCardAlarm(s, text);
    EXPECT_EQ(text,
              "前:分光系统报警，出光间距过小（可清除）\r\n"
              "脱机flash未初始化（工具->初始复位）\r\n"
              "副卡连接丢失，导致运行中止（可清除）\r\n"
              "缓冲区数据流校验错误，导致运行中止（可清除）\r\n"
              "平台碰限位导致停止（可清除）\r\n");
  }
}

TEST(GalvoAlarmText, FeedbackWords) {
  LanguageScope en(0);
  g_SystemPara.nScanType = 0;
  struct Case {
    uint32_t w0, w1;
    std::string text;
  } cases[] = {
      {0, 0x11, ""},
      {0, 0x02, ">>>>>>Scan not feedBack OverTime\r\n"},
      {0, 0x20 | 0x0C, ">>>>>>Scan not feedBack OverTime\r\n"},
      {0, 0x0C | 0x11 | 0xFC0, ">>>>>>Scan Position Follow Out Of Range\r\n"},
      {0, 0x0C,
       ">>>>>>Scan Position Follow Out Of Range\r\n>>>>>>Scan Alarm initiative\r\n"
       ">>>>>>Galvanometer power alarm\r\n>>>>>>Galvanometer motor alarm\r\n>>>>>>Galvanometer status alarm\r\n"
       ">>>>>>Galvanometer data alarm\r\n>>>>>>Galvanometer X axis alarm\r\n>>>>>>Galvanometer Y axis alarm\r\n"},
      {0, 0x01 | 0xFC0, ">>>>>>Scan Alarm initiative\r\n"},
  };
  for (const Case& c : cases) {
    std::string text;
    FormatGalvoAlarm(c.w0, c.w1, text);
    EXPECT_EQ(text, c.text) << std::hex << c.w1;
  }
}

TEST(GalvoAlarmText, SerialGalvanometersReportBothAxes) {
  LanguageScope zh(1);
  g_SystemPara.nScanType = 2;
  // packed = (w0 << 26) | (w1 >> 6): X = 0xFFFF (every pair set), Y = 0xFBFB (pair 0x404 clear).
  const uint32_t packed = 0xFBFBFFFFu;
  const uint32_t w0 = packed >> 26;
  const uint32_t w1 = (packed << 6) | 0x01;  // bit 0 alone: no timeout, no follow line
  std::string text;
  FormatGalvoAlarm(w0, w1, text);
  EXPECT_EQ(text, "》》》振镜主动报警\r\n》》》X=ffff\r\n》》》Y=fbfb\r\n》》》自动校准传感器未激活\r\n");
  g_SystemPara.nScanType = 0;
}

TEST(CommandPacket, BytesOnTheWire) {
  CmdPacket p(CMD_SET_FLAG, 3, 0x200);
  const uint8_t expected[16] = {0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0x52, 0x00,
                                0x03, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00};
  EXPECT_EQ(0, std::memcmp(p.bytes.data(), expected, 16));
  EXPECT_EQ(p.Cmd(), CMD_SET_FLAG);
  EXPECT_EQ(p.P1(), 3u);
  EXPECT_EQ(p.P2(), 0x200u);
}

TEST(CommandPacket, QueuedCommandsKeepTheirOrderAndNeverTouchTheCard) {
  CmdBatch batch;
  EXPECT_TRUE(SendOrQueueCmd(CMD_OUTPUT, 1, 2, &batch));
  EXPECT_TRUE(SendOrQueueCmd(0x2055, 3, 4, &batch));
  ASSERT_EQ(batch.size(), 2u);
  EXPECT_EQ(batch[0].Cmd(), CMD_OUTPUT);
  EXPECT_EQ(batch[1].Cmd(), 0x2055);
  EXPECT_EQ(batch[1].P2(), 4u);
  // Without a batch and without an open card the command fails like any exchange: code 1.
  qztest::ExpectLost([] { SendOrQueueCmd(CMD_OUTPUT, 1, 2, nullptr); });
}

}  // namespace
