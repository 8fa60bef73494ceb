// The scanner sequences as exact words and times: jumps, a layer's jump parameters, prologue, epilogue, dots.
#include <cmath>
#include <limits>
#include <tuple>

#include "frame/bytes.h"
#include "frame/errors.h"
#include "laser/light_path.h"
#include "markbase/io_words.h"
#include "mark/rot_mark.h"
#include "mark/scan_sequences.h"
#include "test_scan_fixture.h"

namespace qztest {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST_F(ScanSeqTest, DirectJumpsWriteBothWordsTheArrivalWaitAndTheJumpDelayByThePensParameters) {
  // NaN x: home; fieldY: the field's Y size (X 100 mm)
  struct Case {
    const char* name; uint32_t mode; int32_t bits21, delay; double x, y; uint32_t wx, wy; double fieldY = 100;
  };
  const Case cases[] = {
      {"16-bit, laser job", 0, 0, 300, 10, -5, 0x01089999, 0x01097332},
      // Each axis by its own field: (10 + 50) / 100 and (10 + 25) / 50 of 65535.
      {"16-bit, job without laser, 100 x 50 mm", 1, 0, 300, 10, 10, 0x010C9999, 0x010DB332, 50},
      {"21-bit", 1, 1, 0, 3, 4, 0x0134CCCD, 0x01766666},
      {"beyond the field, a negative jump delay", 0, 0, -50, 60, -70, 0x0108FFFF, 0x01090000},
      {"home", 0, 0, 0, kNaN, 0, 0x0108828E, 0x0109851E},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job(c.mode);
    g_SystemPara.bNewBoxCali = c.bits21;
    g_Scan.nJumpDelayMax = c.delay;
    g_Scan.SetFieldSizes(100, c.fieldY, 17);
    if (std::isnan(c.x)) {
      g_Scan.JumpToHome();
    } else {
      g_Scan.JumpTo(c.x, c.y);
    }
    const uint64_t end = 24 + static_cast<uint64_t>(std::max(c.delay, 0));
    EXPECT_EQ(Main(), (Words{{10, c.wx}, {10, c.wy}, {20, SW_NOP}, {21, 0x560F4240}, {22, SW_NOP},
                             {23, 0x51608001}, {24, SW_NOP}, {end, SW_NOP}}));
    EXPECT_EQ(g_Scan.dbCurX, std::isnan(c.x) ? 1.0 : c.x);
  }
  Job(0);
  ExpectCode(7, 0, [] { g_Scan.JumpTo(kNaN, 0); });
  EXPECT_TRUE(Main().empty());
  EXPECT_EQ(g_Scan.dbCurX, 1.0);
  // The pen's jump parameters.
  g_PenPara[7] = {.dbMarkSpeed = 0.5, .dbJumpSpeed = 2.0, .nJumpDelay1 = 111, .nJumpDelay2 = 222, .nJumpDelay3 = 333};
  g_PenParaPlus[7] = {.nWord0 = 44, .dbReal0 = 7.9};
  g_SystemPara.FRAME_SPEED = 2500;  // mm/s: both speeds in run mode 3
  for (uint32_t mode : {1u, 3u}) {
    Job(mode);
    g_Scan.LoadPenJumpPara(7);
    const CScan& s = g_Scan;
    EXPECT_EQ(std::tuple(s.dbMarkSpeed, s.dbJumpSpeed), mode == 3 ? std::tuple(0.0025, 0.0025) : std::tuple(0.5, 2.0));
    // Jump delay 2 is the full jump delay, 1 the end delay, 3 the corner delay.
    EXPECT_EQ(std::tuple(s.nJumpDelayMax, s.nMarkEndDelay, s.nPolygonDelay, s.nJumpDelayMin, s.nLongJumpLen),
              std::tuple(222, 111, 333, 44, 7));
  }
  ExpectCode(6, 1, [] { g_Scan.LoadPenJumpPara(256); });
  EXPECT_EQ(g_Scan.nJumpDelayMax, 222);
}

TEST_F(ScanSeqTest, JumpIfMovedJumpsOnAnUpperFloorOnlyWhenElsewhere) {
  g_Scan.dbJumpSpeed = 0.05;
  g_Scan.nJumpDelayMax = 100;
  g_Scan.nJumpDelayMin = 20;
  g_Scan.JumpIfMoved(0, 0);
  for (int i = 0; i < kFloorCount; ++i) EXPECT_FALSE(g_MarkFloor[i].AnyWords());
  // 2 mm in 4 steps of 10 µs (their words: GalvoTest); 2 of 20 mm: 20 + 80 / 10 = 28, rounded to 30 µs.
  g_Scan.JumpIfMoved(2, 0);
  EXPECT_EQ(std::tuple(Floor().ch0.size(), Floor().ch0.back()), std::tuple(size_t{10}, TimedWord{70, SW_NOP}));
  EXPECT_EQ(std::tuple(Floor().clock, nFloor, g_Scan.dbCurX), std::tuple(70u, 0, 2.0));  // the main stream goes on
}

TEST_F(ScanSeqTest, PrologueAndEpiloguePerLaserTypeAndCodes) {
  const std::string synTrig = "等待能分SynTrig释放";
  AddWaitDesc(1, 0x8, 0, synTrig);
  LoadLightPathConfig();
  struct Case { const char* name; Config setup; uint32_t startFlag; int32_t out0, notGridel; Stream expected; };
  Case cases[] = {
      {"no laser, home first", {0, 1, 0}, 0, 0, 0,
       Stream().Jump(0x010C828E, 0x010D851E).Nop(1).Jump(0x010C828E, 0x010D851E)},
      // Enable output 23 once, then its 200 ms ready delay.
      {"21-bit, laser type 1", {1, 0, 1}, 1, 1, 1,
       Stream().Word(1, 0, 0x04000002).Word(1, 0, 0x20001001).Jump(0x01300000, 0x01700000).Word(1, 0, 0x15000001)
           .Word(1, 1, 0x22002002).Nop(200000)},
      // Each laser's enable output (21, 28) with its 10 ms ready delay.
      {"two lasers, type 6", {6, 0, 0}, 1, 0, 0,
       Stream().Nop(1).Jump(0x01087FFF, 0x01097FFF).Word(1, 0, 0x15000001).Word(1, 1, 0x21200200).Nop(10000)
           .Word(1, 1, 0x22040040).Nop(10000)},
      {"energy-splitting master", {0, 0, 0, 5}, 1, 0, 0,
       Stream().Nop(1).Jump(0x01087FFF, 0x01097FFF).Word(1, 0, 0x15000001).Word(1, 5000, 0x20008000)},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    Configure(c.setup);
    g_MarkJob.g_nStartPosFlag = c.startFlag;
    g_SystemPara.bOut0IsRun = c.out0;
    g_SystemPara.bCardNotGridel = c.notGridel;
    AppendMarkStartSeq();
    if (c.setup.ossType == 5) MakeSeqNamedReg(c.expected.w, 1, c.expected.clock, 1000, synTrig);
    EXPECT_EQ(Main(), c.expected.w);
  }
  // The epilogue per laser type and end.
  struct EndCase { const char* name; Config setup; uint32_t endArg; uint8_t fromMarkEnd; int32_t wob; double curX;
                   Stream expected; } ends[] = {
      // PA-no-cus 20 and enable 21 cleared, idle timing, outputs 1 and 0; at the rest position already.
      {"laser type 3 after QZ_MarkEnd", {3, 0, 0}, 0, 1, 0, 1,
       Stream().Word(1, 1, 0x21100000).Word(1, 0, 0x13000000).Word(1, 0, 0x14000000 | 960).Word(1, 1, 0x16000000)
           .Word(1, 0, 0x20002000).Word(5000, 1, 0x21200000).Word(1, 0, 0x20001000).Word(1, 0, SW_END).Nop(1)},
      // Fibre idle timing after 1 ms, the strobe cleared; a nonzero end argument leaves the scanner.
      {"fibre laser without laser, 21-bit", {2, 1, 1}, 1, 1, 0, 5,
       Stream().Word(1, 1, 0x21100000).Nop(1000).Word(1, 0, 0x130001E0).Word(1, 0, 0x140001E0).Word(1, 8000, 0x16000000)
           .Word(1, 0, 0x20002000).Word(5000, 1, 0x21200000).Word(1, 0, 0x22200000).Word(1, 0, 0x20001000)
           .Word(1, 0, SW_END).Nop(1)},
      // Home whatever the position, then the correction end and the current position; outputs 5, 6.
      {"wobble, laser job, 21-bit", {0, 0, 1}, 1, 1, 1, 1,
       Stream().Word(1, 0, 0x13000000).Word(1, 0, 0x14000000 | 960).Word(1, 1, 0x16000000).Word(1, 0, 0x20002000)
           .Jump(0x0131999A, 0x01733333).Word(1, 0, 0x04000001).Jump(0x0131999A, 0x01733333)
           .Word(1, 1, 0x20020000).Word(1, 1, 0x20040000).Word(1, 0, 0x20001000).Word(1, 0, SW_END).Nop(1)},
      // Laser 0 (fibre) idles after 1 ms, laser 1 at once; both enables cleared, both powers 0; home.
      {"two lasers, type 6, whole-job runner", {6, 0, 0}, 0, 0, 0, 1,
       Stream().Word(1, 1, 0x21100000).Nop(1000).Word(1, 0, 0x130001E0).Word(1, 0, 0x140001E0).Word(1, 8000, 0x16000000)
           .Word(1, 0, 0x1A000000).Word(1, 0, 0x1B0003C0).Word(1, 1, 0x1C000000).Word(1, 0, 0x20002000)
           .Word(5000, 1, 0x21200000).Word(5000, 1, 0x22040000).Word(100, 100, 0x29000000).Word(100, 100, 0x29020000)
           .Word(1, 0, 0x22200000).Jump(0x0108828E, 0x0109851E).Word(1, 0, 0x20001000).Word(1, 0, SW_END).Nop(1)},
      // The switch's request output 30 cleared 1 ms after and before.
      {"optical switch", {0, 1, 0, 2}, 1, 1, 0, 0,
       Stream().Word(1, 0, 0x13000000).Word(1, 0, 0x14000000 | 960).Word(1, 1, 0x16000000).Word(1, 0, 0x20002000)
           .Word(1000, 1000, 0x22100000).Word(1, 0, 0x20001000).Word(1, 0, SW_END).Nop(1)},
  };
  for (EndCase& c : ends) {
    SCOPED_TRACE(c.name);
    Reset();
    Configure(c.setup);
    g_SystemPara.bOut0IsRun = g_SystemPara.bOut1IsLaser = 1;
    g_SystemPara.wob = c.wob;
    g_SystemPara.nPrePwmL = 960;
    g_SystemPara.nIdlePwmH = g_SystemPara.nIdlePwmL = 480;
    g_SystemPara.nPrrBeforeMoPaUS = 8000;
    g_Scan.dbCurX = c.curX;
    g_Scan.dbCurY = 2;
    AppendMarkEndSeq(c.endArg, c.fromMarkEnd);
    EXPECT_EQ(Main(), c.expected.w);
    EXPECT_TRUE(Floor().ch0.empty());
  }
}

TEST_F(ScanSeqTest, DotListAppliesTheLayerJumpsOnlyToMovedDotsAndMarksEachOnItsFloor) {
  g_SystemPara.nDaOutBeforeLaserMS = g_SystemPara.nPrrBeforeMoPaUS = g_SystemPara.ChangeWaveNoDelay_ms = 0;
  Configure({0, 0, 0});
  g_SystemPara.bCloseFeedback = g_SystemPara.bScanFeedbackWait = 1;
  uint8_t points[3 * kHostPointBytes] = {};
  PutF64(points + kHostPointBytes, 2.0);  // (0, 0) where the scanner is, then (2, 0)
  EXPECT_EQ(MarkDotList(points, 2, 1, 50.9), 0u);
  // Pen 1's power (0.1 %), then per dot the feedback wait on the main stream.
  const auto feedback = [](Stream& s) -> Stream& {
    return s.Word(1, 1, 0x0300000F).Word(1, 1, 0x560F4240).Word(1, 1, 0x51648001);
  };
  Stream main;
  main.Word(100, 100, 0x29000004);
  feedback(main);
  main.clock = 437;  // after the jump to the second dot
  feedback(main);
  EXPECT_EQ(Floor().ch3, main.w);
  // Each dot's floor lands after the main stream: the galvanometer frame of the dot (0 and 50 + end
  // delay 100); the jump of 2 mm in one step with its 70 µs delay (20 + 480 x 2 / 20, rounded).
  EXPECT_EQ(Floor().ch0, (Words{{207, SW_NOP}, {357, SW_NOP}, {357, SW_NOP}, {367, 0x0100851E}, {367, 0x01017FFF},
                                {437, SW_NOP}, {444, SW_NOP}, {594, SW_NOP}}));
  // The laser on after its 20 µs on delay, off after 50 + 200 µs off delay aligned down to the 100 µs pulse.
  const auto dot = [](uint64_t t) {
    return Words{{t, SW_NOP}, {t, 0x11000960}, {t, 0x12000960}, {t, 0x16000001}, {t + 200, 0x16000000},
                 {t + 200, SW_NOP}};
  };
  Words laser = dot(227);
  for (const TimedWord& w : dot(464)) laser.push_back(w);
  EXPECT_EQ(Floor().ch1, laser);
  Job(0);
  g_mapErrText[RV_DOT_MARK_ILLEGAL_FOR_ROTATION] = "no dots";
  g_RotatePara.nEnable = 1;  // rotation marking takes no dots (of any time from 0.99): the code's text in the log
  ExpectCode(18, 0, [&] { MarkDotList(points, 2, 1, 0.995); });
  g_RotatePara.nEnable = 0;
  g_mapErrText.clear();
  EXPECT_TRUE(HasLine(ErrorLines(), "QZ_MarkDot:no dots (points given, count 2"));
  PutF64(points + 2 * kHostPointBytes + 8, kNaN);
  ExpectCode(7, 0, [&] { MarkDotList(points, 3, 1, 50); });
  EXPECT_TRUE(Main().empty());
}

}  // namespace
}  // namespace qztest
