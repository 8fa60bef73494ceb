// Every alarm text of the status word and of the galvanometer feedback, in both languages: a line
// of its own for every alarm bit, in the order the host shows them, and a few lines word for word
// (test_card_status.cpp checks more of them in context).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cardlink/card_status.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/system_para.h"

namespace {

std::string CardAlarm(uint32_t r0, uint32_t r1, uint8_t zh) {
  g_SystemPara.nCardVersion = 0;  // no galvanometer query
  g_bLangZh = zh;
  std::string text;
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
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

// The bits of status r0 with an alarm line, in the order the lines are shown; the laser alarm's
// line (field 17: r0 bit 7, r1 bits 27-31 = 8) comes before the last one's.
const int kShownOrder[] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 28, 29, 30, 31, 4, 24, 6, 5};
constexpr uint32_t kLaserR0 = 1u << 7, kLaserR1 = 8u << 27;

TEST(AlarmTexts, EveryAlarmBitHasALineOfItsOwnInBothLanguagesAndOtherBitsNone) {
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

  struct Sample { int bit; const char* en; const char* zh; } samples[] = {
      {13, "Board receiving and issuing instructions error (can be cleared)\r\n", "板卡接收下发指令出错（可清除）\r\n"},
      {30, "Secondary card connection lost\r\n", "副卡连接丢失\r\n"},
  };
  for (const auto& s : samples) {
    EXPECT_EQ(CardAlarm(1u << s.bit, 0, 0), s.en);
    EXPECT_EQ(CardAlarm(1u << s.bit, 0, 1), s.zh);
  }
  EXPECT_EQ(CardAlarm(kLaserR0, kLaserR1, 0), "Laser alarm (can be cleared)\r\n");
  EXPECT_EQ(CardAlarm(kLaserR0, kLaserR1, 1), "激光器报警（可清除）\r\n");
}

TEST(AlarmTexts, EveryGalvanometerFeedbackLineInBothLanguages) {
  const std::string head[2] = {">>>>>>Scan Alarm initiative\r\n", "》》》振镜主动报警\r\n"};
  EXPECT_EQ(GalvoAlarm(0, 0, 0xFC0 & ~0x40u, 1), head[1] + "》》》振镜电源报警\r\n");
  std::set<std::string> seen;
  for (uint8_t zh : {0, 1}) {
    // Scanner type 0: each clear bit of 0x40..0x800 names its alarm.
    for (uint32_t bit = 0x40; bit <= 0x800; bit <<= 1) {
      const std::string text = GalvoAlarm(0, 0, 0xFC0 & ~bit, zh);
      ASSERT_EQ(text.rfind(head[zh], 0), 0u) << bit;
      EXPECT_TRUE(seen.insert(text.substr(head[zh].size())).second) << bit;
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
      EXPECT_TRUE(seen.insert(line).second) << mask;
      EXPECT_EQ(Ascii(line), zh == 0) << mask;
    }
  }
  EXPECT_EQ(seen.size(), 24u);
}

}  // namespace
