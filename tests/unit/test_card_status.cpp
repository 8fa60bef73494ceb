// Status decoding, the command packet, every alarm text in both languages, and one watchdog round.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "cardlink/card_cmd.h"
#include "cardlink/card_status.h"
#include "cardlink/watchdog.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/system_para.h"
#include "support/expect_code.h"

namespace {

// The alarm text of a status, appended to `text`.
std::string CardAlarm(uint32_t r0, uint32_t r1, uint8_t zh, std::string text = "") {
  g_SystemPara.nCardVersion = 0;  // no galvanometer query
  g_bLangZh = zh;
  FormatCardAlarm(DecodeCardStatus(r0, r1, true), text);
  g_bLangZh = 0;
  return text;
}

std::string GalvoAlarm(int32_t scanType, uint32_t w0, uint32_t w1, uint8_t zh) {
  g_SystemPara.nScanType = scanType;
  g_bLangZh = zh;
  std::string text;
  FormatGalvoAlarm(w0, w1, text);
  g_bLangZh = 0;
  g_SystemPara.nScanType = 0;
  return text;
}

bool Ascii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](unsigned char c) { return c < 0x80; });
}

TEST(CardStatusDecode, FieldsOfLegacyAndNumberedCardsAndWhichBitsAreAlarms) {
  // A legacy card shows only the run state and the alarms of bits 10 and 11.
  CardStatus s = DecodeCardStatus(0xFFFFFFFF, 0xFFFFFFFF, false);
  EXPECT_EQ(std::tuple(s.connected, s.runState, s.running, s.cardTaskId, s.subState, s.offline, s.laserAlarm),
            std::tuple(1u, 7u, uint8_t{1}, 0u, 0u, uint8_t{0}, 0u));
  for (int b = 0; b < 32; ++b) EXPECT_EQ(s.bAlarm[b], (b == 10 || b == 11) ? 1 : 0) << b;
  // r1: task id 9 in bits 21-25, sub-state 5 in bits 16-20, offline bit 26.
  s = DecodeCardStatus(0x4 | (1u << 13) | (1u << 25), (9u << 21) | (5u << 16) | (1u << 26), true);
  EXPECT_EQ(std::tuple(s.cardTaskId, s.subState, s.offline, s.runState, s.running),
            std::tuple(9u, 5u, uint8_t{1}, 4u, uint8_t{0}));
  EXPECT_EQ(std::tuple(s.bAlarm[13], s.bAlarm[25], s.bAlarm[7]), std::tuple(1, 1, 0));  // bit 7: the laser field
  // The laser alarm field: r0 bit 7 below r1 bits 27-31: {r0, r1, field}.
  const uint32_t cases[][3] = {{1u << 7, 8u << 27, 17}, {0, 8u << 27, 16}, {1u << 7, 0, 1}, {1u << 7, 31u << 27, 63}};
  for (const auto& c : cases) EXPECT_EQ(DecodeCardStatus(c[0], c[1], true).laserAlarm, c[2]);
  for (int b = 0; b < 32; ++b) {
    const bool counts = b == 4 || b == 5 || b == 6 || (b >= 10 && b <= 22) || b == 24 || b >= 28;
    const bool laser = b == 7;  // the laser field is nonzero
    EXPECT_EQ(DecodeCardStatus(1u << b, 0, true).AnyFlagSet(), counts || laser) << b;
  }
}

// Status r0 bits with an alarm line, in shown order; the laser's (field 17: r0 bit 7, r1 27-31 = 8) before bit 5's.
const int kShownOrder[] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 28, 29, 30, 31, 4, 24, 6, 5};
constexpr uint32_t kLaserR0 = 1u << 7, kLaserR1 = 8u << 27;

TEST(AlarmTexts, EveryAlarmBitAndGalvanometerFeedbackHasALineOfItsOwnInBothLanguages) {
  std::set<std::string> seen[2];
  std::string all[2];
  for (int bit : kShownOrder) {
    for (uint8_t zh : {0, 1}) {
      if (bit == 5) all[zh] += CardAlarm(kLaserR0, kLaserR1, zh);
      const std::string text = CardAlarm(1u << bit, 0, zh);
      EXPECT_FALSE(text.empty()) << "bit " << bit << " zh " << int(zh);
      EXPECT_EQ(Ascii(text), zh == 0) << "bit " << bit << " zh " << int(zh);
      EXPECT_TRUE(seen[zh].insert(text).second) << "bit " << bit << " shares its line";
      all[zh] += text;
    }
  }
  for (int bit : {0, 1, 2, 3, 8, 9, 23, 25, 26, 27}) EXPECT_EQ(CardAlarm(1u << bit, 0, 0), "") << "bit " << bit;
  EXPECT_EQ(CardAlarm(kLaserR0, 0, 0), "");  // a laser field other than 17 is no laser alarm
  uint32_t r0 = kLaserR0;
  for (int bit : kShownOrder) r0 |= 1u << bit;
  for (uint8_t zh : {0, 1}) EXPECT_EQ(CardAlarm(r0, kLaserR1, zh), all[zh]);
  // Every galvanometer feedback line in both languages.
  const std::string head[2] = {">>>>>>Scan Alarm initiative\r\n", "》》》振镜主动报警\r\n"};
  EXPECT_EQ(GalvoAlarm(0, 0, 0xFC0 & ~0x40u, 1), head[1] + "》》》振镜电源报警\r\n");
  std::set<std::string> lines;
  for (uint8_t zh : {0, 1}) {
    // Scanner type 0: each clear bit of 0x40..0x800 names its alarm.
    for (uint32_t bit = 0x40; bit <= 0x800; bit <<= 1) {
      const std::string text = GalvoAlarm(0, 0, 0xFC0 & ~bit, zh);
      ASSERT_EQ(text.rfind(head[zh], 0), 0u) << bit;
      EXPECT_TRUE(lines.insert(text.substr(head[zh].size())).second) << bit;
      EXPECT_EQ(Ascii(text), zh == 0) << bit;
    }
    // Serial scanners: X and Y words, each followed by the lines of its clear pairs (X = all but one).
    for (uint32_t mask : {0x404u, 0x808u, 0x1010u, 0x2020u, 0x4040u, 0x8080u}) {
      const uint32_t packed = 0xFFFF0000u | (0xFFFFu & ~mask);
      const std::string text = GalvoAlarm(15, packed >> 26, (packed << 6) | 0x01, zh);
      const std::string x = head[zh] + StrFormat("》》》X=%x\r\n", 0xFFFFu & ~mask), y = "》》》Y=ffff\r\n";
      ASSERT_EQ(text.rfind(x, 0), 0u) << mask;
      ASSERT_GT(text.size(), x.size() + y.size());
      EXPECT_EQ(text.substr(text.size() - y.size()), y) << mask;
      const std::string line = text.substr(x.size(), text.size() - y.size() - x.size());
      EXPECT_TRUE(lines.insert(line).second) << mask;
      EXPECT_EQ(Ascii(line), zh == 0) << mask;
    }
  }
  EXPECT_EQ(lines.size(), 24u);
}

TEST(AlarmTexts, PlainAndGalvanometerAlarmsWordForWord) {
  const uint32_t r0 =
      kLaserR0 | (1u << 31) | (1u << 10) | (1u << 4) | (1u << 24) | (1u << 14) | (1u << 13) | (1u << 30);
  EXPECT_EQ(CardAlarm(r0, kLaserR1, 0),
            "Spectral system alarm, output distance too small (can be cleared)\r\n"
            "Board receiving and issuing instructions error (can be cleared)\r\n"
            "Offline flash not initialized (Tools ->Initial Reset)\r\n"
            "Secondary card connection lost\r\n"
            "The secondary card connection is lost, causing the operation to stop (can be cleared)\r\n"
            "Buffer data stream validation error, causing the run to abort (can be cleared)\r\n"
            "Platform collision limit causing stop (can be cleared)\r\n"
            "Laser alarm (can be cleared)\r\n");
  EXPECT_EQ(CardAlarm(r0, kLaserR1, 1, "前:"),  // appended to the text so far
            "前:分光系统报警，出光间距过小（可清除）\r\n"
            "板卡接收下发指令出错（可清除）\r\n"
            "脱机flash未初始化（工具->初始复位）\r\n"
            "副卡连接丢失\r\n"
            "副卡连接丢失，导致运行中止（可清除）\r\n"
            "缓冲区数据流校验错误，导致运行中止（可清除）\r\n"
            "平台碰限位导致停止（可清除）\r\n"
            "激光器报警（可清除）\r\n");
  // The galvanometer feedback words.
  struct Case { uint32_t w1; std::string text; } cases[] = {
      {0x11, ""},
      {0x02, ">>>>>>Scan not feedBack OverTime\r\n"},
      {0x20 | 0x0C, ">>>>>>Scan not feedBack OverTime\r\n"},
      {0x0C | 0x11 | 0xFC0, ">>>>>>Scan Position Follow Out Of Range\r\n"},
      {0x0C,
       ">>>>>>Scan Position Follow Out Of Range\r\n>>>>>>Scan Alarm initiative\r\n"
       ">>>>>>Galvanometer power alarm\r\n>>>>>>Galvanometer motor alarm\r\n>>>>>>Galvanometer status alarm\r\n"
       ">>>>>>Galvanometer data alarm\r\n>>>>>>Galvanometer X axis alarm\r\n>>>>>>Galvanometer Y axis alarm\r\n"},
      {0x01 | 0xFC0, ">>>>>>Scan Alarm initiative\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(GalvoAlarm(0, 0, c.w1, 0), c.text) << std::hex << c.w1;
  // Serial galvanometers, packed = (w0 << 26) | (w1 >> 6): X = 0xFFFF (every pair set), Y = 0xFBFB
  // (pair 0x404 clear); w1 bit 0 alone: no timeout, no follow line.
  const uint32_t packed = 0xFBFBFFFFu;
  EXPECT_EQ(GalvoAlarm(2, packed >> 26, (packed << 6) | 0x01, 1),
            "》》》振镜主动报警\r\n》》》X=ffff\r\n》》》Y=fbfb\r\n》》》自动校准传感器未激活\r\n");
}

TEST(CommandPacket, BytesOnTheWireTheQueueAndTheWatchdogReportsOnceOnItsEighthLateRound) {
  CmdPacket p(CMD_SET_FLAG, 3, 0x200);
  const uint8_t expected[16] = {0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0x52, 0x00,
                                0x03, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00};
  EXPECT_EQ(0, std::memcmp(p.bytes.data(), expected, 16));
  // Queued commands keep their order and never touch the card.
  CmdBatch batch;
  EXPECT_TRUE(SendOrQueueCmd(CMD_OUTPUT, 1, 2, &batch));
  EXPECT_TRUE(SendOrQueueCmd(0x2055, 3, 4, &batch));
  ASSERT_EQ(batch.size(), 2u);
  EXPECT_EQ(std::tuple(batch[0].Cmd(), batch[1].Cmd(), batch[1].P2()), std::tuple(CMD_OUTPUT, 0x2055, 4u));
  // Without a batch and without an open card the command fails like any exchange: code 1.
  qztest::ExpectLost([] { SendOrQueueCmd(CMD_OUTPUT, 1, 2, nullptr); });
  // The watchdog reports an outstanding exchange once, on its eighth late round.
  struct Round { uint32_t issued, done, now; };
  // Rounds every 50 ms from 1000: the wait passes 1500 ms at 2550; the report comes 8 rounds later.
  std::vector<Round> rounds;
  for (uint32_t t = 1000; t <= 6000; t += 50) rounds.push_back({5, 4, t});
  // A new exchange starts the count again; a steady stream never reports.
  for (uint32_t i = 0; i < 100; ++i) rounds.push_back({6 + i, 5 + i, 6050 + 50 * i});
  // Nothing outstanding (issued == done) never reports, however long.
  for (uint32_t t = 12000; t <= 16000; t += 50) rounds.push_back({200, 200, t});
  WatchSlot slot;
  std::vector<std::pair<uint32_t, uint32_t>> reported;  // round time, elapsed ms
  for (const Round& r : rounds) {
    uint32_t elapsed = 0;
    if (WatchRound(slot, r.issued, r.done, r.now, elapsed)) reported.emplace_back(r.now, elapsed);
  }
  EXPECT_EQ(reported, (std::vector<std::pair<uint32_t, uint32_t>>{{2950, 1950}}));
  // A tick count that wraps does not hide a stall.
  WatchSlot wrapped;
  uint32_t elapsed = 0;
  int reports = 0;
  for (uint32_t i = 0; i <= 60; ++i) reports += WatchRound(wrapped, 9, 8, 0xFFFFFF00u + 50 * i, elapsed) ? 1 : 0;
  EXPECT_EQ(reports, 1);
}

}  // namespace
