// The encoder, fly, count-marker, task and camera steps of a job as words and times on the main stream.

#include <cmath>
#include <limits>
#include <tuple>

#include "calibration/box_para.h"
#include "calibration/scan.h"
#include "frame/fly_para.h"
#include "mark/fly_encode.h"
#include "mark/layer_switch.h"
#include "mark/mark_flow.h"
#include "mark/scan_sequences.h"
#include "support/trace.h"
#include "test_mark_fixture.h"

namespace {

using qztest::Words;

class MarkFlowTest : public qztest::MarkCallTest {
 protected:
  void SetUp() override {
    MarkCallTest::SetUp();
    g_FlyScanPara = FlyScanPara();
    ASSERT_TRUE(g_FlyEncode.SetPara(1000000, 0.1, 0.9, 0.0, 1000.0));
    g_FlyEncode.ResetUnwrap();
  }
  static const Words& Main() { return g_MarkFloor[0].ch3; }
  // The main stream's words from index `from`, times relative to `t0`.
  static Words From(size_t from, uint64_t t0) {
    Words out;
    for (size_t i = from; i < Main().size(); ++i) out.push_back({Main()[i].time - t0, Main()[i].word});
    return out;
  }
};

// The ten words of an encoder wait for p at t + 1 .. t + 3.
void EncoderWait(Words& out, uint64_t t, uint32_t p) {
  qztest::AddWait(out, t, 0xFFFFFF, p, std::nullopt, 0x58000103, 0x51630020);
}

TEST_F(MarkFlowTest, EncoderWaitsComeFivePulsesAheadAndStayWithinTheRangeOnceEachWay) {
  struct Case { int32_t pos; uint32_t first, second; } cases[] = {
      {100, 95, 100}, {0, 999995, 0},
      // -100: 0xFFFF9C, one subtraction of the range leaves both beyond it.
      {-100, 0xFFFFA1 - 1000000, 0xFFFF9C - 1000000},
      {0x1000064, 95, 100},  // the top byte is not the counter's
  };
  for (const Case& c : cases) {
    QZ_TRACE(c.pos);
    g_MarkFloor[0].Reset();
    MarkEncWait(c.pos);
    EXPECT_EQ(qztest::EncoderWaitValues(Main()), (std::vector<uint32_t>{c.first, c.second}));
  }
  g_MarkFloor[0].Reset();
  MarkEncWait(100);
  Words expected;
  EncoderWait(expected, 0, 95);
  EncoderWait(expected, 3, 100);
  EXPECT_EQ(Main(), expected);
}

TEST_F(MarkFlowTest, FlyOnEncResetsOncePerJobAndSwitchesFlyMarkingAroundOffByTheHomeSetting) {
  g_FlyScanPara.nFlyOffHome = 2;
  MarkFlyOnEnc(0x12345678, 1, 0);
  Words expected = {{1, 0x61000000}, {2, 0x50000000}, {3, 0x61000001}, {4, 0x50000000}};
  EncoderWait(expected, 4, 0x12345678);  // the value as given: its top byte under mask byte 0
  EXPECT_EQ(Main(), expected);
  const size_t n = Main().size();
  MarkFlyOnEnc(7, 1, 1);
  Words second = {{1, 0x61000001}, {2, 0x50000000}};
  EncoderWait(second, 2, 7);
  second.insert(second.end(), {{6, 0x64000001}, {7, 0x50000000}, {8, 0x51638040}, {9, 0x50000000}});
  EXPECT_EQ(From(n, 7), second);
  EXPECT_EQ(std::tuple(g_MarkFlow.nFlySwitchOn, g_MarkFlow.bEncResetSent), std::tuple(1u, 1u));
  // The switch off by the home setting.
  g_MarkFloor[0].Reset();
  MarkFlySwitch(0);
  EXPECT_EQ(Main(), (Words{{1, 0x64000000}, {2, 0x50000000}, {3, 0x51638040}, {4, 0x50000000}}));
  // 0: a jump to where the scanner is; 1: a jump home. Both leave the scanner's jump words.
  for (int32_t home : {0, 1}) {
    QZ_TRACE(home);
    g_MarkFloor[0].Reset();
    g_FlyScanPara.nFlyOffHome = home;
    g_Scan.dbCurX = 3.0;
    MarkFlySwitch(0);
    ASSERT_GT(Main().size(), 4u);
    EXPECT_EQ(Main()[4].word >> 16, 0x010Cu);  // an unlit jump: the job does not fire the laser
    EXPECT_EQ(g_Scan.dbCurX, home == 0 ? 3.0 : static_cast<double>(g_SystemPara.MarkEnd_X));
  }
}

TEST_F(MarkFlowTest, AreaSafeFlyWordAndFlyPositionsRefusedWithoutWords) {
  const double r = CCaliLink::HalfRange();
  struct Case { double dirX, dirY; uint32_t dir; double pos; uint32_t word; } cases[] = {
      {1, 0, 0, -r, 0x67020000},     {1, 0, 0, 0, 0x67028000},      {1, 0, 0, r, 0x6702FFFF},
      {1, 0, 1, 0, 0x67008000},      {1, 0, 7, 0, 0x67008000},      // any other direction is 1
      {-1, 0, 7, 0, 0x67028000},     {0, -1, 0, 0, 0x67018000},     // negative component: d as given
      {std::sqrt(0.5), std::sqrt(0.5), 0, 2 * r, 0x6703FFFF},       // 45°: axis 1
  };
  for (const Case& c : cases) {
    QZ_TRACE(::testing::Message() << c.dirX << " " << c.dirY << " " << c.dir << " " << c.pos);
    g_MarkFloor[0].Reset();
    g_FlyScanPara.dbFlyDirX = c.dirX;
    g_FlyScanPara.dbFlyDirY = c.dirY;
    MarkAreaSafeFly(1, c.dir, c.pos);
    EXPECT_EQ(std::tuple(Main(), g_FlyScanPara.bFlyMarkRangeEn), std::tuple(Words{{1, c.word}, {2, 0x50000000}}, 1));
  }
  // Fly positions refused without words.
  g_MarkFloor[0].Reset();
  EXPECT_EQ(MarkFlyEmptyPosAbs(std::numeric_limits<double>::quiet_NaN()), 7u);
  EXPECT_EQ(MarkFlyMarkPosAbs(std::numeric_limits<double>::infinity()), 7u);
  EXPECT_EQ(MarkEncMeasDis(-std::numeric_limits<double>::infinity()), 7u);
  EXPECT_TRUE(Main().empty());
  ASSERT_EQ(MarkFlyMarkPosAbs(100.0), 0u);  // 500000 pulses
  const size_t n = Main().size();
  EXPECT_EQ(MarkFlyEmptyPosAbs(99.0), 2u);  // behind the last fly position
  EXPECT_EQ(MarkFlyMarkPosAbs(50.0), 2u);
  const double base = g_FlyEncode.State().dMeasBase;
  EXPECT_EQ(MarkEncMeasDis(1e6), 2u);  // 5e9 pulses, more than the encoder counts: the base kept
  EXPECT_EQ(std::tuple(g_FlyEncode.State().dMeasBase, Main().size()), std::tuple(base, n));
  // 800 mm after a reset: waits from 900000 in tenths of the range below 4000000 - 100000.
  g_MarkFloor[0].Reset();
  g_FlyEncode.ResetUnwrap();
  ASSERT_EQ(MarkFlyEmptyPosAbs(800.0), 0u);
  const std::vector<uint32_t> values = qztest::EncoderWaitValues(Main());
  ASSERT_EQ(values.size(), 30u);
  EXPECT_EQ(values.front(), 900000u);
  EXPECT_EQ(values[1], 0u);  // 1000000 wraps
  EXPECT_EQ(values.back(), 800000u);
}

TEST_F(MarkFlowTest, CountMarkersDelaysCompensationAndTaskWords) {
  MarkBufferCnt(0x12345);
  MarkBufDelay(0);
  MarkBufDelay(250);
  MarkUpdateCompensateWords();
  EXPECT_EQ(Main(), (Words{{1, 0x62002345},
                           {2, 0x50000000}, {2, 0x50000000}, {252, 0x50000000}, {253, 0x66000001}, {254, 0x50000000},
                           {255, 0x51638040}, {256, 0x50000000}, {256, 0x51648001},
                           {257, 0x50000000}}));
  // The card's count widened across its wrap.
  struct Case { uint64_t done; uint32_t card; uint64_t widened; } cases[] = {
      {0, 0, 0}, {3, 5, 5}, {0xFFFF, 2, 0x10002}, {0x1FFFE, 0xFFFF, 0x1FFFF}, {0x10005, 0x10005, 0x10005}};
  for (const Case& c : cases) EXPECT_EQ(WidenCount(c.done, c.card), c.widened) << c.done << " " << c.card;
  // The task words.
  g_MarkFloor[0].Reset();
  MarkLoopStart(3, 0x1000A);
  MarkLoopEnd(3);
  MarkJumpTaskNo(9);
  MarkFlagFinish();
  EXPECT_FALSE(CMarkGen::bSmallTaskPending);
  MarkTaskLabel(4);
  EXPECT_TRUE(CMarkGen::bSmallTaskPending);
  EXPECT_EQ(Main(), (Words{{1, 0x5410000A},
                           {2, 0x50000000}, {3, 0x51800003}, {4, 0x50000000}, {5, 0x54200000}, {5, 0x51A10003},
                           {6, 0x50000000}, {7, 0x54300000}, {8, 0x50000000}, {9, 0x51A00009}, {10, 0x50000000},
                           {11, 0x51500002}, {12, 0x50000000}, {13, 0x51800004},
                           {14, 0x50000000}}));
}

TEST_F(MarkFlowTest, InputJumpsAndTheCameraSequence) {
  for (bool ok : {true, false}) {
    QZ_TRACE(ok);
    g_MarkFloor[0].Reset();
    MarkJumpByIO(0x0F, 0x05, 7, ok);
    Words expected;
    for (uint32_t lane = 0; lane < 4; ++lane) {
      expected.push_back({1, 0x52000000u | lane});
      expected.push_back({1, lane == 0 ? 0x55000F05u : 0x55000000u});
    }
    expected.insert(expected.end(), {{2, 0x56000000}, {2, 0x58001111}, {3, 0x51618020}});
    expected.insert(expected.end(), {{4, 0x52000000},
                                     {4, ok ? 0x53000107u : 0x53000000u}, {4, 0x52000001},
                                     {4, ok ? 0x53000000u : 0x53000107u}, {4, 0x52000005},
                                     {5, 0x51700000}});
    EXPECT_EQ(Main(), expected);
  }
  // The camera sequence.
  g_MarkFloor[0].Reset();
  g_Scan.SetFieldSizes(100.0, 60.0, 17.0);
  const auto camera = [](const Words& all) {
    Words out;
    for (const TimedWord& w : all) {
      const uint32_t op = w.word >> 24;
      if ((op >= 0x31 && op <= 0x34) || op == 0x52 || op == 0x53 || w.word == 0x51608008 || w.word == 0x51700000 ||
          w.word == 0x560F4240)
        out.push_back(w);
    }
    return out;
  };
  // Enable 0: the start, the time-out, the wait, a jump where the scanner is.
  EmitCcdMarkSeq({0, 42, 1.0, 2.0, 3, 2, 0, 5});
  ASSERT_GT(Main().size(), 6u);
  EXPECT_EQ(Words(Main().begin(), Main().begin() + 6),
            (Words{{1, 0x33000000}, {2, 0x50000000}, {3, 0x560F4240}, {4, 0x50000000}, {5, 0x51608008}, {6, 0x50000000}}));
  EXPECT_EQ(camera(Main()).size(), 4u);  // and the jump's own time-out
  struct Case { int32_t number; double x, y; int32_t field, selector, flag; uint32_t value, cx, cy, para, second; };
  const Case cases[] = {
      {42, -50.0, 30.0, 3, 2, 0, 5, 0, 0xFFFF, 0x34004C42, 0x53000105},
      {7, 50.0, -30.0, 0x13, 1, 1, 5, 0xFFFF, 0, 0x34000C07, 0x53000000},
      {99, 0.0, 0.0, 0, 0, 2, 0, 32767, 32767, 0x34004099, 0x53000200},
      {5, 80.0, -80.0, 0, 0, 1, 0, 0xFFFF, 0, 0x34000005, 0x53000200},  // beyond the field: limited
  };
  for (const Case& c : cases) {
    QZ_TRACE(c.number);
    g_MarkFloor[0].Reset();
    g_Scan.dbCurX = c.x;  // no move: only the scanner's jumps to where it is
    g_Scan.dbCurY = c.y;
    EmitCcdMarkSeq({1, c.number, c.x, c.y, c.field, c.selector, c.flag, c.value});
    const Words w = camera(Main());
    // start, 1 s, wait, jump's 1 s, codes, parameter word, registers, 1 s, wait, jump's 1 s, lane 3, close
    ASSERT_EQ(w.size(), 16u);
    EXPECT_EQ(std::tuple(w[4].word, w[5].word, w[6].word), std::tuple(0x31000000u | c.cx, 0x32000000u | c.cy, c.para));
    EXPECT_EQ(w[4].time, w[6].time);
    EXPECT_EQ(Words(w.begin() + 7, w.begin() + 11), (Words{{w[6].time + 1, 0x52000000},
                                                            {w[6].time + 1, 0x53000000}, {w[6].time + 1, 0x52000001},
                                                            {w[6].time + 1, c.second}}));
    EXPECT_EQ(w[11], (TimedWord{w[6].time + 2, 0x560F4240}));
    EXPECT_EQ(w[12], (TimedWord{w[6].time + 4, 0x51608008}));
    EXPECT_EQ(w[14].word, 0x52000003u);
    EXPECT_EQ(w[15], (TimedWord{w[14].time + 1, 0x51700000}));
  }
  // The refused camera steps.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Refusal { CcdStep s; uint32_t code; } refusals[] = {
      {{1, 0, 0, 0, 0, 2, 0, 0x10000}, 2}, {{0, 0, nan, 0, 0, 2, 0, 0x10000}, 2}, {{1, 0, nan, 0, 0, 0, 0, 0}, 7},
      {{1, 0, 0, -std::numeric_limits<double>::infinity(), 0, 0, 0, 0}, 7},      {{0, 0, nan, nan, 0, 0, 0, 0}, 0},
      {{1, 0, 0, 0, 0, 1, 0, 0x10000}, 0},  // the value is read only with selector 2
  };
  for (const Refusal& c : refusals) EXPECT_EQ(CheckCcdStep(c.s), c.code) << c.s.enable << " " << c.s.selector;
}

// QZ_MarkEnd (not the whole-job runners) switches fly marking still on off after output 1, then jumps home.
TEST_F(MarkFlowTest, TheJobEndSwitchesFlyMarkingOffAfterQZMarkEnd) {
  g_SystemPara.MarkEnd_X = 4.0;
  struct Case { uint32_t flyOn; uint8_t fromMarkEnd; bool off; } cases[] = {
      {1, 1, true}, {5, 1, true}, {0, 1, false}, {1, 0, false}};
  for (const Case& c : cases) {
    QZ_TRACE(::testing::Message() << c.flyOn << " " << int{c.fromMarkEnd});
    g_MarkFloor[0].Reset();
    g_Scan.dbCurX = g_Scan.dbCurY = 0.0;
    g_MarkFlow.nFlySwitchOn = c.flyOn;
    AppendMarkEndSeq(1, c.fromMarkEnd);  // 1: QZ_MarkEnd itself leaves the scanner where it is
    size_t at = Main().size();
    for (size_t i = 0; i < Main().size(); ++i)
      if (Main()[i].word == 0x64000000) at = i;
    ASSERT_EQ(at < Main().size(), c.off);
    if (!c.off) continue;
    const uint64_t t = Main()[at].time, base = static_cast<uint64_t>(g_SystemPara.BASETIME);
    EXPECT_EQ(Words(Main().begin() + at - 1, Main().begin() + at + 5),
              (Words{{t - 1, 0x50000000}, {t, 0x64000000}, {t + 1, 0x50000000}, {t + 2, 0x51638040},
                     {t + 3, 0x50000000}, {t + 3 + base, 0x010C8A3C}}));  // 4 mm in the 100 mm field
  }
  g_SystemPara.MarkEnd_X = 0.0;
}

}  // namespace
