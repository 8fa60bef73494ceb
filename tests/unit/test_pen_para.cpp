// The pen tables filled from host records byte by byte: pulse timing, power waves, offsets, refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <functional>
#include <initializer_list>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

#include "frame/bytes.h"
#include "frame/errors.h"
#include "markbase/pen_para.h"
#include "support/lib_folder.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Host wave points with x from `xs`, unit = slot, power = 10 × slot, zero-filled to `slots`.
std::vector<uint8_t> Wave(std::vector<double> xs, size_t slots = kWaveTableSlots) {
  std::vector<uint8_t> b(slots * kWavePointBytes, 0);
  for (size_t i = 0; i < xs.size(); ++i) {
    PutU32(&b[i * kWavePointBytes], static_cast<uint32_t>(i));
    PutF64(&b[i * kWavePointBytes + 4], xs[i]);
    PutF64(&b[i * kWavePointBytes + 12], 10.0 * i);
  }
  return b;
}
// x of each point, checking unit and power against the slot they came from.
std::vector<double> Xs(const std::vector<WavePoint>& w) {
  std::vector<double> out;
  for (const WavePoint& p : w) {
    EXPECT_EQ(p.power, 10.0 * p.unit);
    out.push_back(p.x);
  }
  return out;
}

TEST(ConvertLaserTiming, PulseTicksFromFrequencyAndDutyAndPowerWaveSections) {
  struct Case { double f, duty; uint32_t period, high, low; } cases[] = {
      {20.0, 50.0, 2400, 1200, 1200},      {7.0, 33.0, 6858, 2264, 4594},     {1e-9, 50.0, 1000, 1000, 0},
      {1e-6, 50.0, 16777215, 8388608, 8388607},  // 4.8e10 ticks, capped
      {20.0, -10.0, 2400, 0, 2400},        {20.0, 150.0, 2400, 2400, 0},      {kInf, 50.0, 1000, 1000, 0},
      {20.0, kNaN, 2400, 0, 2400},
  };
  for (const Case& c : cases) {
    LaserTimingPara t;
    ConvertLaserTiming(t, 11, 12, 13, 14, c.f, c.duty, 55.5);  // the other fields: the record tests below
    EXPECT_EQ(std::tuple(t.nPulsePeriod, t.nPulseHigh, t.nPulseLow), std::tuple(c.period, c.high, c.low))
        << c.f << " kHz " << c.duty << " %";
  }
  // The sections of the power wave tables.
  std::vector<double> full = {-2.0};  // a start section that runs to the last slot, a -3.0 inside
  for (int i = 1; i < 20; ++i) full.push_back(i == 10 ? -3.0 : i);
  std::vector<double> fullStart(full.begin() + 1, full.end());
  struct WaveCase { const char* name; std::vector<double> line, dot, start, end, dotWave; } waves[] = {
      {"terminated", {-2, 1, 2, -1, -3, 5, -1, 7}, {1, -1, 2}, {1, 2}, {5}, {1}},
      {"start to slot 20", full, {}, fullStart, {}, std::vector<double>(20, 0.0)},
      {"no -2.0", {1, -1, -3, 3, -1}, {-1}, {}, {}, {}},
      {"end before start", {-3, 1, -1, -2, 4, -1}, {-1}, {4}, {}, {}},
  };
  for (const WaveCase& c : waves) {
    LaserTimingPara t;
    t.lineStartWave = t.lineEndWave = t.dotWave = {{9, 9.0, 90.0}};  // replaced, never appended to
    ParsePowerWaves(t, Wave(c.line).data(), Wave(c.dot).data());
    EXPECT_EQ(std::tuple(Xs(t.lineStartWave), Xs(t.lineEndWave), Xs(t.dotWave)),
              std::tuple(c.start, c.end, c.dotWave)) << c.name;
  }
}

class PenParaTest : public qztest::LibFolderTest {
 protected:
  void SetUp() override {
    LibFolderTest::SetUp();
    g_mapErrText[RV_LAYER_NUMBER_OVER] = "Layer out of range";
    ResetTables();
  }
  void TearDown() override {
    ResetTables();
    g_mapErrText.clear();
    LibFolderTest::TearDown();
  }
  static void ResetTables() {
    for (auto& p : g_PenPara) p = PenPara{};
    for (auto& l : g_LaserTimingPara)
      for (auto& t : l) t = LaserTimingPara{};
    for (auto& p : g_PenParaPlus) p = PenParaPlus{};
  }
};

using Reals = std::initializer_list<std::pair<size_t, double>>;  // offset, value
using Words = std::initializer_list<std::pair<size_t, uint32_t>>;

// A MarkParaRecord as a host writes it; bytes that are not read hold 0xEE.
std::vector<uint8_t> PenRecord(double markSpeed, double jumpSpeed, double z = 1.25) {
  std::vector<uint8_t> r(kMarkParaRecordBytes, 0xEE);
  for (auto [off, v] : Reals{{8, z}, {16, 42.5}, {28, 20.0}, {36, 50.0}, {52, 3.5}, {60, -4.5}, {432, markSpeed},
                             {440, jumpSpeed}})
    PutF64(&r[off], v);
  for (auto [off, v] : Words{{44, 7}, {48, 80}, {448, 222}, {452, 111}, {456, 333}, {460, 44}, {464, 55}, {484, 2},
                             {888, 3}})
    PutU32(&r[off], v);
  PutU32(&r[480], std::bit_cast<uint32_t>(-22.5f));  // degrees, a 32-bit real
  const std::vector<uint8_t> line = Wave({-2, 1, -1, -3, 2, -1}), dot = Wave({3, -1});
  std::copy(line.begin(), line.end(), r.begin() + 488);
  std::copy(dot.begin(), dot.end(), r.begin() + 892);
  return r;
}

TEST_F(PenParaTest, SetMarkParaReadsEveryFieldAtItsOffsetAndEnablesByBothSpeeds) {
  std::vector<uint8_t> records = PenRecord(2000.0, 3000.0), second = PenRecord(2000.0, 3000.0, 9.0);
  records.insert(records.end(), second.begin(), second.end());
  g_LaserTimingPara[1][1].nPulsePeriod = 77;
  ASSERT_EQ(SetMarkPara(records.data(), 2), RV_OK);
  const PenPara& p = g_PenPara[1];
  EXPECT_EQ(std::tuple(p.dbMarkSpeed, p.dbJumpSpeed), std::tuple(2000.0 / 1e6, 3000.0 / 1e6));
  EXPECT_EQ(std::vector<int32_t>({p.nJumpDelay1, p.nJumpDelay2, p.nJumpDelay3, p.nInt4, p.nWaveNumber, p.nPower}),
            std::vector<int32_t>({111, 222, 333, 0, 7, 80}));
  EXPECT_EQ(std::vector<double>({p.dbReal1, p.dbReal2, p.dbZPos, g_PenPara[0].dbZPos}),
            std::vector<double>({3.5, -4.5, 9.0, 1.25}));
  EXPECT_EQ(p.dbAngle, -22.5 / 180.0 * 3.141592653589793);
  const LaserTimingPara& t = g_LaserTimingPara[0][1];
  EXPECT_EQ(std::vector<int32_t>({t.nFirstDelay, t.nSecondDelay, t.nLineWaveMode, t.nDotWaveMode}),
            std::vector<int32_t>({55, 44, 2, 3}));
  EXPECT_EQ(std::tuple(t.nPulsePeriod, t.nPulseHigh, t.dbPower), std::tuple(2400u, 1200u, 42.5));
  EXPECT_EQ(std::vector({Xs(t.lineStartWave), Xs(t.lineEndWave), Xs(t.dotWave)}),
            std::vector<std::vector<double>>({{1}, {2}, {3}}));
  EXPECT_EQ(std::tuple(g_PenParaPlus[1].nWord0, g_PenParaPlus[1].dbReal0), std::tuple(222, 1.0));
  EXPECT_EQ(g_LaserTimingPara[1][1].nPulsePeriod, 77u);  // only laser 0
  EXPECT_EQ(g_PenPara[2].nJumpDelay2, 500);               // only the pens given
  // The pen is enabled by both speeds.
  struct Case { double mark, jump; uint8_t enable; } cases[] = {  // speeds in mm/s
      {2000.0, 3000.0, 1}, {2000.0, 0.0, 0}, {1e-6, 1e-6, 1}, {1e-7, 3000.0, 0}, {kNaN, 3000.0, 0}, {2000.0, kInf, 0}};
  for (const Case& c : cases) {
    ASSERT_EQ(SetMarkPara(PenRecord(c.mark, c.jump).data(), 1), RV_OK);
    EXPECT_EQ(g_PenPara[0].bEnable, c.enable) << c.mark << " " << c.jump;
  }
}

TEST_F(PenParaTest, SetMarkParaPlusTakesItsBlocksByTheFlagWordAndWaveSettersOneLayerOfOneLaser) {
  struct Case { uint32_t flags; double real1; uint32_t period; } cases[] = {
      {0xA5000001, 6.75, 4800}, {0xA5FFFF02, 0.0, 6858}, {0xA4000003, 0.0, 4800}};
  for (const Case& c : cases) {
    ResetTables();
    std::vector<uint8_t> r(kPenParaPlusRecordBytes, 0xEE);
    PutU32(&r[0], 31);
    PutU32(&r[12], c.flags);
    for (auto [off, v] : Reals{{4, 2.5}, {16, 6.75}, {24, 7.0}, {32, 33.0}, {48, 12.5}}) PutF64(&r[off], v);
    for (auto [off, v] : Words{{40, 41}, {44, 42}, {56, 1}, {60, 2}}) PutU32(&r[off], v);
    ASSERT_EQ(SetMarkParaPlus(r.data(), 1), RV_OK);
    const PenParaPlus& plus = g_PenParaPlus[0];
    const LaserTimingPara& t = g_LaserTimingPara[1][0];
    EXPECT_EQ(std::tuple(plus.nWord0, plus.dbReal0, plus.dbReal1, t.nPulsePeriod),
              std::tuple(31, 2.5, c.real1, c.period)) << std::hex << c.flags;
    if (c.period == 6858) {
      EXPECT_EQ(std::vector<double>({1.0 * t.nPulseHigh, 1.0 * t.nFirstDelay, 1.0 * t.nSecondDelay, t.dbPower,
                                     1.0 * t.nLineWaveMode, 1.0 * t.nDotWaveMode}),
                std::vector<double>({2264, 42, 41, 12.5, 1, 2}));
    }
  }
  // The wave setters replace one layer of one laser.
  const std::vector<uint8_t> w = Wave({0.5, -1, 2}, 20);  // -1.0 is a point here
  ASSERT_EQ(SetMarkParaLinePowWave(1, 255, w.data(), 3, w.data(), 1), RV_OK);
  EXPECT_EQ(Xs(g_LaserTimingPara[1][255].lineStartWave), std::vector<double>({0.5, -1, 2}));
  EXPECT_EQ(Xs(g_LaserTimingPara[1][255].lineEndWave), std::vector<double>{0.5});
  EXPECT_TRUE(g_LaserTimingPara[0][255].lineStartWave.empty());
  ASSERT_EQ(SetMarkParaDotPowWave(0, 7, w.data(), 20), RV_OK);
  EXPECT_EQ(g_LaserTimingPara[0][7].dotWave.size(), 20u);
  ASSERT_EQ(SetMarkParaLinePowWave(1, 255, nullptr, 0, nullptr, 0), RV_OK);
  EXPECT_TRUE(g_LaserTimingPara[1][255].lineStartWave.empty());
}

TEST_F(PenParaTest, RefusalsReportCodeSixAndChangeNothing) {
  // Pens of speed 0 (disabled, were they read) and extra records of 0xA5.
  const std::vector<uint8_t> pens(257 * kMarkParaRecordBytes), plus(257 * kPenParaPlusRecordBytes, 0xA5);
  const std::vector<uint8_t> wave = Wave({}, 21);
  const uint8_t *p = pens.data(), *x = plus.data(), *w = wave.data();
  // A wave's count outside 0..20 has a text of its own (the language file's, else the built-in one).
  const char* waveText = "The power wave's point count is outside 0 to 20.";
  struct Case { const char* tag; std::function<uint32_t()> call; const char* text = "Layer out of range"; } cases[] = {
      {"SetMarkPara", [&] { return SetMarkPara(p, 257); }}, {"SetMarkPara", [&] { return SetMarkPara(nullptr, 1); }},
      {"SetMarkParaPlus", [&] { return SetMarkParaPlus(x, 257); }},
      {"SetMarkParaLinePowWave", [&] { return SetMarkParaLinePowWave(2, 0, w, 1, w, 1); }},
      {"SetMarkParaLinePowWave", [&] { return SetMarkParaLinePowWave(0, 256, w, 21, w, 1); }},
      {"SetMarkParaLinePowWave", [&] { return SetMarkParaLinePowWave(0, 0, w, 1, w, -1); }, waveText},
      {"SetMarkParaLinePowWave", [&] { return SetMarkParaLinePowWave(0, 0, w, 21, w, 1); }, waveText},
      {"SetMarkParaLinePowWave", [&] { return SetMarkParaLinePowWave(0, 0, w, 1, nullptr, 1); }},
      {"SetMarkParaDotPowWave", [&] { return SetMarkParaDotPowWave(-1, 0, w, 1); }},
      {"SetMarkParaDotPowWave", [&] { return SetMarkParaDotPowWave(0, -1, w, 1); }},
      {"SetMarkParaDotPowWave", [&] { return SetMarkParaDotPowWave(0, 0, w, 21); }, waveText},
  };
  const std::vector<WavePoint> kept = {{5, 5.0, 50.0}};
  for (auto& l : g_LaserTimingPara) l[0].lineStartWave = l[0].lineEndWave = l[0].dotWave = kept;
  size_t n = 0;
  for (const auto& [tag, call, text] : cases) {
    EXPECT_EQ(call(), RV_LAYER_NUMBER_OVER) << n;
    const std::vector<std::string> error = ErrorLines();
    ASSERT_EQ(error.size(), ++n);
    EXPECT_NE(error.back().find(std::string("] ") + tag + ":" + text), std::string::npos) << error.back();
    EXPECT_EQ(Boxes().size(), n);
    EXPECT_EQ(std::tuple(g_PenPara[0].bEnable, g_PenParaPlus[0].nWord0), std::tuple(1, 20)) << n;
    for (auto& l : g_LaserTimingPara) {
      EXPECT_EQ(l[0].nPulsePeriod, 4800u) << n;
      EXPECT_EQ(std::vector({Xs(l[0].lineStartWave), Xs(l[0].lineEndWave), Xs(l[0].dotWave)}),
                std::vector<std::vector<double>>(3, {5.0})) << n;
    }
  }
  // No records at all: 0, nothing changed, nothing reported.
  EXPECT_EQ(std::tuple(SetMarkPara(p, -1), SetMarkParaPlus(x, -1)), std::tuple(RV_OK, RV_OK));
  EXPECT_EQ(std::tuple(g_PenPara[0].bEnable, g_PenParaPlus[0].nWord0, Boxes().size()), std::tuple(1, 20, n));
}

}  // namespace
