// The host's status text against the simulated card: off-line mode, task, alarms, waits, languages, buffer size.
#include <cstring>

#include "cardlink/card_cmd.h"
#include "cardlink/card_status.h"
#include "cardlink/portlane.h"
#include "frame/wait_desc.h"
#include "frame/errors.h"
#include "qzmark.h"
#include "test_mark_card_fixture.h"

namespace {

class WaitInfoTest : public qztest::MarkCardTest {
 protected:
  void SetUp() override {
    Open(85);
    InitWaitDescs();
  }
  std::string Text(uint32_t expectedRc = 0) {
    char buf[kWaitInfoBufferSize];
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(QZ_GetWaitInfo(buf), expectedRc);
    return buf;
  }
};

TEST_F(WaitInfoTest, OfflineModeAndTheCardsTask) {
  cardsim_set_run_state_(0, 9, 0);
  EXPECT_EQ(Text(), "OFFLINE MODE\r\nPage Down...\r\n");
  g_bLangZh = 1;
  EXPECT_EQ(Text(), "脱机模式\r\nPage Down...\r\n");
  g_SystemPara.bCmdWithNum = 0;  // legacy cards show neither
  EXPECT_EQ(Text(), "");
  g_SystemPara.bCmdWithNum = 1;
  cardsim_set_run_state_(0, 31, 0);  // an id outside the table names nothing
  EXPECT_EQ(Text(), "脱机模式\r\n");
}

TEST_F(WaitInfoTest, WaitTimeoutWithReasonsNamedAndUnnamedWaitsAndGalvanometerDetails) {
  SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_OFFLINE);
  cardsim_set_alarms_(1u << 5, 0);
  cardsim_set_answer_(CMD_WAIT_REASON, 0, 0, 0x1 | 0x80 | 0x20, 0);
  cardsim_set_answer_(CMD_WAIT_DETAIL, 0, 0, 0x14, 0x11);      // kind 4, enabled
  cardsim_set_answer_(CMD_WAIT_STATE, 0, 0, 0x11, 0x10);       // "等待平台到位": kind 4, 0x11, 0x10
  EXPECT_EQ(Text(),
            "Waiting for timeout, causing the operation to terminate (can be cleared)\r\n"
            "->Check the galvanometer and galvanometer wire\r\n->Serial port\r\n"
            "  等待平台到位\r\n"    // the reason's wait detail
            "  等待平台到位\r\n");  // and the card's current wait
  // An input wait without a name, in both languages.
  cardsim_set_alarms_(0, 0);
  cardsim_set_answer_(CMD_WAIT_REASON, 0, 0, 0, 0);
  cardsim_set_answer_(CMD_WAIT_DETAIL, 0, 0, 0x11, 0xF0);  // kind 1, enabled, value 0xF0
  cardsim_set_answer_(CMD_WAIT_STATE, 0, 0, 0x3C, 0x0F);   // a = 0x3C & 0x0F, b = 0x3C & 0xF0
  EXPECT_EQ(Text(), "  Wait IO Input:Wait Value=c，IO In=30\r\n");
  g_bLangZh = 1;
  EXPECT_EQ(Text(), "  等待IO输入   :等待值=c，IO输入值=30\r\n");
  cardsim_set_answer_(CMD_WAIT_DETAIL, 0, 0, 0x01, 0xF0);  // not enabled: nothing
  EXPECT_EQ(Text(), "");
  // The galvanometer details by card version.
  g_bLangZh = 0;
  g_SystemPara.nCardVersion = 128;
  g_SystemPara.nScanType = 0;
  cardsim_set_alarms_((1u << 6) | (1u << 21), 0);
  cardsim_set_answer_(CMD_GALVO_STATUS, 0, 0, (1u << 24) | (1u << 28), 0);
  cardsim_set_answer_(CMD_GALVO_STATUS, 1, 0, 0, 0x02);
  EXPECT_EQ(Text(),
            "Abnormal closed-loop galvanometer causing operation to stop (can be cleared)\r\n"
            ">>>>>>Scan not feedBack OverTime\r\n"
            "The galvanometer is out of range (x negative direction) (removable) \r\n Possible reasons: the strip is "
            "too fast, the filling is too dense, and the welding speed is too slow \r\n"
            "Galvanometer output beat error (can be cleared) \r\n");
  g_SystemPara.nCardVersion = 76;  // too old for either query
  EXPECT_EQ(Text(),
            "Abnormal closed-loop galvanometer causing operation to stop (can be cleared)\r\n"
            "The galvanometer speed exceeds the limit, please increase the galvanometer speed limit (can be "
            "cleared) \r\n");
}

TEST_F(WaitInfoTest, TextIsCutToTheHostsBufferAndACardLostGivesOne) {
  cardsim_set_alarms_(0xFFFFFF70u, 17);
  EXPECT_EQ(Text().size(), kWaitInfoBufferSize - 1);
  cardsim_set_alarms_(1u << 5, 0);
  cardsim_fault_lose_at_(2);  // the status read passes, the wait-reason query loses the card
  EXPECT_EQ(Text(1), "OFFLINE MODE\r\nWaiting for timeout, causing the operation to terminate (can be cleared)\r\n");
  EXPECT_EQ(g_Link.g_bConnected, 0);
  // Without a card: 1, the buffer untouched.
  CPortlane::Close();
  char buf[kWaitInfoBufferSize] = "unchanged";
  EXPECT_EQ(QZ_GetWaitInfo(buf), 1u);
  EXPECT_STREQ(buf, "unchanged");
  EXPECT_EQ(QZ_GetWaitInfo(nullptr), 1u);  // the card check comes first
}

}  // namespace
