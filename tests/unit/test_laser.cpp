// Laser channels: output roles by type, layer selection and its tick checks, pulse alignment, on and off words.
#include <string>
#include <tuple>

#include "support/trace.h"
#include "laser/laser_stream.h"
#include "test_laser_fixture.h"

namespace qztest {
namespace {

// ---- output roles by laser type

struct Roles { uint32_t atStart, eachSegment, enableBit; double readyMs; uint32_t paNoCus, paNoCusBit; int32_t paBit;
               uint32_t paSerial, moSerial, fiber; };

void ExpectRoles(const CLaser& l, const Roles& r) {
  EXPECT_EQ(std::tuple(l.bEnableAtStart, l.bEnableEachSegment, l.nEnableBit, l.dbReadyAfterEnableMS, l.bPaNoCus,
                       l.nPaNoCusBit, l.nPaBit, l.nMoBit, l.bPaBySerial, l.bMoBySerial, l.bFiberPwm),
            std::tuple(r.atStart, r.eachSegment, r.enableBit, r.readyMs, r.paNoCus, r.paNoCusBit, r.paBit, 29u,
                       r.paSerial, r.moSerial, r.fiber));
}

TEST_F(LaserTest, OutputRolesByLaserType) {
  const Roles none1 = {0, 0, 0, 10.0, 0, 0, -1, 0, 0, 0};  // a second laser without roles
  // keys: [LASER] lines besides LASER_TYPE.
  struct Case { const char* name; std::string keys; int32_t type; int32_t count; Roles l0; Roles l1; } cases[] = {
      {"type 0: defaults", "", 0, 1, {0, 0, 0, 10.0, 0, 0, 28, 0, 0, 0}, {}},
      {"type 1: enable 23 at start", "", 1, 1, {1, 0, 23, 200.0, 0, 0, 28, 1, 1, 0}, {}},
      {"type 1, YLS 1: as type 5", "bYLS=1\n", 1, 1, {0, 1, 25, 6.0, 0, 0, 28, 1, 1, 0}, {}},
      {"type 1, YLS 3", "bYLS=3\n", 1, 1, {1, 0, 23, 200.0, 0, 0, -1, 1, 1, 0}, {}},
      {"type 1, YLS 3, software enable", "bYLS=3\nTopSoftWareControlYlrEnable=1\n", 1, 1,
       {0, 0, 0, 10.0, 0, 0, -1, 1, 1, 0}, {}},
      {"type 7: two lasers", "YLRReadyAfterEnableMS=150.5\n", 7, 2, {1, 0, 23, 150.5, 0, 0, 28, 1, 1, 0}, none1},
      {"type 2: fibre", "", 2, 1, {1, 0, 21, 10.0, 1, 20, 19, 0, 0, 1}, {}},
      {"type 3, close each laser", "bCloseMoEachLaser=1\n", 3, 1, {0, 1, 21, 10.0, 1, 20, 19, 0, 0, 0}, {}},
      {"type 3, manual PA", "bManualPa=1\n", 3, 1, {1, 0, 21, 10.0, 0, 20, 19, 0, 0, 0}, {}},
      {"type 3, manual PA, nPaNoCus 5", "bManualPa=1\nnPaNoCus=5\n", 3, 1, {1, 0, 21, 10.0, 1, 5, 19, 0, 0, 0}, {}},
      {"type 4", "LaserReadyAfterEnableMS=12.5\n", 4, 1, {0, 0, 0, 12.5, 1, 20, 19, 0, 0, 0}, {}},
      {"type 5: segment enable 25", "YLSReadyAfterEnableMS=7.25\n", 5, 2, {0, 1, 25, 7.25, 0, 0, 28, 0, 0, 0}, none1},
      {"type 6", "", 6, 2, {1, 0, 21, 10.0, 1, 20, 19, 0, 0, 1}, {1, 0, 28, 10.0, 0, 0, 26, 0, 0, 0}},
      {"type 6, software enable", "TopSoftWareControlYlrEnable=1\n", 6, 2, {0, 0, 0, 10.0, 1, 20, 19, 0, 0, 1},
       {1, 0, 28, 10.0, 0, 0, 26, 0, 0, 0}},
      {"type 6, nPaNoCus on both", "nPaNoCus=30\n", 6, 2, {1, 0, 21, 10.0, 1, 30, 19, 0, 0, 1},
       {1, 0, 28, 10.0, 1, 30, 26, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    QZ_TRACE(c.name);
    WriteCfg("[LASER]\nLASER_TYPE=" + std::to_string(c.type) + "\n" + c.keys +
             "[POWER]\nCURRENT_RANGE_DA_OUT=5\nCURRENT_RANGE_LASER_IN_2=2.5\n");
    // A previous configuration leaves nothing behind.
    g_Laser[0] = CLaser{};
    g_Laser[0].bEnableAtStart = g_Laser[0].bEnableEachSegment = 1;
    g_Laser[0].nEnableBit = g_Laser[0].nPaNoCusBit = 7;
    g_SystemPara.InitParaLaser();
    ASSERT_EQ(g_SystemPara.nLaserCount, c.count);
    for (int i = 0; i < c.count; ++i) {
      g_Laser[i].LoadConfig(i, g_SystemPara.bYLS, g_SystemPara.TopSoftWareControlYlrEnable);
    }
    const double daOut[2] = {5.0, 10.0}, laserIn[2] = {10.0, 2.5};
    for (int i = 0; i < c.count; ++i) {
      QZ_TRACE(i);
      const CLaser& l = g_Laser[i];
      ExpectRoles(l, i ? c.l1 : c.l0);
      EXPECT_EQ(std::tuple(l.nIndex, l.dbCurrentRangeDaOut, l.dbCurrentRangeLaserIn, g_WaveHolder[i].pLaser,
                           g_WaveHolder[i].nChannelId),
                std::tuple(i, daOut[i], laserIn[i], &l, 2u * i));
    }
  }
}

TEST_F(LaserTest, JobResetOfTheLasersInUse) {
  for (int i = 0; i < 2; ++i) {
    g_Laser[i].nCurLayer = 4;
    g_Laser[i].bApplyDelays = g_Laser[i].bSegmentOpen = i;
    g_WaveHolder[i].dbPower = 5000.0;
  }
  g_SystemPara.nLaserCount = 1;
  Job(0);
  EXPECT_EQ(std::tuple(g_Laser[0].nCurLayer, g_Laser[0].bApplyDelays, g_WaveHolder[0].dbPower), std::tuple(-1, 1, -1.0));
  // Laser 1 is not in use.
  EXPECT_EQ(std::tuple(g_Laser[1].nCurLayer, g_WaveHolder[1].dbPower), std::tuple(4, 5000.0));
  g_SystemPara.nLaserCount = 2;
  Job(0);
  EXPECT_EQ(g_Laser[1].bSegmentOpen, 0);
}

// ---- layer selection

LaserTimingPara Timing(uint32_t high, uint32_t low) {
  LaserTimingPara t;
  t.nPulseHigh = high;
  t.nPulseLow = low;
  return t;
}

// The words of StreamLaserDelaysCur for laser 0 at a clock of c.
Words TimingWords(uint64_t c, uint32_t high, uint32_t low, uint32_t start = SW_PULSE_START_L0) {
  return {{c + 1, SW_NOP}, {c + 1, 0x11000000 | high}, {c + 1, 0x12000000 | low}, {c + 1, start}, {c + 2, SW_NOP}};
}

TEST_F(LaserTest, SelectLayerChecksPulseTicksAndSendsThoseNotOnTheCard) {
  // mode 5: a job that fires a locked laser; code 0: accepted; words: on the main stream from clock 100.
  struct Case { const char* name; uint32_t fiber, mode, allowDuty, high, low; uint32_t code; Words words; } cases[] = {
      {"fibre, duty off by 4", 1, 0, 0, 2400, 2404, 32, {}},
      {"fibre, duty off by 3", 1, 0, 0, 2400, 2403, 0, TimingWords(100, 2400, 2403)},
      {"fibre, duty allowed", 1, 0, 1, 1000, 3800, 0, TimingWords(100, 1000, 3800)},
      {"fibre, job without laser", 1, 1, 0, 2400, 2404, 0, {}}, {"not fibre, duty free", 0, 0, 0, 2400, 2404, 0, {}},
      {"high 2, duty allowed", 1, 0, 1, 2, 6, 32, {}}, {"high 1, not fibre", 0, 0, 0, 1, 2400, 32, {}},
      {"low 2, no laser", 0, 1, 0, 2400, 2, 32, {}}, {"zero ticks pass", 1, 0, 0, 0, 0, 0, TimingWords(100, 0, 0)},
      {"3 ticks pass, sent as 0", 1, 0, 0, 3, 3, 0, TimingWords(100, 0, 0)},
      {"above 24 bits, sent saturated", 1, 0, 1, 0x1000000, 0x10, 0, TimingWords(100, 0xFFFFFF, 0x10)},
      {"locked laser: no pulse start", 1, 5, 0, 2400, 2400, 0, TimingWords(100, 2400, 2400, SW_NOP)},
  };
  for (const Case& c : cases) {
    QZ_TRACE(c.name);
    Job(c.mode == 5 ? 0 : c.mode);
    g_MarkJob.bLaserLocked = c.mode == 5;
    Floor().clock = 100;
    g_Laser[0].bFiberPwm = c.fiber;
    g_SystemPara.bAllowFiberPwmDutyChange = static_cast<int32_t>(c.allowDuty);
    g_LaserTimingPara[0][7] = Timing(c.high, c.low);
    uint8_t changed = 0;
    if (c.code) {
      ExpectCode(c.code, 0, [&] { g_Laser[0].SelectLayer(g_LaserTimingPara[0], 7, &changed); });
      EXPECT_TRUE(MarkFailed());
    } else {
      g_Laser[0].SelectLayer(g_LaserTimingPara[0], 7, &changed);
      const CLaser& l = g_Laser[0];
      EXPECT_EQ(std::tuple(l.nCurLayer, l.nPulseHighTicks, l.nPulseLowTicks, changed), std::tuple(7, c.high, c.low, c.fiber));
    }
    EXPECT_EQ(Floor().ch3, c.words);
  }
  for (int32_t layer : {-1, 256, 1 << 30}) {  // outside the pens: refused, the layer in force stays
    uint8_t changed = 0;
    ExpectCode(6, 1, [&] { g_Laser[0].SelectLayer(g_LaserTimingPara[0], layer, &changed); });
    EXPECT_EQ(g_Laser[0].nCurLayer, 7);
  }
  EXPECT_FALSE(MarkFailed());
  // Laser 1 sends the ticks that differ from those on the card.
  g_MarkJob.bLaserLocked = 0;
  CLaser& l = g_Laser[1];
  l.bFiberPwm = 1;
  auto& pens = g_LaserTimingPara[1];
  pens[3] = Timing(2400, 2400);
  pens[5] = Timing(2400, 2400);
  uint8_t changed = 0;
  auto select = [&](int32_t layer) {
    Floor().ch3.clear();
    changed = 0;
    l.SelectLayer(pens, layer, &changed);
    return Floor().ch3.size();
  };
  EXPECT_EQ(select(3), 5u);
  EXPECT_EQ(Floor().ch3[1].word, 0x18000960u);  // laser 1's opcodes
  EXPECT_EQ(Floor().ch3[3].word, SW_PULSE_START_L1);
  EXPECT_EQ(select(5), 0u);  // the same ticks: nothing, layer 3 stays in force
  EXPECT_EQ(std::tuple(changed, l.nCurLayer), std::tuple(0, 3));
  pens[3] = Timing(1200, 1200);  // the host rewrites pen 3 during the job
  EXPECT_EQ(select(3), 5u);
  EXPECT_EQ(Floor().ch3[1].word, 0x180004B0u);
  EXPECT_EQ(changed, 1);
  pens[5] = Timing(2000, 2000);
  EXPECT_EQ(select(5), 5u);
  pens[5] = Timing(1200, 1200);  // rewritten to what pen 3 holds: the card still has 2000
  EXPECT_EQ(select(3), 5u);
  EXPECT_EQ(Floor().ch3[1].word, 0x180004B0u);
}

// ---- alignment to the pulse

TEST_F(LaserTest, AlignToPulse) {
  struct Case { uint32_t high, low; int32_t delay; uint8_t apply; int64_t tOff, tOn; int ret; int64_t out; } cases[] = {
      {2400, 2400, 0, 1, 250, 0, 0, 200},      // period 100 µs: rounded down
      {480, 4320, 0, 1, 250, 0, 0, 300},       // the cut-off part is longer than the high part: up
      {2400, 2400, 30, 1, 140, 0, 0, 200},     // with the off delay 170
      {2400, 2400, 30, 0, 140, 0, 0, 100},     // delays not applied
      {2400, 2400, 0, 1, 130, -100, 0, 100},   // signed times
      {2400, 2400, 0, 1, 50, 0, 1, 0},         // half a period rounds down to the on time: empty
      {0, 2400, 0, 1, 250, 0, 0, 250},         // no pulse: not aligned
      {2400, 2400, 0, 1, 100, 100, 1, 100},    // not after the on time
      {2400, 2400, 0, 1, -10000000, -1000000, 1, -10000000},
  };
  for (const Case& c : cases) {
    QZ_TRACE(testing::Message() << c.tOff << " " << c.tOn << " " << c.high << "/" << c.low);
    CLaser l;
    l.nPulseHighTicks = c.high;
    l.nPulseLowTicks = c.low;
    l.nOffDelayUS = c.delay;
    l.bApplyDelays = c.apply;
    int64_t out = 12345;
    EXPECT_EQ(l.AlignToPulse(c.tOff, c.tOn, &out), c.ret);
    EXPECT_EQ(out, c.out);
  }
}

// ---- on and off

// Laser 0 with the roles of a type-3 laser switched per segment.
void SegmentLaser(CLaser& l) {
  l.bEnableEachSegment = 1;
  l.nEnableBit = 21;
  l.dbReadyAfterEnableMS = 10.0;
  l.bPaNoCus = 1;
  l.nPaNoCusBit = 20;
  l.nPulseHighTicks = 2400;
  l.nPulseLowTicks = 2400;
  l.nOnDelayUS = 20;
  l.nOffDelayUS = 30;
  l.nOnDelayFrac = 5;
  l.nOffDelayFrac = 7;
}

TEST_F(LaserTest, OnAndOffWords) {
  const Words firedOn = {{T(-8980), 0x21200200}, {1020, 0x2C00000B}, {1020, 0x21100100}, {1020, 0x20002002},
                         {1020, 0x11000960},     {1020, 0x12000960}, {1020, 0x16000001}, {1021, 0x2C000000}};
  const Words firedOff = {{1520, 0x2C00000F}, {1520, 0x16000000}, {1520, 0x20002000},
                          {1520, 0x21100000}, {1521, 0x2C000000}, {6520, 0x21200000}};
  const Words darkOn = {{T(-8980), SW_NOP}, {1020, SW_NOP},     {1020, SW_NOP}, {1020, SW_NOP},
                        {1020, 0x11000960}, {1020, 0x12000960}, {1020, SW_NOP}, {1021, SW_NOP}};
  const Words darkOff = {{1520, SW_NOP}, {1520, SW_NOP}, {1520, SW_NOP},
                         {1520, SW_NOP}, {1521, SW_NOP}, {6520, SW_NOP}};
  struct Case { const char* name; uint32_t mode; Words on, off; } cases[] = {
      {"fired", 0, firedOn, firedOff}, {"job without laser", 1, darkOn, darkOff}};
  for (const Case& c : cases) {
    QZ_TRACE(c.name);
    Job(c.mode);
    g_SystemPara.nLaserDelayZoom = 2;
    g_SystemPara.bOut1IsLaser = 1;
    CLaser& l = g_Laser[0];
    SegmentLaser(l);
    l.On(1000, 1500);  // on 1020; planned off 1530 aligns to 1520
    EXPECT_EQ(Floor().ch1, c.on);
    Floor().ch1.clear();
    l.Off(1490);  // 1520 with the off delay
    EXPECT_EQ(Floor().ch1, c.off);
    EXPECT_EQ(std::tuple(Floor().laserState[0].nState, Floor().laserState[0].nOffTime, l.nSegOnTime, l.nSegOffTime),
              std::tuple(2u, 1520, 1020, 1520));
    EXPECT_TRUE(Floor().ch4.empty() && Floor().ch6.empty() && Floor().ch7.empty() && Floor().ch3.empty());
  }
}

TEST_F(LaserTest, SecondLaserWithFirstQKillAndFibreTiming) {
  CLaser& l = g_Laser[1];
  l.bFirstQKill = 1;
  l.nFirstQKillTimeUS = 20;
  l.nFirstQKillTimeBeforePwm = 3;
  l.bPaNoCus = 1;
  l.nPaNoCusBit = 20;
  l.bPaNotOff = kPaNotOffKeep;
  l.nPulseHighTicks = 480;
  l.nPulseLowTicks = 4320;
  l.On(100, 400);  // output 1 is not the laser's: a NOP stands in its place
  EXPECT_EQ(Floor().ch4, (Words{{100, 0x21100100}, {100, SW_NOP}, {100, 0x18000000 | 480},
                                {100, 0x19000000 | 4320}, {100, SW_PULSE_START_L1}}));
  EXPECT_EQ(Floor().ch7, (Words{{96, 0x22010010}, {116, 0x22010000}}));
  EXPECT_EQ(Floor().laserState[0].nState, 0u);
  Floor().ch4.clear();
  l.Off(400);  // the PA-no-cus output stays on
  EXPECT_EQ(Floor().ch4, (Words{{400, SW_PULSE_STOP_L1}, {400, SW_NOP}}));
  // A fibre laser's pulse runs from the layer switch: no pulse words at on and off.
  l.bFiberPwm = 1;
  l.bFirstQKill = 0;
  Floor().ch4.clear();
  l.On(1000, 1400);
  l.Off(1400);
  EXPECT_EQ(Floor().ch4, (Words{{1000, 0x21100100}, {1000, SW_NOP}, {1400, SW_NOP}}));
}

TEST_F(LaserTest, OnAndOffFailures) {
  CLaser& l = g_Laser[0];  // no pulse timing: off times are not aligned
  l.On(0, 1000);
  ExpectCode(34, 0, [&] { l.Off(0); });  // off at the on time
  ClearMarkFailure();
  l.Off(500);
  ExpectCode(40, 0, [&] { l.On(500, 2000); });  // on not after the previous off
  ClearMarkFailure();
  l.nOnDelayUS = -1;
  ExpectCode(40, 0, [&] { l.On(501, 2000); });  // the on delay counts
  ClearMarkFailure();
  l.nOnDelayUS = 0;
  l.On(501, 2000);
  l.On(600, 3000);  // on already: nothing
  EXPECT_EQ(Floor().laserState[0].nOnTime, 501u);
  ExpectCode(33, 0, [&] { StreamLaserOn(l, Floor().ch1, Floor().ch6, 700); });  // a segment is open
  ClearMarkFailure();
  l.bSegmentOpen = 0;
  ExpectCode(33, 0, [&] { StreamLaserOff(l, Floor().ch1, 700); });  // none is open
  ClearMarkFailure();
  StreamLaserOn(l, Floor().ch1, Floor().ch6, 700);
  ExpectCode(34, 0, [&] { StreamLaserOff(l, Floor().ch1, 700); });
  ClearMarkFailure();
  StreamLaserOff(l, Floor().ch1, 701);
  EXPECT_EQ(l.bSegmentOpen, 0);
}

TEST_F(LaserTest, OnForAnEmptySegmentEmitsNothingAndCursorsFollowTheFloor) {
  CLaser& l = g_Laser[0];
  l.nOnDelayUS = 50;
  l.On(100, 150);  // on at 150, planned off 150
  l.nPulseHighTicks = l.nPulseLowTicks = 2400;
  l.On(100, 190);  // planned off 190 aligns back to the on time 150
  EXPECT_EQ(Floor().laserState[0].nState, 0u);
  EXPECT_TRUE(Floor().ch1.empty() && Floor().ch6.empty());
  // The laser's cursors follow the current floor.
  l = CLaser{};
  g_MarkFloor[1].Reset();
  nFloor = 1;
  CMarkFloor::BindCurrent();
  l.On(10, 100);
  nFloor = 0;
  CMarkFloor::BindCurrent();
  EXPECT_EQ(std::tuple(g_MarkFloor[1].laserState[0].nState, g_MarkFloor[1].ch1.size()), std::tuple(1u, 4u));
  EXPECT_EQ(Floor().laserState[0].nState, 0u);  // floor 0 keeps its own state
  EXPECT_TRUE(Floor().ch1.empty());
}

}  // namespace
}  // namespace qztest
