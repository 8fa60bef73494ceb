// Polylines: joining, splitting and dropping, the look-ahead, chained leads, exact words of short polylines.
#include <cmath>
#include <cstring>
#include <numbers>
#include <tuple>

#include "frame/fly_para.h"
#include "mark/line_storage.h"
#include "mark/mark_flow.h"
#include "support/trace.h"
#include "test_scan_fixture.h"

namespace qztest {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;
constexpr uint32_t X = 0x01000000, Y = 0x01010000;

class LineTest : public ScanSeqTest {
 protected:
  void SetUp() override {
    ScanSeqTest::SetUp();
    SystemPara& p = g_SystemPara;
    p.nDashedlineLayNo = -1;
    p.dbDisMaxTwoLineConnectMM = 0.001;
    p.dbPolygonBreakAng = 45.0 * kDeg;
    p.bMarkAllowPause = 1;  // each polyline start carries 0x51200001
    p.nWaveNoLock = 0;      // as a fresh record has it: the times below count on its layer switch
    for (int layer = 0; layer < 4; ++layer) {  // mark 5 mm, jump 10 mm per step; no delays
      g_PenPara[layer] = PenPara{};
      g_PenPara[layer].dbMarkSpeed = 0.5;
      g_PenPara[layer].dbJumpSpeed = 1.0;
      g_PenPara[layer].nJumpDelay1 = g_PenPara[layer].nJumpDelay2 = g_PenPara[layer].nJumpDelay3 = 0;
      g_PenParaPlus[layer].nWord0 = 0;
      for (auto& t : g_LaserTimingPara) Timing(t[layer], 0, 0, 0);
    }
    Job(0);
  }
  // Off and on delays (µs), and high and low pulse ticks.
  static void Timing(LaserTimingPara& t, int32_t off, int32_t on, uint32_t ticks) {
    t.nFirstDelay = off;
    t.nSecondDelay = on;
    t.nPulseHigh = t.nPulseLow = ticks;
  }
  static void Push(const std::vector<FieldPoint>& pts, uint32_t layer) {
    std::vector<uint8_t> r(pts.size() * kPolylinePointBytes, 0);
    for (size_t i = 0; i < pts.size(); ++i) std::memcpy(&r[i * kPolylinePointBytes], &pts[i], 16);
    g_LineStorage.PushLines(r.data(), static_cast<int32_t>(pts.size()), layer);
  }
  // The open polyline ends, as before any other mark-list command.
  static void End() {
    if (!g_LineStorage.vecLastLine.empty()) g_LineStorage.DealPartLine(0, true);
  }
  static int Starts() {
    g_MarkData2Fifo.MergeChannels(0);
    int n = 0;
    for (const TimedWord& w : g_MarkData2Fifo.vMerged) n += w.word == (SW_KIND_MARKER | KIND_VECTOR);
    return n;
  }
  static int32_t Lit() { return g_Scan.nLitCount.load(); }
  // A floor-0 channel with its times counted from the polyline's first galvanometer word.
  static Words From(int channel) {
    Words w = *Floor().ch[channel];
    for (TimedWord& e : w) e.time -= Floor().ch0.front().time;
    return w;
  }
};

TEST_F(LineTest, PolylinesAreJoinedSplitAndDroppedByTable) {
  struct Push_ { std::vector<FieldPoint> pts; uint32_t layer; };
  struct Case { const char* name; int32_t bPolygonBreak; double joinMm; int32_t dashed; std::vector<Push_> pushes;
                int starts, lit; };
  const Case cases[] = {
      {"two points 0.0005 mm apart: nothing", 0, 0.001, -1, {{{{0, 0}, {0.0005, 0}}, 1}}, 0, 0},
      {"a point within 0.001 mm is dropped", 0, 0.001, -1, {{{{0, 0}, {0.0009, 0}, {10, 0}}, 1}}, 1, 1},
      {"continued in the same layer", 0, 0.001, -1, {{{{0, 0}, {10, 0}}, 1}, {{{10.0009, 0}, {10, 10}}, 1}}, 1, 2},
      {"another layer starts anew", 0, 0.001, -1, {{{{0, 0}, {10, 0}}, 1}, {{{10.0009, 0}, {10, 10}}, 2}}, 2, 2},
      {"0.0011 mm apart is not joined", 0, 0.001, -1, {{{{0, 0}, {10, 0}}, 1}, {{{10.0011, 0}, {20, 0}}, 1}}, 2, 2},
      {"the dashed layer continues, unlit", 0, 0.001, 3, {{{{0, 0}, {10, 0}}, 1}, {{{10, 0}, {10, 10}}, 3}}, 1, 1},
      {"a dashed layer marks nothing", 0, 0.001, 1, {{{{0, 0}, {10, 0}, {10, 10}}, 1}}, 1, 0},
      {"a 90 degree corner splits", 1, 0.001, -1, {{{{0, 0}, {10, 0}, {10, 10}}, 1}}, 2, 2},
      {"a 30 degree turn does not", 1, 0.001, -1, {{{{0, 0}, {10, 0}, {10 + 10 * std::cos(30 * kDeg), 5}}, 1}}, 1, 2},
      {"90 degrees without the split", 0, 0.001, -1, {{{{0, 0}, {10, 0}, {10, 10}}, 1}}, 1, 2},
      // The first pushed point turns sharply at the buffered corner (10, 0): the new polyline starts
      // from a copy of that corner, never from a point before the pushed ones.
      {"a refusal at the first point", 1, 0.01, -1, {{{{0, 0}, {10, 0}}, 1}, {{{10, 0.005}, {10, 10}}, 1}}, 2, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job(0);
    g_Scan.dbCurX = g_Scan.dbCurY = 0.0;
    g_SystemPara.bPolygonBreak = c.bPolygonBreak;
    g_SystemPara.dbDisMaxTwoLineConnectMM = c.joinMm;
    g_SystemPara.nDashedlineLayNo = c.dashed;
    for (const Push_& p : c.pushes) Push(p.pts, p.layer);
    End();
    EXPECT_EQ(std::tuple(Starts(), Lit()), std::tuple(c.starts, c.lit));
    EXPECT_TRUE(g_LineStorage.vecLastLine.empty() && g_LineStorage.nState == 0 && nFloor == 0 && !MarkFailed());
  }
}

TEST_F(LineTest, TheEleventhPointGeneratesTheFirstFive) {
  Push({{0, 0}, {1, 0.1}, {2, 0}, {3, 0.1}, {4, 0}, {5, 0.1}, {6, 0}, {7, 0.1}, {8, 0}, {9, 0.1}}, 1);
  EXPECT_EQ(g_LineStorage.vecLastLine.size(), 10u);
  EXPECT_TRUE(Floor().ch0.empty());
  Push({{9, 0.1}, {10, 0}}, 1);  // continued by an eleventh point
  EXPECT_EQ(g_LineStorage.vecLastLine.size(), 6u);
  EXPECT_EQ(nFloor, 1);  // the polyline's floor stays open between calls
  EXPECT_EQ(std::tuple(Lit(), g_Scan.dbCurX), std::tuple(4, 4.0));  // the jump to the first point, four marked ones
  End();
  EXPECT_EQ(std::tuple(Lit(), g_Scan.dbCurX, Starts()), std::tuple(10, 10.0, 1));
}

TEST_F(LineTest, ChainedPolylinesRunThroughLeadOutAndLeadIn) {
  g_PenParaPlus[1].dbReal1 = 1.0;  // lead lengths of layers 1 and 2
  g_PenParaPlus[2].dbReal1 = 2.0;
  g_LineStorage.nLookAhead = 100;
  Push({{0, 0}, {10, 0}}, 1);
  // QZ_MarkBufSmallTask(-6): chaining on, but not to the buffered polyline, which ends with its own leads (to 11, 0).
  g_LineStorage.bLeadEnable = g_LineStorage.bLeadSkipOnce = 1;
  Push({{0, 10}, {0, 20}}, 2);
  EXPECT_EQ(g_Scan.dbCurX, 11.0);
  Push({{10, 20}, {20, 20}, {20, 30}}, 2);
  // Out 2 mm beyond (0, 20) in its own layer, in 2 mm before (10, 20) in the dashed layer -1, unlit.
  std::vector<std::tuple<double, double, uint32_t, int>> points;  // x, y, layer, lit
  for (const auto& p : g_LineStorage.vecLastLine) points.emplace_back(p.x, p.y, p.layer, p.bMark);
  EXPECT_EQ(points, (decltype(points){{0, 10, 2, 0}, {0, 20, 2, 1}, {0, 22, 2, 0}, {8, 20, 0xFFFFFFFF, 0},
                                      {10, 20, 0xFFFFFFFF, 0}, {20, 20, 2, 1}, {20, 30, 2, 1}}));
  End();
  EXPECT_EQ(std::tuple(Starts(), Lit(), g_Scan.dbCurY), std::tuple(2, 4, 32.0));  // its own lead-out at the end
}

TEST_F(LineTest, ShortPolylineWithLeadsAndEndDelay) {
  // Leads of 1 mm; end delay 100 µs; the laser on 20 µs after the line starts and off 30 µs after it
  // ends, on a whole number of its 10 µs pulse periods.
  g_PenParaPlus[1].dbReal1 = 1.0;
  g_PenPara[1].nJumpDelay1 = 100;
  Timing(g_LaserTimingPara[0][1], 30, 20, 240);
  Push({{0, 0}, {10, 0}}, 1);
  EXPECT_TRUE(Floor().ch0.empty());  // the last point waits for the next command
  End();
  // Codes of a 100 mm field: -1 mm 32112, 0 mm 32767, 5 mm 36044, 10 mm 39321, 11 mm 39976.
  const Words galvo = {{0, SW_NOP},      {10, X | 32112}, {10, Y | 32767},  // jump to the lead-in
                       {10, SW_NOP},     {20, X | 32767}, {20, Y | 32767},  // lead-in, unlit
                       {20, SW_NOP},     {30, X | 36044}, {30, Y | 32767},  // the lit vector
                       {40, X | 39321},  {40, Y | 32767},
                       {40, SW_NOP},     {50, X | 39976}, {50, Y | 32767},  // lead-out, unlit
                       {150, SW_NOP}};                                      // end delay
  EXPECT_EQ(From(CH_GALVO), galvo);
  const Words laser = {{40, SW_NOP}, {40, 0x110000F0}, {40, 0x120000F0}, {40, SW_PULSE_START_L0},
                       {70, SW_PULSE_STOP_L0}, {70, SW_NOP}};
  EXPECT_EQ(From(CH_LASER0_A), laser);
  EXPECT_FALSE(MarkFailed());
}

TEST_F(LineTest, TwoLasersWithPowerWaves) {
  // Laser 0 on and off with the line (10 to 410 µs), laser 1 20 µs later and 60 µs later. Both
  // layers' line waves: 100 µs (2 steps of 50) up to 50 %, and 100 µs down to 0.
  g_SystemPara.nLaserCount = 2;
  for (auto& p : g_PenPara) p.dbMarkSpeed = 0.05;  // 0.5 mm per step
  Timing(g_LaserTimingPara[1][1], 60, 20, 0);
  for (auto& t : g_LaserTimingPara) {
    t[1].nLineWaveMode = 1;
    t[1].lineStartWave = {{0, 0.1, 50.0}};
    t[1].lineEndWave = {{0, 0.1, 0.0}};
  }
  Push({{0, 0}, {10, 0}, {20, 0}}, 1);
  End();
  EXPECT_EQ(From(CH_LASER0_A), (Words{{10, SW_NOP}, {10, 0x11000000}, {10, 0x12000000}, {10, SW_PULSE_START_L0},
                                     {410, SW_PULSE_STOP_L0}, {410, SW_NOP}}));
  EXPECT_EQ(From(CH_LASER1_A), (Words{{30, SW_NOP}, {30, 0x18000000}, {30, 0x19000000}, {30, SW_PULSE_START_L1},
                                     {470, SW_PULSE_STOP_L1}, {470, SW_NOP}}));
  // Each start wave from its laser's on time, each end wave in the last whole steps of its laser's
  // segment (8 in 400 µs and in 440 µs, 4 at constant power).
  EXPECT_EQ(From(CH_WAVE0), (Words{{60, 0x290003FF}, {110, 0x290007FF}, {360, 0x290003FF}, {410, 0x29000000}}));
  EXPECT_EQ(From(CH_WAVE1), (Words{{80, 0x290203FF}, {130, 0x290207FF}, {380, 0x290203FF}, {430, 0x29020000}}));
  EXPECT_EQ(Lit(), 2);
}

// Only with fly marking on and the range enabled, each polyline's first jump is followed by the range words.
TEST_F(LineTest, FlyRangeWordsFollowTheFirstJumpOnlyWhileFlyMarkingIsOnWithTheRangeEnabled) {
  struct Case { int32_t rangeEn; uint32_t flyOn; size_t words; } cases[] = {{1, 1, 2}, {1, 0, 0}, {0, 1, 0}, {1, 7, 2}};
  for (const Case& c : cases) {
    QZ_TRACE(::testing::Message() << c.rangeEn << " " << c.flyOn);
    Job(0);
    g_Scan.dbCurX = g_Scan.dbCurY = 0.0;
    g_FlyScanPara.bFlyMarkRangeEn = c.rangeEn;
    g_MarkFlow.nFlySwitchOn = c.flyOn;
    Push({{0, 0}, {10, 0}}, 1);
    Push({{20, 0}, {30, 0}}, 1);  // a second polyline: its own jump, its own range words
    End();
    Words range;
    for (const TimedWord& w : Floor().ch3)
      if (w.word == 0x06000001 || w.word == 0x51640001) range.push_back(w);
    if (c.words == 0) {
      EXPECT_TRUE(range.empty());
      continue;
    }
    // The jumps end at 223 and 280 (their one step) without a jump delay: 20 µs of filler after that on the main
    // stream, the range words 1 µs later (the second at the first one's NOP), before the first marked step.
    EXPECT_EQ(range, (Words{{223 + 20 + 1, 0x06000001}, {223 + 20 + 2, 0x51640001}, {280 + 20 + 1, 0x06000001},
                            {280 + 20 + 2, 0x51640001}}));
    EXPECT_EQ(Floor().ch0[3], (TimedWord{247, SW_NOP}));  // the first polyline's marked run starts
  }
  g_FlyScanPara = FlyScanPara();
  g_MarkFlow.nFlySwitchOn = 0;
}

}  // namespace
}  // namespace qztest
