// Floors and word channels: appenders, the floor clock, merge offsets, moving a floor down, Push and Pop.

#include <stdexcept>

#include "support/trace.h"
#include "mark/stream_words.h"
#include "test_mark_fixture.h"

namespace {

using qztest::ExpectCode;
using qztest::T;
using qztest::Words;
using FloorTest = qztest::MarkCallTest;

TEST_F(FloorTest, AppendersAndShiftedWordsAreStampedFromTheFloorClock) {
  struct Case { const char* name; void (*append)(); uint64_t clockBefore; Words expected; uint64_t clockAfter; };
  const Case cases[] = {
      {"dt 5", [] { AppendStreamWord(5, 0, 0x62000001); }, 100, {{105, 0x62000001}}, 105},
      {"pad 3 adds a NOP 3 µs later", [] { AppendStreamWord(2, 3, 0x62000003); }, 100,
       {{102, 0x62000003}, {105, SW_NOP}}, 105},
      {"negative pad: one word", [] { AppendStreamWord(1, -4, 0x62000004); }, 100, {{101, 0x62000004}}, 101},
      {"negative dt goes back", [] { AppendStreamWord(-40, 0, 0x62000005); }, 100, {{60, 0x62000005}}, 60},
      {"NOP", [] { AppendStreamNop(7); }, 100, {{107, SW_NOP}}, 107},
      {"dt below zero from clock 0", [] { AppendStreamNop(-1); }, 0, {{T(-1), SW_NOP}}, T(-1)},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.name);
    F(0).Reset();
    F(0).clock = c.clockBefore;
    c.append();
    EXPECT_EQ(F(0).ch3, c.expected);
    EXPECT_EQ(F(0).clock, c.clockAfter);
    for (int i = 0; i < kFloorChannels; ++i) EXPECT_EQ(F(0).ch[i]->empty(), i != CH_MAIN) << i;
  }

  // Shifted words are stamped from the clock.
  F(0).Reset();
  F(0).clock = 1000;
  F(0).ch3 = {{900, 0x62000001}};
  Words batch = {{0, 0x01000010}, {3, 0x01010020}, {3, SW_NOP}, {8, 0x01000030}};
  AppendShiftedWords(batch);
  const Words shifted = {{1000, 0x01000010}, {1003, 0x01010020}, {1003, SW_NOP}, {1008, 0x01000030}};
  EXPECT_EQ(batch, shifted);  // in the caller's batch too
  Words main = {{900, 0x62000001}};
  main.insert(main.end(), shifted.begin(), shifted.end());
  EXPECT_EQ(F(0).ch3, main);
  EXPECT_EQ(F(0).clock, 1008u);

  // A batch whose last word is not its latest: the clock follows the main stream's last word.
  Words back = {{5, 0x62000002}, {2, 0x62000003}};
  AppendShiftedWords(back);
  EXPECT_EQ(F(0).clock, 1010u);

  // An empty batch changes nothing, not even a clock that runs ahead of the main stream.
  F(0).clock = 5000;
  Words empty;
  AppendShiftedWords(empty);
  EXPECT_EQ(F(0).clock, 5000u);
  EXPECT_EQ(F(0).ch3.size(), 7u);
}

TEST_F(FloorTest, ResetRestoresTheRecordsAndUpdateClockComparesSigned) {
  CMarkFloor& f = F(0);
  for (int i = 0; i < kFloorChannels; ++i) f.ch[i]->assign(3, TimedWord{7, 1});
  f.nLineTime[0] = f.nLineTime[1] = f.nLineTime[2] = 9;
  f.laserState[1] = {3, 5, 6};
  f.wavePower[0] = {4, 8};
  f.clock = 77;
  f.bAnchored = 1;
  f.Reset();
  for (int i = 0; i < kFloorChannels; ++i) EXPECT_TRUE(f.ch[i]->empty()) << i;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(f.nLineTime[i], 0);
  for (int l = 0; l < 2; ++l)
    EXPECT_EQ(std::tuple(f.laserState[l].nState, f.laserState[l].nOffTime, f.wavePower[l].nValue, f.wavePower[l].nTime),
              std::tuple(0u, -10000000, 0u, -10000000));
  EXPECT_EQ(std::tuple(f.clock, f.bAnchored), std::tuple(0u, 0));

  // UpdateClock compares signed and takes the last word of each channel.
  f.clock = 10;
  f.ch2 = {{T(-5), 1}};  // earlier than the clock although huge as unsigned
  f.UpdateClock();
  EXPECT_EQ(f.clock, 10u);
  f.ch6 = {{3, 1}, {40, 1}};
  f.ch7 = {{25, 1}};
  f.UpdateClock();
  EXPECT_EQ(f.clock, 40u);
}

TEST_F(FloorTest, MergeOffsetTakesTheLargestCandidate) {
  using Times = std::vector<std::pair<int, int64_t>>;  // channel, time of its last (lower) or first (upper) word
  struct Case { const char* name; Times lowerLast, upperFirst; int64_t offset; int64_t merged = 0; };
  const Case cases[] = {
      {"lower words only", {{0, 500}, {3, 900}}, {}, 0}, {"upper words only", {}, {{0, 10}}, 0},
      {"galvanometer gap 0", {{0, 100}}, {{0, 10}}, 90},
      {"laser 0 first list gap LASER_OFF_ON_INTEVAL", {{1, 100}}, {{1, 0}}, 3100},
      {"wave 0 gap 20", {{2, 100}}, {{2, 0}}, 120}, {"main gap 1", {{3, 100}}, {{3, 0}}, 101},
      {"laser 1 first list gap 5", {{4, 100}}, {{4, 0}}, 105},
      {"wave 1 gap LASER_OFF_ON_INTEVAL", {{5, 100}}, {{5, 0}}, 3100},
      {"laser 0 second list gap 20", {{6, 100}}, {{6, 0}}, 120},
      {"laser 1 second list gap 0", {{7, 100}}, {{7, 0}}, 100},
      {"other channel: only the main stream counts", {{3, 500}, {1, 9000}}, {{5, 100}}, 401},
      {"negative", {{0, 10}}, {{0, 1000}}, -990},
      {"largest of several", {{0, 2000}, {3, 2500}, {6, 2490}}, {{0, 0}, {3, 10}, {6, 5}}, 2505},
      // Never before the last merged time; where the channel rules put it after, they stand.
      {"floor 0 empty after a full flush", {}, {{0, 10}, {3, 40}}, 4991, 5000},
      {"a channel without a lower partner", {{0, 5500}}, {{0, 1000}, {1, 0}}, 5001, 5000},
      {"at the merged time it stays", {}, {{3, 5000}}, 0, 5000},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.name);
    CMarkJob::InitJob(1);
    g_MarkData2Fifo.nMergeTime = c.merged;
    for (auto [ch, t] : c.lowerLast) F(0).ch[ch]->assign({{0, 1}, {T(t), 2}});
    CMarkFloor::Push();
    for (auto [ch, t] : c.upperFirst) F(1).ch[ch]->assign({{T(t), 3}, {T(t + 50000), 4}});
    MergeUpperFloor(0, 0);
    EXPECT_EQ(F(1).nMergeOffset, c.offset);
  }
}

TEST_F(FloorTest, UpperFloorMovesDownOnceItReachesTheThreshold) {
  F(0).ch0 = {{2000, 0x01000001}};
  F(0).ch3 = {{2500, 0x62000001}};
  F(0).ch1 = {{1000, 0x16000001}};
  F(0).clock = 2500;
  CMarkFloor::Push();
  ASSERT_EQ(nFloor, 1);
  AppendStreamWord(10, 0, 0x62000002);        // main at 10
  g_FloorCursors.pGalvo->push_back({0, 0x01000002});
  g_FloorCursors.laser[0].pFirst->push_back({400, 0x16000000});

  // Clock 400 below the threshold 401: nothing moves, the floor is not anchored.
  EXPECT_TRUE(MergeUpperFloor(401, 0));
  EXPECT_EQ(std::tuple(F(1).bAnchored, F(0).ch0.size(), F(1).ch0.size()), std::tuple(0, 1u, 1u));

  // At the threshold: anchored with offset max(2000+0-0, 2500+1-0, 2500+1-10, 1000+3000-400, 2500+1-400).
  EXPECT_TRUE(MergeUpperFloor(400, 0));
  EXPECT_EQ(F(0).ch0, (Words{{2000, 0x01000001}, {3600, 0x01000002}}));
  EXPECT_EQ(F(0).ch3, (Words{{2500, 0x62000001}, {3610, 0x62000002}}));
  EXPECT_EQ(F(0).ch1, (Words{{1000, 0x16000001}, {4000, 0x16000000}}));
  EXPECT_EQ(F(0).clock, 4000u);
  for (int i = 0; i < kFloorChannels; ++i) EXPECT_TRUE(F(1).ch[i]->empty()) << i;

  // Later words of the anchored floor move with the same offset, whatever the threshold; the upper clock runs on.
  F(0).ch3.push_back({90000, 0x62000003});
  AppendStreamWord(5, 0, 0x62000004);  // upper time 405
  EXPECT_TRUE(MergeUpperFloor(1000000, 0));
  EXPECT_EQ(F(0).ch3.back().time, 4005u);
}

TEST_F(FloorTest, StoppedJobMovesUpperWordsWithoutShiftAndItsPopLeavesThemBehind) {
  F(0).ch3 = {{2000, 0x62000001}};
  F(1).ch0 = {{1, 2}};
  EXPECT_TRUE(MergeUpperFloor(0, 0));  // nothing above floor 0
  CMarkFloor::Push();
  AppendStreamWord(10, 0, 0x62000002);
  g_MarkJob.bStopMark = 1;
  EXPECT_TRUE(MergeUpperFloor(0, 0));
  EXPECT_EQ(F(1).nMergeOffset, 1991);
  EXPECT_EQ(F(0).ch3, (Words{{2000, 0x62000001}, {10, 0x62000002}}));
  // A pop of a stopped job leaves the upper words behind.
  CMarkJob::InitJob(1);
  g_MarkJob.bStopMark = 0;
  CMarkFloor::Push();
  AppendStreamWord(0, 0, SW_END);
  g_MarkJob.bStopMark = 1;
  CMarkFloor::Pop();
  EXPECT_EQ(nFloor, 0);
  EXPECT_TRUE(F(0).ch3.empty());
  EXPECT_EQ(F(1).ch3.size(), 1u);
}

TEST_F(FloorTest, FloorScopePopsOnNormalExitAndPushPopRefusals) {
  AppendStreamWord(50, 0, 0x62000001);
  RunOnUpperFloor([] {
    EXPECT_EQ(nFloor, 1);
    EXPECT_EQ(F(1).clock, 0u);  // a fresh floor with its own time base
    AppendStreamWord(0, 0, SW_END);
    AppendStreamWord(30, 0, 0x62000002);
  });
  // Pop merged the upper floor behind the main stream's last word + 1 µs and bound floor 0.
  EXPECT_EQ(std::tuple(nFloor, g_pCurFloor, &CurFloor()), std::tuple(0, &F(0), &F(0)));
  EXPECT_EQ(F(0).ch3, (Words{{50, 0x62000001}, {51, SW_END}, {81, 0x62000002}}));
  EXPECT_EQ(F(0).clock, 81u);
  EXPECT_FALSE(MarkFailed());
  // Outside a mark call Push and Pop fail with 27, a third floor with 2.
  g_MarkJob.g_bMarkCallBusy = 0;
  ExpectCode(27, 1, [] { CMarkFloor::Push(); });
  ExpectCode(27, 1, [] { CMarkFloor::Pop(); });
  ExpectCode(27, 1, [] { RunOnUpperFloor([] {}); });
  EXPECT_EQ(nFloor, 0);
  EXPECT_FALSE(MarkFailed());
  g_MarkJob.g_bMarkCallBusy = 1;
  CMarkFloor::Push();
  ExpectCode(2, 0, [] { CMarkFloor::Push(); });
  EXPECT_EQ(nFloor, 2);
}

// Whatever leaves a floor early rebinds floor 0 and fails the job with its own code and text, no extra box.
TEST_F(FloorTest, FailuresInsideAFloorUnwindToFloorZero) {
  enum Kind { kLibrary, kOther, kMemory };
  struct Case { const char* name; void (*body)(); Kind kind; uint32_t code; const char* text; size_t boxes; };
  g_mapErrText[RV_CARD_NOT_CONNECTED] = "Card is not connected";
  g_mapErrText[RV_MEMORY_EXCEPTION] = "Memory exception";
  const Case cases[] = {
      {"another exception keeps what it says",
       [] { RunOnUpperFloor([] { AppendStreamWord(5, 0, 0x62000001); throw std::runtime_error("generator"); }); },
       kOther, 0, "generator", 0},
      {"a lost card fails the job silently",
       [] { RunOnUpperFloor([] { throw MyException(RV_CARD_NOT_CONNECTED, 0); }); }, kLibrary, 1, "Card is not connected", 0},
      {"a memory failure", [] { RunOnUpperFloor([] { throw std::bad_alloc(); }); }, kMemory, 38,
       "Memory exception", 0},
      {"a failure keeps its own text", [] { RunOnUpperFloor([] { SetMarkErrorAndThrow(29, "generator failed"); }); },
       kLibrary, 29, "generator failed", 1},
      {"a nested third floor", [] { RunOnUpperFloor([] { RunOnUpperFloor([] {}); }); }, kLibrary, 2,
       "ERROR:  nfloor == 2!!! ", 1},
      // Windows of 0: the upper word at 100 is anchored at 5001 and merged at once; a word 90 µs further
      // back moves down with the same offset, earlier than the merge time, and the pop fails.
      {"a failing pop",
       [] {
         g_SystemPara.HowLongTimeFirstBuf = 0;
         g_SystemPara.nSteadyWindowUs = 0;
         g_FloorCursors.pGalvo->push_back({5000, 0x01000123});
         g_MarkData2Fifo.Flush(0);
         ASSERT_TRUE(F(0).ch0.empty());
         RunOnUpperFloor([] {
           g_FloorCursors.pGalvo->push_back({100, 0x01000124});
           MergeUpperFloor(0, 0);
           g_MarkData2Fifo.Flush(0);
           g_FloorCursors.laser[0].pFirst->push_back({10, 0x16000001});
         });
       },
       kLibrary, 2, "数据流时间非依次递增，请联系供应商!!! \n maxOld=5001 idx=0 info=1000124 \n nextTm=4911 idx=1 info=16000001",
       1},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.name);
    g_MarkJob.bStopMark = 0;
    CMarkJob::InitJob(1);
    F(0).Reset();
    ClearLogs();
    if (c.kind == kLibrary) {
      ExpectCode(c.code, 0, c.body);
    } else if (c.kind == kOther) {
      EXPECT_THROW(c.body(), std::runtime_error);
    } else {
      EXPECT_THROW(c.body(), std::bad_alloc);
    }
    EXPECT_EQ(std::tuple(nFloor, g_pCurFloor), std::tuple(0, &F(0)));
    EXPECT_TRUE(MarkFailed());
    EXPECT_EQ(MarkErrorText(), c.text);
    EXPECT_EQ(Boxes().size(), c.boxes);
  }
  // After an abandoned floor a write lands on floor 0.
  F(0).Reset();
  AppendStreamWord(1, 0, 0x62000002);
  EXPECT_EQ(F(0).ch3, (Words{{1, 0x62000002}}));
}

}  // namespace
