// Run control: a stop while QZ_MarkEnd waits, the job's figures, a full flush mid-job; the host's status text
// (off-line mode, task, alarms, waits, languages, buffer size).
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "calibration/scan.h"
#include "cardlink/card_cmd.h"
#include "cardlink/card_status.h"
#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "frame/wait_desc.h"
#include "mark/mark_floor.h"
#include "mark/run_control.h"
#include "qzmark.h"
#include "test_mark_card_fixture.h"

namespace {

using qztest::HasLine;

using RunControlTest = qztest::MarkCardTest;

// A floor written right after a full flush (floor 0 empty) still lands after what was sent.
TEST_F(RunControlTest, FullFlushInTheMiddleOfAJobLetsLaterFloorsAndTheEndFollowAndTheMarkTime) {
  Open();
  Begin();
  ASSERT_EQ(Call(3), 0u);
  for (uint32_t round = 1; round <= 2; ++round) {
    CMarkLock lock;
    try {
      FlushAllAndStartRun();
      EXPECT_TRUE(g_MarkFloor[0].ch3.empty());
      RunOnUpperFloor([&] { for (uint32_t i = 0; i < 2; ++i) AppendStreamWord(10, 0, 0x62000000u | round << 8 | i); });
    } catch (const MyException& e) {
      FAIL() << "code " << e.code << ": " << MarkErrorText();
    }
  }
  EXPECT_EQ(End(), 0u);
  // Two flushes ask for the start of the run once; the card started on it.
  uint32_t value = 0, starts = 0;
  cardsim_get_flag_(FLAG_START_BUFFERED_RUN, &value, &starts);
  EXPECT_EQ(starts, 1u);
  EXPECT_EQ(Fifo().start_reason, uint32_t{CARDSIM_START_FLAG});
  // The card runs the words in the order of their times.
  const std::vector<uint32_t> words = TraceWords();
  // The prologue jumps to (0, 0) twice (rest and current position); the epilogue sets idle pulse timing.
  EXPECT_EQ(words, (std::vector<uint32_t>{0x04000001, 0x01300000, 0x01700000, SW_WAIT_TIMEOUT_1S, SW_JUMP_WAIT,
                                          0x01300000, 0x01700000, SW_WAIT_TIMEOUT_1S, SW_JUMP_WAIT,
                                          SW_KIND_MARKER | KIND_BUFFER, 0x62000000, 0x62000001, 0x62000002,
                                          0x62000100, 0x62000101, 0x62000200, 0x62000201, 0x13000000, 0x14000000,
                                          0x16000000, SW_END}));
  // The mark time is the low 32 bits of the last job's final stream time.
  Open();
  auto job = [&](int64_t delay) {
    Begin();
    Call(10, 0, delay);
    EXPECT_EQ(End(), 0u);
    uint32_t t = 0;
    EXPECT_EQ(QZ_GetMarkTime(&t), 0u);
    return t;
  };
  const uint32_t base = job(0);
  EXPECT_GT(base, 100u);
  EXPECT_EQ(job((int64_t{1} << 32) + 5), base + 5u);  // more than 71 minutes: the low 32 bits
}

// A stop from a second thread ends QZ_MarkEnd's wait; figures read meanwhile are the ending job's.
TEST_F(RunControlTest, StopFromASecondThreadEndsTheWaitOfMarkEnd) {
  Open();
  ASSERT_EQ(QZ_MarkStart(1, 0, 0), 0u);
  ASSERT_EQ(Call(100), 0u);
  {
    CMarkLock lock;
    g_Scan.nLitCount = 7;  // as the polyline generator counts
  }
  cardsim_set_consume_(CARDSIM_CONSUME_STALLED);
  std::atomic<uint32_t> seenCount{0}, seenTime{0}, stopRc{99};
  std::atomic<bool> ended{false};
  std::thread stopper([&] {
    // Until QZ_MarkEnd has sent everything and waits for the card to run it out.
    for (int i = 0; i < 10000 && Fifo().phase != CARDSIM_PHASE_FLUSHING; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    uint32_t v = 0;
    if (QZ_GetMarkLineCnt(&v) == 0) seenCount = v;
    if (QZ_GetMarkTime(&v) == 0) seenTime = v;
    stopRc = QZ_Mark_Stop();
    // A stop that does not end the wait fails the test instead of hanging it: the card runs out.
    for (int i = 0; i < 5000 && !ended; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!ended) cardsim_set_consume_(CARDSIM_CONSUME_AT_ONCE);
  });
  const uint32_t rc = QZ_MarkEnd(0);
  ended = true;
  stopper.join();
  EXPECT_EQ(stopRc.load(), 0u);
  EXPECT_EQ(rc, uint32_t{RV_MARK_FAIL});
  EXPECT_EQ(seenCount.load(), 7u);
  EXPECT_GT(seenTime.load(), 1000u);  // the end sequence is written before the wait
  EXPECT_EQ(Fifo().end_code, 2u);  // stopped on the card
  EXPECT_TRUE(HasLine(InfoLines(), "MustEndThread:运行被停止 same="));
  EXPECT_TRUE(HasLine(InfoLines(), "QZ_Mark_Stop:QZ_Mark_Stop"));
  EXPECT_EQ(g_MarkJob.nMarkState, kMarkStateIdle);
  EXPECT_EQ(g_bSysBusy, 0);
  uint32_t count = 99, time = 0;
  EXPECT_EQ(QZ_GetMarkLineCnt(&count), 0u);
  EXPECT_EQ(count, 7u);  // the last job's
  EXPECT_EQ(QZ_GetMarkTime(&time), 0u);
  EXPECT_EQ(time, seenTime.load());
}

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
