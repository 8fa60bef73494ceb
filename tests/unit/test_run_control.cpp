// Run control inside the library: a stop from a second thread while QZ_MarkEnd waits, the job's
// figures, the full flush in the middle of a job with the floor that follows it, and the 21-bit codes
// of a field position.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <thread>

#include "support/trace.h"
#include "calibration/scan.h"
#include "cardlink/card_wire.h"
#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "mark/mark_floor.h"
#include "mark/run_control.h"
#include "qzmark.h"
#include "support/lib_folder.h"
#include "test_mark_card_fixture.h"
#include "test_mark_fixture.h"

namespace {

using qztest::HasLine;

using RunControlTest = qztest::MarkCardTest;

// A full flush sends every word the job has so far; a floor written right after it finds floor 0
// empty and must still land after what was sent. The job then ends successfully.
TEST_F(RunControlTest, FullFlushInTheMiddleOfAJobLetsLaterFloorsAndTheEndFollow) {
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
  EXPECT_TRUE(HasLine(InfoLines(), "MustEndThread:运行成功  same="));
  // Two flushes ask for the start of the run once; the card started on it.
  uint32_t value = 0, starts = 0;
  cardsim_get_flag_(FLAG_START_BUFFERED_RUN, &value, &starts);
  EXPECT_EQ(starts, 1u);
  EXPECT_EQ(Fifo().start_reason, uint32_t{CARDSIM_START_FLAG});
  // The card runs the words in the order of their times.
  const std::vector<uint32_t> words = TraceWords();
  // The prologue jumps to (0, 0) twice (rest and current position), the epilogue sets the idle
  // pulse timing.
  EXPECT_EQ(words, (std::vector<uint32_t>{0x04000001, 0x01300000, 0x01700000, SW_WAIT_TIMEOUT_1S, SW_JUMP_WAIT,
                                          0x01300000, 0x01700000, SW_WAIT_TIMEOUT_1S, SW_JUMP_WAIT,
                                          SW_KIND_MARKER | KIND_BUFFER, 0x62000000, 0x62000001, 0x62000002,
                                          0x62000100, 0x62000101, 0x62000200, 0x62000201, 0x13000000, 0x14000000,
                                          0x16000000, SW_END}));
}

// Stopping from a second thread while QZ_MarkEnd waits for a card that runs nothing: the end
// returns, reports a stopped run and lets the library go. The job's figures read meanwhile are those
// of the job being ended.
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

// The mark time is the final stream time of the last job, its low 32 bits: a job with a known delay
// is that delay longer than the same job without it.
TEST_F(RunControlTest, MarkTimeIsTheLastJobsStreamTime) {
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
  EXPECT_EQ(job(3000000), base + 3000000u);
  EXPECT_EQ(job((int64_t{1} << 32) + 5), base + 5u);  // more than 71 minutes: the low 32 bits
}

using FlushFloorTest = qztest::MarkCallTest;

// The offset of an upper floor merged into floor 0 never puts its earliest word before the last
// merged time; where the channel rules already put it after, they stand.
TEST_F(FlushFloorTest, UpperFloorLandsAfterTheLastMergedWord) {
  struct Case {
    const char* name;
    int64_t merged;
    std::vector<std::pair<int, int64_t>> lower;  // channel, time of its last word
    std::vector<std::pair<int, int64_t>> upper;  // channel, time of its first word
    int64_t offset;
  } cases[] = {
      {"floor 0 empty after a full flush", 5000, {}, {{0, 10}, {3, 40}}, 4991},
      {"a channel without a lower partner", 5000, {{0, 5500}}, {{0, 1000}, {1, 0}}, 5001},
      {"at the merged time it stays", 5000, {}, {{3, 5000}}, 0},
  };
  for (const Case& c : cases) {
    QZ_TRACE(c.name);
    CMarkJob::InitJob(1);
    g_MarkData2Fifo.nMergeTime = c.merged;
    for (auto [ch, t] : c.lower) g_MarkFloor[0].ch[ch]->assign({{static_cast<uint64_t>(t), 1}});
    CMarkFloor::Push();
    for (auto [ch, t] : c.upper) g_MarkFloor[1].ch[ch]->assign({{static_cast<uint64_t>(t), 2}});
    MergeUpperFloor(0, 0);
    EXPECT_EQ(g_MarkFloor[1].bAnchored, 1);
    EXPECT_EQ(g_MarkFloor[1].nMergeOffset, c.offset);
  }
}

TEST(FieldToCode21Test, CodesOfTheFieldPosition) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double step = 1.0 / 1048576.0;  // one code at half range 1 mm
  struct Case { double p, halfRange; int32_t code; } cases[] = {
      {-1.0, 1.0, 0},          {1.0, 1.0, 2097151},          {0.0, 1.0, 1048576},
      {-5.0, 1.0, 0},          {nan, 1.0, 1048576},          {5.0, 10.0, 1572864},
      {-1.0 + step / 2, 1.0, 1},  // half a code goes up
      {-1.0 + 3 * step / 2, 1.0, 2}, {-1.0 + 3 * step / 8, 1.0, 0},
      {3.0, 0.0, 1048576},     {3.0, -10.0, 1048576},        {3.0, nan, 1048576},
  };
  for (const Case& c : cases) EXPECT_EQ(FieldToCode21(c.p, c.halfRange), c.code) << c.p << " " << c.halfRange;
  // Both coordinates with the half range in force (10 mm until the correction module reports its own).
  int32_t cx = -1, cy = -1;
  FieldToCode21(-10.0, nan, cx, cy);
  EXPECT_EQ(cx, 0);
  EXPECT_EQ(cy, 1048576);
}

}  // namespace
