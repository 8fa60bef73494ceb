// The laser-program, scanner and motor members in the card's words; a spot weld and a motor run on the card.

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <limits>
#include <thread>
#include <tuple>
#include <vector>

#include "e2e/card_host.h"
#include "support/trace.h"

namespace {

constexpr uint32_t kKindMarker = 0x51200000;
constexpr uint32_t kEnd = 0x51100001;

class MemberHost : public qztest::CardHost {
 protected:
  void Open() { OpenWithParaFile(0, "HowLongTimeFirstBuf=100000\nCardVertion=6\n", 0); }
  // The words of the job from the n-th marker of `kind` up to the next marker (or the end word),
  // with their times from that marker.
  std::vector<cardsim_trace_entry> Member(uint32_t kind, int nth = 0) {
    const std::vector<cardsim_trace_entry> tr = Trace();
    size_t i = 0;
    for (int seen = -1; i < tr.size(); ++i) {
      if (tr[i].word == (kKindMarker | kind) && ++seen == nth) break;
    }
    std::vector<cardsim_trace_entry> out;
    for (size_t j = i; j < tr.size(); ++j) {
      if (j > i && ((tr[j].word & 0xFFFFFF00) == kKindMarker || tr[j].word == kEnd)) break;
      out.push_back(cardsim_trace_entry{tr[j].time_us - tr[i].time_us, tr[j].word, 0});
    }
    return out;
  }
  static std::vector<uint32_t> Words(const std::vector<cardsim_trace_entry>& tr) {
    std::vector<uint32_t> out;
    for (const auto& e : tr) out.push_back(e.word);
    return out;
  }
  static uint64_t TimeOf(const std::vector<cardsim_trace_entry>& tr, uint32_t word) {
    for (const auto& e : tr)
      if (e.word == word) return e.time_us;
    return ~uint64_t{0};
  }
};

using WordList = std::vector<uint32_t>;

// Register A and B in lanes 0 to 3.
WordList Lanes(uint32_t a, uint32_t b) {
  WordList out;
  for (uint32_t lane = 0; lane < 4; ++lane) {
    out.push_back(0x52000000 | lane);
    out.push_back(0x55000000 | ((a >> 8 * lane) & 0xFF) << 8 | ((b >> 8 * lane) & 0xFF));
  }
  return out;
}
// An untimed wait of `source` until its bits under a equal b.
WordList Wait(uint32_t a, uint32_t b, uint32_t source) {
  WordList out = Lanes(a, b);
  out.push_back(0x58000100 | source);
  out.push_back(0x51600020 | (source * 2) << 15);
  return out;
}
// The trigger that leaves the program for label `flag` once (port & a) == b.
WordList Trigger(uint32_t a, uint32_t b, uint32_t port, uint32_t flag) {
  WordList out = Lanes(a, b);
  out.push_back(0x58000000 | port);
  out.push_back(0x51B00001 | flag << 1);
  return out;
}
WordList Cat(std::initializer_list<WordList> parts) {
  WordList out;
  for (const WordList& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

constexpr uint32_t kLaser = kKindMarker | 7;
constexpr uint32_t kJumpTo1 = 0x0111999A, kJumpTo1Y = 0x0151999A;  // (1, 1) mm

// One job of members, each member's words from its kind marker: a scan position jumps only when the
// scanner moves; the dot programs wait by input or encoder (none without the level flag); motor
// members without enables leave the marker alone, group 4 never moves, the end waits for the platform.
TEST_F(MemberHost, ScanDotAndMotorMembers) {
  Open();
  cardsim_set_consume_(CARDSIM_CONSUME_STALLED);
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  ASSERT_EQ(QZ(MarkBufScanPos)(0, 0, 0, 0), 0u);
  ASSERT_EQ(QZ(MarkBufScanPos)(5, -5, 0, 0), 0u);
  ASSERT_EQ(QZ(MarkBufScanPos)(5, -5, 0, 1), 0u);
  ASSERT_EQ(QZ(MarkInitScanLaser)(), 0u);
  EXPECT_EQ(QZ(MarkBufScanPos)(0, 0, 0, 256), 6u);
  ASSERT_EQ(QZ(MarkDotLaserByIO)(1, 1, 0, 1000, 100, 0, 1, 5), 0u);
  ASSERT_EQ(QZ(MarkDotLaserByIO)(1, 1, 0, 1000, 100, 0, 0, 5), 0u);
  ASSERT_EQ(QZ(MarkDotLaserByEnc)(1, 1, 0, 0.0005, 100, 0, 1, 0x123456, 0x654321), 0u);
  ASSERT_EQ(QZ(MarkDotLaserByEnc)(1, 1, 0, 0.0005, 100, 0, 0, 0x123456, 0x654321), 0u);
  ASSERT_EQ(QZ(MarkMotorStart)(0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1), 0u);
  ASSERT_EQ(QZ(MarkMotorRun)(0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1), 0u);
  ASSERT_EQ(QZ(MarkMotorRun)(1, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1), 0u);
  ASSERT_EQ(QZ(MarkMotorEnd)(), 0u);
  ASSERT_EQ(QZ(MarkMotorStart)(0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1), 0u);
  std::thread ender([&] { MarkEnd(0); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  QZ(Mark_Stop)();
  ender.join();
  EXPECT_EQ(std::tuple(Words(Member(3, 0)), Words(Member(3, 1)), Words(Member(3, 2)), Words(Member(3, 3))),
            std::tuple(WordList{kKindMarker | 3}, WordList{kKindMarker | 3, 0x01180000, 0x01480000},
                       WordList{kKindMarker | 3}, WordList{}));
  EXPECT_EQ(Words(Member(9)), (WordList{kKindMarker | 9, 0x01300000, 0x01700000, 0x560F4240, 0x51608001}));
  const WordList loop = {0x51800002, 0x51A00002, 0x51800001};
  const WordList once = {0x51800002, 0x51800001};
  const WordList cases[] = {
      Cat({{kLaser}, Wait(0x20, 0x20, 1), {kJumpTo1, kJumpTo1Y}, Wait(0x20, 0, 1), Trigger(0x20, 0x20, 1, 1), loop,
           {0x51B00000}}),
      Cat({{kLaser}, loop}),
      Cat({{kLaser}, Wait(0xFFFFFF, 0x123456, 3), Trigger(0xFFFFFF, 0x654321, 3, 1), once, {0x51B00000}}),
      Cat({{kLaser}, once}),
  };
  for (int i = 0; i < 4; ++i) {
    QZ_TRACE(i);
    const std::vector<cardsim_trace_entry> m = Member(7, i);
    EXPECT_EQ(Words(m), cases[i]);
    // A spot at 1000 Hz starts again 1000 µs after the last.
    if (i < 2) {
      EXPECT_EQ(TimeOf(m, 0x51A00002) - TimeOf(m, 0x51800002), 1000u);
    }
  }
  const WordList platform = Cat({{0x85000001}, Wait(0x11, 0x10, 4)});
  EXPECT_EQ(std::pair(Words(Member(14, 0)), Words(Member(14, 1))),
            std::pair(WordList{kKindMarker | 14}, WordList{kKindMarker | 14}));
  EXPECT_EQ(Words(Member(14, 3)), Cat({{kKindMarker | 14}, platform}));
  EXPECT_EQ(Words(Member(14, 4)), Cat({{kKindMarker | 14}, platform, {0x84000000, 0x51620100}}));
}

// A run on the card: axes 1 and 2 (100 pulses per mm) go 5 mm at 100 mm/s (50 ms) and -3 mm at 50 mm/s
// (60 ms); the platform waits before and after hold the vector until axis 2 rests.
TEST_F(MemberHost, MotorRunMovesTheAxesAndTheVectorMarksOnceTheyRestAndALongSpotFailsItsJob) {
  Open();
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  ASSERT_EQ(QZ(MarkMotorRun)(1, 5, 100, 500, 1, -3, 50, 500, 0, 0, 0, 0, 0, 0, 0, 0), 0u);
  const double line[] = {-10.0, 0.0, 0.0, 10.0, 0.0, 0.0};
  ASSERT_EQ(QZ(MarkVector)(line, 2, 0), 0u);
  EXPECT_EQ(MarkEnd(0), 0u);
  constexpr uint32_t kZero = 8388607;
  const std::tuple<uint32_t, uint32_t, uint32_t> rest[] = {{kZero + 500, kZero + 500, 0}, {kZero - 300, kZero - 300, 0}};
  for (uint32_t k = 0; k < 2; ++k) {
    QZ_TRACE(k);
    cardsim_axis a{};
    ASSERT_EQ(cardsim_axis_get_(k, &a), 0u);
    EXPECT_EQ(std::tuple(a.position, a.target, a.moving), rest[k]);
  }
  // Before the start nothing moves; after it the wait holds until 60 ms after the start word.
  std::vector<cardsim_wait> platform;
  for (const cardsim_wait& w : WaitRecords())
    if (w.source == 4 && w.reason == 0x20) platform.push_back(w);
  ASSERT_EQ(platform.size(), 2u);
  EXPECT_EQ(std::tuple(platform[0].end, platform[0].held_us), std::tuple(uint32_t{CARDSIM_WAIT_MET}, uint64_t{0}));
  EXPECT_EQ(std::tuple(platform[1].end, platform[1].inputs), std::tuple(uint32_t{CARDSIM_WAIT_MET}, 0x10u));
  const std::vector<cardsim_trace_entry> tr = TraceEntries(CARDSIM_TRACE_EXECUTED);
  auto at = [&](uint32_t word) {
    return std::find_if(tr.begin(), tr.end(), [&](const cardsim_trace_entry& x) { return x.word == word; });
  };
  const auto start = at(0x84000003);
  ASSERT_NE(start, tr.end());
  EXPECT_GE(platform[1].time_us + platform[1].held_us, start->time_us + 60000);
  EXPECT_LT(platform[1].time_us + platform[1].held_us, start->time_us + 60100);
  // The vector's first galvanometer word (0x01) and its laser's start (0x16) run after the rest.
  for (const uint32_t top : {0x01u, 0x16u}) {
    QZ_TRACE(top);
    const auto first = std::find_if(start, tr.end(), [&](const cardsim_trace_entry& x) { return x.word >> 24 == top; });
    ASSERT_NE(first, tr.end());
    EXPECT_GE(first->time_us, start->time_us + 60000);
  }
  // A spot longer than its period fails its job: its box, then the job's failure.
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  EXPECT_EQ(QZ(MarkDotLaserByIO)(0, 0, 0, 5000, 199, 0, 0, 5), 2u);
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"topmost ok: Spot welding time is greater than the frequency cycle!"});
  EXPECT_EQ(QZ(MarkDotLaserByIO)(0, 0, 0, 1000, 100, 0, 0, 5), 20u);
  EXPECT_EQ(MarkEnd(0), 3u);
}

}  // namespace
