// Floors and word channels: appenders, the floor clock, merge offsets, moving a floor down, Push and Pop; output
// words, waits and register-write sequences as words and times on the current floor's main stream.

#include <algorithm>
#include <stdexcept>

#include "frame/wait_desc.h"
#include "markbase/io_words.h"
#include "markbase/stream_words.h"
#include "support/trace.h"
#include "test_mark_fixture.h"

namespace {

using qztest::AddWait;
using qztest::ExpectCode;
using qztest::T;
using qztest::Words;
using FloorTest = qztest::MarkCallTest;

using IoWordsTest = qztest::MarkCallTest;

// How many of `lines` contain `text`.
size_t LinesWith(const std::vector<std::string>& lines, const std::string& text) {
  auto has = [&](const std::string& l) { return l.find(text) != std::string::npos; };
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), has));
}

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
    EXPECT_EQ(std::tuple(F(0).ch3, F(0).clock), std::tuple(c.expected, c.clockAfter));
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
  EXPECT_EQ(std::tuple(F(0).ch3, F(0).clock), std::tuple(main, 1008u));
  // A batch whose last word is not its latest: the clock follows the main stream's last word.
  Words back = {{5, 0x62000002}, {2, 0x62000003}};
  AppendShiftedWords(back);
  EXPECT_EQ(F(0).clock, 1010u);
  // An empty batch changes nothing, not even a clock that runs ahead of the main stream.
  F(0).clock = 5000;
  Words empty;
  AppendShiftedWords(empty);
  EXPECT_EQ(std::tuple(F(0).clock, F(0).ch3.size()), std::tuple(5000u, 7u));
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
  EXPECT_EQ(std::tuple(F(1).nMergeOffset, F(0).ch3), std::tuple(1991, Words{{2000, 0x62000001}, {10, 0x62000002}}));
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
    EXPECT_EQ(std::tuple(MarkErrorText(), Boxes().size()), std::tuple(c.text, c.boxes));
  }
  // After an abandoned floor a write lands on floor 0.
  F(0).Reset();
  AppendStreamWord(1, 0, 0x62000002);
  EXPECT_EQ(F(0).ch3, (Words{{1, 0x62000002}}));
}

TEST_F(IoWordsTest, InputWaitsByEdgeAndTimeOutAndBufferWaitsByLaneAndEdge) {
  constexpr uint32_t kNoTimeoutSetup = 0x58000101, kNoTimeoutMark = 0x51610020;
  constexpr uint32_t kTimeoutSetup = 0x58000111, kTimeoutMark = 0x51618020;
  struct Wait { uint32_t a, b; };
  // The words of `waits` from time t on, 3 µs each.
  auto expected = [&](uint64_t t, const std::vector<Wait>& waits, std::optional<uint32_t> timeoutWord) {
    Words out;
    for (const Wait& w : waits) {
      AddWait(out, t, w.a, w.b, timeoutWord, timeoutWord ? kTimeoutSetup : kNoTimeoutSetup,
              timeoutWord ? kTimeoutMark : kNoTimeoutMark);
      t += 3;
    }
    return out;
  };
  // timeoutWord nullopt: a wait without a time-out
  struct Case { const char* name; uint32_t mask, values, edge, mode, timeoutMs; std::optional<uint32_t> timeoutWord;
                std::vector<Wait> waits; bool clampLogged; } cases[] = {
      {"no time-out", 0xFF, 0x0F, 0, 0, 0, std::nullopt, {{0xFF, 0x0F}}, false},
      {"two lanes, 500 ms", 0xF00F, 0x3001, 0, 0, 500, 0x5607A120, {{0xF00F, 0x3001}}, false},
      {"longest time-out", 1, 1, 0, 0, 16777, 0x56FFFF28, {{1, 1}}, false},
      {"longer time-out cut", 1, 1, 0, 0, 16778, 0x56FFFF28, {{1, 1}}, true},
      {"rising edge", 0x1, 0x101, 0x100, 1, 0, std::nullopt, {{0x101, 0x001}, {0x101, 0x101}}, false},
      {"falling edge", 0x1, 0x001, 0x100, 0, 1, 0x560003E8, {{0x101, 0x101}, {0x101, 0x001}}, false},
      {"other mode falls", 0x0, 0x0, 0x80000000, 7, 0, std::nullopt, {{0x80000000, 0x80000000}, {0x80000000, 0}},
       false},
  };
  for (const Case& c : cases) {
    F(0).ch3.clear();
    F(0).clock = 100;
    const size_t clamps = LinesWith(InfoLines(), "AddInputWaitRecords:time-out");
    ASSERT_EQ(AddInputWaitRecords(c.mask, c.values, c.edge, c.mode, c.timeoutMs), 0u) << c.name;
    EXPECT_EQ(F(0).ch3, expected(100, c.waits, c.timeoutWord)) << c.name;
    EXPECT_EQ(F(0).clock, 100 + 3 * c.waits.size()) << c.name;
    EXPECT_EQ(LinesWith(InfoLines(), "AddInputWaitRecords:time-out"), clamps + (c.clampLogged ? 1 : 0)) << c.name;
  }
  // Buffer waits by lane and edge.
  struct LaneCase { const char* name; uint32_t w; std::vector<Wait> waits; } lanes[] = {
      {"lane 1", 1u << 25 | 0x0F << 8 | 0x05, {{0x0F, 0x05}}},
      {"lane 0 is lane 4", 0x0F << 8 | 0x05, {{0x0F000000, 0x05000000}}},
      {"lane 4", 4u << 25 | 0x0F << 8 | 0x05, {{0x0F000000, 0x05000000}}},
      {"high bits not read", 0xF0000000u | 1u << 25 | 0x0F << 8 | 0x05, {{0x0F, 0x05}}},
      {"falling edge", 3u << 25 | 0x80 << 16 | 0x01 << 8 | 0x01, {{0x810000, 0x810000}, {0x810000, 0x010000}}},
      {"rising edge", 1u << 24 | 2u << 25 | 0x80 << 16 | 0x01 << 8 | 0x01, {{0x8100, 0x0100}, {0x8100, 0x8100}}},
  };
  for (const LaneCase& c : lanes) {
    F(0).ch3.clear();
    F(0).clock = 0;
    ASSERT_EQ(CheckBufWaitWord(c.w), 0u) << c.name;
    ASSERT_EQ(AddBufWaitRecords(c.w), 0u) << c.name;
    EXPECT_EQ(F(0).ch3, expected(0, c.waits, std::nullopt)) << c.name;
  }
  for (uint32_t lane : {5u, 6u, 7u}) EXPECT_EQ(CheckBufWaitWord(lane << 25 | 0x0101), 2u) << lane;
}

TEST_F(IoWordsTest, OutputWordsByMaskAndByNumber) {
  struct Case { uint32_t mask, values, word; } cases[] = {
      {0x2, 0x0, 0x20002000},                // output 1 cleared
      {0xFFFFFFFF, 0xFFFFFFFF, 0x20FFFFFF},  // bank 0 only, each field cut to the bank
      {0x1000, 0xFFFFFFFF, 0x210013FF},      // output 12: bank 1
      {0x80000000, 0xFFFFFFFF, 0x222003FF},  // output 31: bank 2
      {0, 0xFFFFFFFF, 0x23000000},           // no output
  };
  for (const Case& c : cases) EXPECT_EQ(MakeIoWordByMask(c.mask, c.values), c.word) << std::hex << c.mask;
  F(0).clock = 100;
  ASSERT_EQ(AddOutputWords(0xFFFFFFFF, 0x80401002), 0u);
  EXPECT_EQ(F(0).ch3, (Words{{101, 0x20002FFF}, {102, 0x210013FF}, {103, 0x222013FF}}));
  F(0).ch3.clear();
  ASSERT_EQ(AddOutputWords(0x0, 0x00400000), 0u);  // output 22 alone
  EXPECT_EQ(F(0).ch3, (Words{{104, 0x22001000}}));
  F(0).ch3.clear();
  ASSERT_EQ(AddOutputWords(0xFFFFFFFF, 0), 0u);
  EXPECT_TRUE(F(0).ch3.empty());
  EXPECT_EQ(F(0).clock, 104u);
  // By number: a NOP outside the banks, logged once per run.
  struct Number { int32_t n; uint32_t v, word; } numbers[] = {
      {0, 1, 0x20001001},  {11, 0, 0x20800000}, {21, 1, 0x21200200}, {22, 1, 0x22001001},
      {32, 1, 0x23001001}, {43, 1, 0x23800800}, {5, 3, 0x20020020},   // only the lowest bit of v
      {44, 1, SW_NOP}, {1000, 1, SW_NOP}, {1000, 0, SW_NOP}, {-7, 1, SW_NOP},
  };
  for (const Number& c : numbers) EXPECT_EQ(MakeIoWord(c.n, c.v), c.word) << c.n;
  EXPECT_EQ(LinesWith(InfoLines(), "MakeIoWord:output 1000 is outside 0..43"), 1u);
  EXPECT_EQ(LinesWith(InfoLines(), "MakeIoWord:output -7 is outside 0..43"), 1u);
}

TEST_F(IoWordsTest, SerialBitPatternMostSignificantBitFirstAndRegisterSequences) {
  constexpr uint32_t kSet = 0x20008008, kClear = 0x20008000;  // output 3
  Words list;
  const uint8_t a5 = 0xA5;
  AddSerialBitPattern(list, 1, 3, &a5);
  EXPECT_EQ(list, (Words{{50, kSet}, {150, kClear}, {250, kSet}, {350, kClear}, {450, kClear}, {550, kSet},
                         {650, kClear}, {750, kSet}, {850, kClear}}));
  list.clear();
  const uint8_t two[2] = {0x80, 0x01};
  AddSerialBitPattern(list, 2, 3, two);
  ASSERT_EQ(list.size(), 17u);
  EXPECT_EQ(std::tuple(list[14], list[15], list[16]),
            std::tuple(TimedWord{1450, kClear}, TimedWord{1550, kSet}, TimedWord{1650, kClear}));
  list.clear();
  AddSerialBitPattern(list, 0, 3, two);
  EXPECT_TRUE(list.empty());
  // Register sequences.
  EXPECT_EQ(MakeSeqRegReset(list), (Words{{1, 0x52000000}, {1, 0x55001E00}, {1, 0x52000001}, {1, 0x55000000},
                                          {1, 0x52000002}, {1, 0x55000000}, {1, 0x52000003}, {1, 0x55000000},
                                          {2, 0x58000001}, {3, 0x50000000}}));
  list.clear();
  EXPECT_EQ(MakeSeqWriteReg32(list, 0x44332211, 7, 0x88776655),
            (Words{{7, 0x52000000}, {7, 0x55001155}, {7, 0x52000001}, {7, 0x55002266}, {7, 0x52000002},
                   {7, 0x55003377}, {7, 0x52000003}, {7, 0x55004488}}));
  list.clear();
  // A wait with a time-out of 0 ms on source 5 (internal callers may ask for it).
  MakeSeqWriteRegIo(list, 1, 10, 2, kWaitWithTimeout, 0, 5);
  EXPECT_EQ(Words(list.end() - 3, list.end()), (Words{{12, 0x56000000}, {12, 0x58001115}, {13, 0x51658020}}));
  list.clear();
  // The source is four bits in both words; the time-out's µs are cut to 24 bits.
  MakeSeqWriteRegIo(list, 1, 0, 2, kWaitWithTimeout, 20000, 0x13);
  EXPECT_EQ(Words(list.end() - 3, list.end()), (Words{{2, 0x56312D00}, {2, 0x58000113}, {3, 0x51638020}}));
  list.clear();
  EXPECT_EQ(MakeSeqWriteReg16(list, 0x112, 0x34, 0x56, 0x78),
            (Words{{1, 0x52000000}, {1, 0x53001234}, {1, 0x52000001}, {1, 0x53005678}, {1, 0x52000005},
                   {2, 0x51700000}}));
  // The emitters append at the floor clock.
  F(0).clock = 1000;
  EmitWriteRegIo(0x0403, 0x0201, 0x13, 5);
  EXPECT_EQ(F(0).ch3, (Words{{1001, 0x52000000}, {1001, 0x55000301}, {1001, 0x52000001}, {1001, 0x55000402},
                                {1001, 0x52000002}, {1001, 0x55000000}, {1001, 0x52000003}, {1001, 0x55000000},
                                {1002, 0x58000003}, {1003, 0x51B0000B}}));
  F(0).ch3.clear();
  EXPECT_EQ(EmitWriteReg16(1, 2, 3, 4), 0u);
  EXPECT_EQ(F(0).ch3, (Words{{1004, 0x52000000}, {1004, 0x53000102}, {1004, 0x52000001}, {1004, 0x53000304},
                                {1004, 0x52000005}, {1005, 0x51700000}}));
}

TEST_F(IoWordsTest, NamedWaitsComeFromTheTableAndUnknownNamesAddNothing) {
  InitWaitDescs();
  F(0).clock = 20;
  EXPECT_EQ(EmitNamedReg(kWaitNoTimeout, 0, "等待平台到位"), 0u);  // source 4, mask 0x11, value 0x10
  Words expected;
  AddWait(expected, 20, 0x11, 0x10, std::nullopt, 0x58000104, 0x51640020);
  EXPECT_EQ(F(0).ch3, expected);
  F(0).ch3.clear();
  EXPECT_EQ(EmitNamedReg(kWaitWithTimeout, 1000, "等待串口发送结束"), 0u);  // source 5
  expected.clear();
  AddWait(expected, 23, 0x1000000, 0, 0x560F4240, 0x58000115, 0x51658020);
  EXPECT_EQ(F(0).ch3, expected);
  F(0).ch3.clear();
  EXPECT_EQ(EmitNamedReg(kWaitNoTimeout, 0, "no such wait"), 0u);
  EXPECT_TRUE(F(0).ch3.empty());
  EXPECT_EQ(F(0).clock, 26u);
  WaitDesc d{};
  EXPECT_FALSE(LookupWaitDesc("no such wait", d));  // not inserted as an empty entry
  EXPECT_EQ(LinesWith(InfoLines(), "MakeSeqNamedReg:no such wait condition: no such wait"), 1u);
  EXPECT_EQ(ErrorLines().size(), 1u);
}

}  // namespace
