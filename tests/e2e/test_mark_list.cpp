// The mark-list exports as a host calls them: the common frame's results, boxes and commands (no
// card, no job, the first call of a job, an overlapping call, a failed job, a refused argument), and
// the output and wait words as the simulated card decodes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "e2e/card_host.h"

namespace {

using qztest::CardHost;
using qztest::kParaKey;

constexpr uint32_t kKindMarker = 0x51200000;
constexpr uint32_t kEndWord = 0x51100001;
constexpr uint32_t kCmdOperate = 83;
constexpr uint32_t kFlagStop = 0x4;

class MarkListHost : public CardHost {
 protected:
  // Every member once, with arguments it takes.
  std::vector<std::function<uint32_t()>> Members() {
    return {[this] { return QZ(MarkBufIO)(1, 1, 0, 0); },       [this] { return QZ(MarkBufWait)(1u << 25, 0); },
            [this] { return QZ(MarkInputWait)(1, 1, 0, 0, 0); }, [this] { return QZ(LaserSwitch)(0, 0); },
            [this] { return QZ(MarkSynMoveStart)(); },          [this] { return QZ(MarkSynMoveEnd)(); }};
  }
  bool TraceHas(uint32_t word) {
    const std::vector<uint32_t> words = TraceWords();
    return std::find(words.begin(), words.end(), word) != words.end();
  }
  uint32_t Count(uint32_t command, uint32_t p1) {
    uint32_t n = 0;
    for (const auto& f : Frames()) n += f.kind == CARDSIM_KIND_COMMAND && f.command == command && f.p1 == p1;
    return n;
  }
  uint32_t StopsSent() {
    uint32_t value = 0, count = 0;
    cardsim_get_flag_(kFlagStop, &value, &count);
    return count;
  }
};

TEST_F(MarkListHost, WithoutACardEveryMemberReturnsOneAndDoesNothing) {
  Stage(0);
  for (const auto& member : Members()) EXPECT_EQ(member(), 1u);
  EXPECT_TRUE(Frames().empty());
  EXPECT_TRUE(lib->Boxes().empty());
  EXPECT_TRUE(ErrorLog().empty());
}

TEST_F(MarkListHost, WithoutAJobEveryMemberReturns17WithOneBox) {
  OpenCard();
  cardsim_log_clear_();
  size_t n = 0;
  for (const auto& member : Members()) {
    EXPECT_EQ(member(), 17u) << n;
    EXPECT_EQ(lib->Boxes().size(), ++n);
    EXPECT_EQ(lib->Boxes().back(), "topmost ok: Marking has not been started.");
  }
  EXPECT_TRUE(Commands().empty());
  EXPECT_TRUE(qztest::AnyLineHas(ErrorLog(), "] QZ_MarkInputWait:Marking has not been started."));
}

TEST_F(MarkListHost, FirstMemberOpensTheBufferAndTheCardDecodesTheWords) {
  OpenCard();
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  cardsim_log_clear_();
  ASSERT_EQ(QZ(LaserSwitch)(7, 7), 0u);
  ASSERT_EQ(QZ(MarkBufIO)(0x5, 0x1007, 0, 0), 0u);                                   // outputs 0-2 and 12
  ASSERT_EQ(QZ(MarkInputWait)(0x3, 0x1, 0, 0, 100), 0u);                            // inputs 0-1, 100 ms
  ASSERT_EQ(QZ(MarkBufWait)(1u << 24 | 2u << 25 | 0x02u << 16 | 0x01u << 8, 0), 0u);  // input 8 low, input 9 rising
  EXPECT_EQ(Count(kCmdOperate, 1), 1u);  // the buffer opened once
  // The inputs stay 0: the card's first wait times out after 100 ms and ends the run.
  ASSERT_EQ(MarkEnd(0), 3u);
  ASSERT_EQ(lib->Boxes().size(), 1u);
  EXPECT_NE(lib->Boxes()[0].find("Waiting for timeout"), std::string::npos);

  const std::vector<cardsim_trace_entry> trace = Trace();
  size_t first = 0;
  while (first < trace.size() && trace[first].word != (kKindMarker | 7)) ++first;
  ASSERT_LT(first, trace.size());
  // Each word with its time after the laser switch's marker.
  const uint64_t t0 = trace[first].time_us;
  struct Word {
    uint64_t dt;
    uint32_t word;
  };
  std::vector<Word> expected = {{0, kKindMarker | 7}, {2, kKindMarker | 4}, {4, 0x20007005}, {5, 0x21001000},
                                {6, kKindMarker | 5}};
  auto wait = [&](uint64_t t, uint32_t a, uint32_t b, bool timeout) {
    for (uint32_t lane = 0; lane < 4; ++lane) {
      expected.push_back({t, 0x52000000 | lane});
      expected.push_back({t, 0x55000000 | ((a >> 8 * lane) & 0xFF) << 8 | ((b >> 8 * lane) & 0xFF)});
    }
    if (timeout) expected.push_back({t + 1, 0x560186A0});
    expected.push_back({t + 1, timeout ? 0x58000111u : 0x58000101u});
    expected.push_back({t + 2, timeout ? 0x51618020u : 0x51610020u});
  };
  wait(8, 0x3, 0x1, true);
  expected.push_back({11, kKindMarker | 5});
  wait(13, 0x0300, 0x0000, false);  // input 9 low first (bit 24 set: rising)
  wait(16, 0x0300, 0x0200, false);
  ASSERT_GE(trace.size(), first + expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(trace[first + i].word, expected[i].word) << i;
    EXPECT_EQ(trace[first + i].time_us - t0, expected[i].dt) << i;
  }
  EXPECT_EQ(trace.back().word, kEndWord);
}

TEST_F(MarkListHost, RefusedArgumentAddsNothingAndTheJobGoesOn) {
  OpenCard();
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  cardsim_log_clear_();
  EXPECT_EQ(QZ(MarkBufWait)(5u << 25 | 0x0101, 0), 2u);  // there is no fifth input byte
  EXPECT_TRUE(Frames().empty());                  // not even the buffer's start
  EXPECT_TRUE(qztest::AnyLineHas(ErrorLog(), "] QZ_MarkBufWait:input byte lane 5"));
  EXPECT_EQ(QZ(MarkBufIO)(1, 1, 0, 0), 0u);
  EXPECT_EQ(MarkEnd(0), 0u);
  EXPECT_FALSE(TraceHas(kKindMarker | 5));
  EXPECT_TRUE(TraceHas(kKindMarker | 4));
  EXPECT_TRUE(lib->Boxes().empty());
}

TEST_F(MarkListHost, SynchronisedMoveFailsTheJobAndLaterMembersReturn20) {
  OpenCard();
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  ASSERT_EQ(QZ(MarkBufIO)(1, 1, 0, 0), 0u);
  EXPECT_EQ(StopsSent(), 0u);
  EXPECT_EQ(QZ(MarkSynMoveStart)(), 2u);
  EXPECT_EQ(StopsSent(), 1u);
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"topmost ok: 标准补丁无联动功能，请更新联动专用补丁"});
  for (const auto& member : Members()) EXPECT_EQ(member(), 20u);
  EXPECT_EQ(lib->Boxes().size(), 1u);
  EXPECT_EQ(MarkEnd(0), 3u);
  EXPECT_FALSE(TraceHas(kKindMarker | 5));  // nothing after the failure reached the card
  EXPECT_EQ(MarkStart(1, 0, 0), 0u);        // the next job starts clean
  EXPECT_EQ(QZ(MarkSynMoveEnd)(), 2u);
  EXPECT_EQ(MarkEnd(0), 3u);
}

TEST_F(MarkListHost, MemberWhileAnotherThreadEndsTheJobStopsTheCardAndReturns16) {
  OpenCard();
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  ASSERT_EQ(QZ(LaserSwitch)(0, 0), 0u);
  cardsim_set_consume_(CARDSIM_CONSUME_STALLED);  // the card never runs the job out
  uint32_t endRc = 0xFFFF;
  std::thread ender([&] { endRc = MarkEnd(0); });
  // QZ_MarkEnd holds the guard from before its last block until the card has ended the run.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!TraceHas(kEndWord) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(TraceHas(kEndWord));
  EXPECT_EQ(StopsSent(), 0u);
  EXPECT_EQ(QZ(MarkBufIO)(1, 1, 0, 0), 16u);
  ender.join();
  EXPECT_EQ(StopsSent(), 1u);  // the refused call stopped the run; the ending thread saw it end
  EXPECT_EQ(endRc, 3u);
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"topmost ok: Two mark calls were made at the same time."});
  EXPECT_TRUE(qztest::AnyLineHas(ErrorLog(), "] QZ_MarkBufIO:Two mark calls were made at the same time."));
  EXPECT_FALSE(TraceHas(kKindMarker | 4));
}

}  // namespace
