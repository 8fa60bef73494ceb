// Run control: a stop while QZ_MarkEnd waits, the job's figures, a full flush mid-job, 21-bit field codes.
#include <atomic>
#include <chrono>
#include <thread>

#include "calibration/scan.h"
#include "frame/errors.h"
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

}  // namespace
