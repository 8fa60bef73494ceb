// Galvanometer step encoders: the words and times of straight and accelerated moves in 16- and
// 21-bit codes, the omission of unchanged pairs, jump and corner waits, the dot frame, the refusals,
// the stop of a running move, and a marked line with its laser segment as the card receives it.
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <numbers>
#include <thread>

#include "calibration/box_para.h"
#include "calibration/galvo_stream.h"
#include "calibration/scan.h"
#include "laser/laser_stream.h"
#include "mark/mark_data2fifo.h"
#include "test_laser_fixture.h"

namespace qztest {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = std::numbers::pi;

class GalvoTest : public LaserTest {
 protected:
  void SetUp() override {
    LaserTest::SetUp();
    g_SystemPara.BASETIME = 10;
    ResetScan();
  }
  void TearDown() override {
    ResetScan();
    LaserTest::TearDown();
  }
  static void ResetScan() {
    g_Scan.dbCurX = g_Scan.dbCurY = g_Scan.dbPrevX = g_Scan.dbPrevY = 0.0;
    g_Scan.dbMarkSpeed = g_Scan.dbJumpSpeed = 0.0;
    g_Scan.nJumpDelayMax = g_Scan.nJumpDelayMin = g_Scan.nMarkEndDelay = g_Scan.nPolygonDelay = 0;
    g_Scan.nLongJumpLen = 20;
    g_Scan.SetFieldSizes(100.0, 100.0, 17.0);
    CCaliLink::SetHalfRange(10.0);
  }
  // A job in run mode `mode` with 16-bit (0) or 21-bit (1) codes.
  static void Codes(uint32_t mode, int32_t bits21) {
    Job(mode);
    g_SystemPara.bNewBoxCali = bits21;
  }
  static FieldPoint Cur() { return {g_Scan.dbCurX, g_Scan.dbCurY}; }
  static void SetCur(double x, double y) {
    g_Scan.dbCurX = x;
    g_Scan.dbCurY = y;
  }
};

// Expected galvanometer words: a NOP at t, and position pairs.
Words Nop(uint64_t t) { return {{t, SW_NOP}}; }
Words Lit(uint64_t t, uint32_t x, uint32_t y) { return {{t, 0x01000000 | x}, {t, 0x01010000 | y}}; }
Words Unlit(uint64_t t, uint32_t x, uint32_t y) { return {{t, 0x01040000 | x}, {t, 0x01050000 | y}}; }
Words P21(uint64_t t, uint32_t x, uint32_t y) { return {{t, 0x01000000 | x}, {t, 0x01400000 | y}}; }
Words Cat(std::initializer_list<Words> parts) {
  Words all;
  for (const Words& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

void ExpectAt(FieldPoint p, double x, double y) {
  EXPECT_EQ(p.x, x);
  EXPECT_EQ(p.y, y);
}

// ---- moves

TEST_F(GalvoTest, MovesStepAtTheBaseTimeAndEndOnTheTargetCode) {
  struct Case {
    const char* name;
    uint32_t mode;
    int32_t bits21;
    double x, y, speed;  // from (0, 0)
    int32_t result;      // StreamMoveTo
    Words words;
  } cases[] = {
      // 2 mm at 0.05 mm/µs: 0.5 mm (327.675 codes) per 10 µs step.
      {"16-bit, lit", 0, 0, 2, 0, 0.05, 4,
       Cat({Nop(0), Lit(10, 33095, 32767), Lit(20, 33422, 32767), Lit(30, 33750, 32767), Lit(40, 34078, 32767)})},
      {"16-bit, job without laser", 1, 0, 2, 0, 0.05, 4,
       Cat({Nop(0), Unlit(10, 33095, 32767), Unlit(20, 33422, 32767), Unlit(30, 33750, 32767),
            Unlit(40, 34078, 32767)})},
      {"21-bit", 0, 1, 2, 0, 0.05, 4,
       Cat({Nop(0), P21(10, 1101005, 1048576), P21(20, 1153434, 1048576), P21(30, 1205862, 1048576),
            P21(40, 1258291, 1048576)})},
      {"21-bit, job without laser: the same words", 1, 1, 2, 0, 0.05, 4,
       Cat({Nop(0), P21(10, 1101005, 1048576), P21(20, 1153434, 1048576), P21(30, 1205862, 1048576),
            P21(40, 1258291, 1048576)})},
      // 1.96605 codes in 10 steps: a pair where a truncated code changes, besides the first and last.
      {"16-bit slow move", 0, 0, 0.003, 0, 0.00003, 10,
       Cat({Nop(0), Lit(10, 32767, 32767), Lit(30, 32768, 32767), Lit(80, 32769, 32767), Lit(100, 32769, 32767)})},
      // 20.97 codes in 10 steps: a pair every 6.4 codes and the last step's pair.
      {"21-bit slow move", 0, 1, 0.0002, 0, 0.000002, 10,
       Cat({Nop(0), P21(40, 1048584, 1048576), P21(70, 1048591, 1048576), P21(100, 1048597, 1048576)})},
      // 5.24 codes: only the last step's pair, which does not count as written.
      {"21-bit move below 6.4 codes", 0, 1, 0.00005, 0, 0.0000017, 0, Cat({Nop(0), P21(30, 1048581, 1048576)})},
      {"shorter than one step", 0, 0, 0.1, 0, 1.0, 1, Cat({Nop(0), Lit(10, 32833, 32767)})},
      {"zero length, 16-bit", 0, 0, 0, 0, 1.0, 1, Cat({Nop(0), Lit(10, 32767, 32767)})},
      {"zero length, 21-bit", 0, 1, 0, 0, 1.0, 0, Cat({Nop(0), P21(10, 1048576, 1048576)})},
      {"outside the field, 16-bit", 0, 0, 60, -70, 5.0, 2, Cat({Nop(0), Lit(10, 49151, 16383), Lit(20, 65535, 0)})},
      {"outside the range, 21-bit", 0, 1, 15, -15, 1.1, 2,
       Cat({Nop(0), P21(10, 1572864, 524288), P21(20, 2097151, 0)})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Codes(c.mode, c.bits21);
    SetCur(0, 0);
    EXPECT_EQ(StreamMoveTo({c.x, c.y}, c.speed), c.result);
    EXPECT_EQ(Floor().ch0, c.words);
    EXPECT_EQ(GalvoClock(), static_cast<int64_t>(c.words.back().time));
    ExpectAt(Cur(), c.x, c.y);
    EXPECT_TRUE(Floor().ch3.empty());
    EXPECT_EQ(Floor().clock, 0u);
  }
}

TEST_F(GalvoTest, VectorsWithAGivenStepCount) {
  struct Case {
    const char* name;
    int32_t bits21;
    FieldPoint from, to;
    int32_t steps;
    uint8_t wrote;
    Words words;  // from a galvanometer clock of 500
  } cases[] = {
      {"16-bit slow diagonal", 0, {0, 0}, {0.003, -0.002}, 10, 1,
       Cat({Nop(500), Lit(510, 32767, 32767), Lit(530, 32768, 32767), Lit(540, 32768, 32766),
            Lit(580, 32769, 32766), Lit(600, 32769, 32766)})},
      {"zero length in 3 steps: one pair", 0, {1, 1}, {1, 1}, 3, 1, Cat({Nop(500), Lit(530, 33422, 33422)})},
      {"21-bit zero length in 3 steps", 1, {1, 1}, {1, 1}, 3, 0, Cat({Nop(500), P21(530, 1153434, 1153434)})},
      {"both ends beyond the field: one pair", 0, {70, 0}, {80, 0}, 3, 1, Cat({Nop(500), Lit(530, 65535, 32767)})},
      {"a count of 0 is one step", 0, {0, 0}, {2, 0}, 0, 1, Cat({Nop(500), Lit(510, 34078, 32767)})},
      // The running sum ends at 65534.99999999999: the last step lands on the end point itself.
      {"no drift at the end", 0, {-49.9589, 0}, {50, 0}, 3, 1,
       Cat({Nop(500), Lit(510, 21862, 32767), Lit(520, 43698, 32767), Lit(530, 65535, 32767)})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Codes(0, c.bits21);
    GalvoClock() = 500;
    FieldPoint from = c.from;
    uint8_t wrote = 7;
    StreamVector(from, c.to, c.steps, wrote);
    EXPECT_EQ(wrote, c.wrote);
    EXPECT_EQ(Floor().ch0, c.words);
    ExpectAt(from, c.to.x, c.to.y);
  }
}

TEST_F(GalvoTest, AcceleratedMoves) {
  struct Case {
    const char* name;
    int32_t bits21;
    FieldPoint from, to;
    double vs, ve;
    uint8_t wrote;
    Words words;
  } cases[] = {
      {"constant speed", 1, {0, 0}, {2, 0}, 0.05, 0.05, 1,
       Cat({Nop(0), P21(10, 1101005, 1048576), P21(20, 1153434, 1048576), P21(30, 1205862, 1048576),
            P21(40, 1258291, 1048576)})},
      {"from rest", 1, {0, 0}, {2, 0}, 0.0, 0.1, 1,
       Cat({Nop(0), P21(10, 1061683, 1048576), P21(20, 1101005, 1048576), P21(30, 1166541, 1048576),
            P21(40, 1258291, 1048576)})},
      {"braking on a diagonal", 1, {0, 0}, {1.2, -1.6}, 0.1, 0.0, 1,
       Cat({Nop(0), P21(10, 1103626, 975176), P21(20, 1142948, 922747), P21(30, 1166541, 891290),
            P21(40, 1174405, 880804)})},
      {"zero length", 1, {1, 1}, {1, 1}, 0.05, 0.05, 0, Cat({Nop(0), P21(10, 1153434, 1153434)})},
      {"16-bit codes: no words", 0, {0, 0}, {2, 0}, 0.05, 0.05, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Codes(0, c.bits21);
    FieldPoint from = c.from;
    uint8_t wrote = 7;
    StreamVector21(from, c.to, wrote, c.vs, c.ve);
    EXPECT_EQ(wrote, c.wrote);
    EXPECT_EQ(Floor().ch0, c.words);
    EXPECT_EQ(GalvoClock(), c.words.empty() ? 0 : static_cast<int64_t>(c.words.back().time));
    ExpectAt(from, c.to.x, c.to.y);
  }
}

TEST_F(GalvoTest, RefusedMovesChangeNothing) {
  const double big = 1e12;
  struct Case {
    const char* name;
    int32_t base;
    double x, speed;  // target (x, 0) from (1, 2)
    uint32_t code;
  } cases[] = {
      {"base time 0", 0, 5, 1.0, 2},
      {"negative base time", -10, 5, 1.0, 2},
      {"speed 0", 10, 5, 0.0, 2},
      {"negative speed", 10, 5, -1.0, 2},
      {"NaN speed", 10, 5, kNaN, 7},
      {"NaN target", 10, kNaN, 1.0, 7},
      {"infinite target", 10, kInf, 1.0, 7},
      {"steps beyond the counter", 10, big, 1.0, 7},
      {"speed so slow the steps overflow", 10, 5, 1e-300, 7},
  };
  for (int jump = 0; jump < 2; ++jump) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (jump ? " (jump)" : " (move)"));
      Codes(0, 0);
      g_SystemPara.BASETIME = c.base;
      SetCur(1, 2);
      g_Scan.dbPrevX = g_Scan.dbPrevY = 9;
      ExpectCode(c.code, 0, [&] {
        if (jump) {
          StreamJumpTo({c.x, 0}, c.speed);
        } else {
          StreamMoveTo({c.x, 0}, c.speed);
        }
      });
      EXPECT_TRUE(MarkFailed());
      EXPECT_TRUE(Floor().ch0.empty());
      EXPECT_EQ(GalvoClock(), 0);
      ExpectAt(Cur(), 1, 2);
      ExpectAt({g_Scan.dbPrevX, g_Scan.dbPrevY}, 9, 9);
    }
  }
}

TEST_F(GalvoTest, RefusedVectors) {
  struct Case {
    const char* name;
    int32_t base;
    FieldPoint from;
    double vs, ve;  // < -1: StreamVector
    uint32_t code;
  } cases[] = {
      {"NaN start", 10, {kNaN, 0}, -2, -2, 7},
      {"infinite start", 10, {0, -kInf}, -2, -2, 7},
      {"base time 0", 0, {0, 0}, -2, -2, 2},
      {"accelerated, negative start speed", 10, {0, 0}, -0.1, 0.2, 2},
      {"accelerated, both speeds 0", 10, {0, 0}, 0, 0, 2},
      {"accelerated, NaN end speed", 10, {0, 0}, 0.1, kNaN, 7},
      {"accelerated, base time 0", 0, {0, 0}, 0.1, 0.1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Codes(0, 1);
    g_SystemPara.BASETIME = c.base;
    FieldPoint from = c.from;
    uint8_t wrote = 0;
    ExpectCode(c.code, 0, [&] {
      if (c.vs < -1) {
        StreamVector(from, {1, 1}, 5, wrote);
      } else {
        StreamVector21(from, {1, 1}, wrote, c.vs, c.ve);
      }
    });
    EXPECT_TRUE(Floor().ch0.empty());
    EXPECT_NE(from.x, 1.0);
  }
}

// ---- a stopped or failed job

TEST_F(GalvoTest, AStoppedOrFailedJobEndsTheMoveAtItsEndPoint) {
  for (int bits21 = 0; bits21 < 2; ++bits21) {
    for (int failed = 0; failed < 2; ++failed) {
      SCOPED_TRACE(testing::Message() << "21-bit " << bits21 << ", failed " << failed);
      Codes(0, bits21);
      if (failed) {
        RecordMarkFailure("failed before");
      } else {
        g_MarkJob.bStopMark = 1;
      }
      SetCur(0, 0);
      StreamMoveTo({2, 0}, 0.05);
      EXPECT_EQ(Floor().ch0, Nop(0));
      EXPECT_EQ(GalvoClock(), 0);
      ExpectAt(Cur(), 2, 0);
    }
  }
}

TEST_F(GalvoTest, AStopFromAnotherThreadEndsARunningMove) {
  Codes(0, 0);
  // A slow move of 200 million steps (2000 s of stream time) with few pairs; stopped after 20 ms.
  constexpr int32_t kSteps = 200000000;
  std::atomic<bool> started{false};
  std::thread stopper([&] {
    while (!started.load()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    g_MarkJob.bStopMark = 1;
  });
  FieldPoint from{0, 0};
  uint8_t wrote = 0;
  started = true;
  StreamVector(from, {0.003, 0}, kSteps, wrote);
  stopper.join();
  EXPECT_LT(GalvoClock(), int64_t{kSteps} * 10);
  EXPECT_EQ(GalvoClock() % 10, 0);
  ExpectAt(from, 0.003, 0);
  ASSERT_FALSE(Floor().ch0.empty());
  EXPECT_EQ(Floor().ch0.front(), (TimedWord{0, SW_NOP}));
  EXPECT_LE(static_cast<int64_t>(Floor().ch0.back().time), GalvoClock());
}

// ---- waits

TEST_F(GalvoTest, JumpDelays) {
  struct Case {
    const char* name;
    int32_t dMin, dMax, longLen;
    double length;
    int64_t moved;  // µs of the move at 10 mm per step
    int64_t delay;
  } cases[] = {
      {"the long-jump length itself: full delay", 10, 40, 20, 20, 20, 40},
      {"beyond it", 10, 40, 20, 25, 30, 40},
      {"half: 25 rounds to 30", 10, 40, 20, 10, 10, 30},
      {"half: 24 rounds to 20", 10, 38, 20, 10, 10, 20},
      {"half: 24.5 rounds to 25, then to 30", 0, 49, 20, 10, 10, 30},
      {"a quarter: 17.5 rounds to 18, then to 20", 10, 40, 20, 5, 10, 20},
      {"length 0: the minimum", 10, 40, 20, 0, 10, 10},
      {"long-jump length 0: always full", 10, 40, 0, 5, 10, 40},
      {"no delay", 0, 0, 20, 5, 10, 0},
      {"negative delays wait nothing", -100, -50, 20, 0, 10, -90},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Codes(0, 0);
    SetCur(-3, 1);
    g_Scan.nJumpDelayMin = c.dMin;
    g_Scan.nJumpDelayMax = c.dMax;
    g_Scan.nLongJumpLen = c.longLen;
    EXPECT_EQ(StreamJumpTo({-3 + c.length, 1}, 1.0), c.delay);
    ExpectAt(Cur(), -3 + c.length, 1);
    ExpectAt({g_Scan.dbPrevX, g_Scan.dbPrevY}, -3, 1);
    const int64_t moved = c.moved;
    if (c.delay > 0) {
      EXPECT_EQ(GalvoClock(), moved + c.delay);
      EXPECT_EQ(Floor().ch0.back(), (TimedWord{static_cast<uint64_t>(moved + c.delay), SW_NOP}));
    } else {
      EXPECT_EQ(GalvoClock(), moved);
      EXPECT_EQ(Floor().ch0.back().time, static_cast<uint64_t>(moved));
      EXPECT_NE(Floor().ch0.back().word, SW_NOP);
    }
  }
}

TEST_F(GalvoTest, CornerDelays) {
  struct Case {
    const char* name;
    int32_t bits21;
    double length, angle;
    int64_t wait;  // after the move's last step at 10
  } cases[] = {
      {"180°: full", 0, 1, kPi, 100},
      {"90°: full", 0, 1, kPi / 2, 100},
      {"45°: half", 0, 1, kPi / 4, 50},
      {"0.3 rad: 19.6 truncates to 19, then 20", 0, 1, 0.3, 20},
      {"0.05 rad: 3 rounds to 0", 0, 1, 0.05, 0},
      {"straight on", 0, 1, 0, 0},
      {"NaN angle", 0, 1, kNaN, 0},
      {"negative angle", 0, 1, -1, 0},
      {"21-bit move that wrote no pair: no corner", 1, 0.00005, kPi, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Codes(0, c.bits21);
    SetCur(0, 0);
    g_Scan.dbMarkSpeed = 1.0;
    g_Scan.nPolygonDelay = 100;
    LineEndTime() = -1;
    StreamMoveWithAngleDelay({c.length, 0}, c.angle);
    EXPECT_EQ(LineEndTime(), 10);
    EXPECT_EQ(GalvoClock(), 10 + c.wait);
    EXPECT_EQ(Floor().ch0.size(), c.wait ? 4u : 3u);
    if (c.wait) {
      EXPECT_EQ(Floor().ch0.back(), (TimedWord{static_cast<uint64_t>(10 + c.wait), SW_NOP}));
    }
  }
}

TEST_F(GalvoTest, AuxWaitsAndTheDotFrame) {
  GalvoClock() = 40;
  AppendAuxWait(0);
  AppendAuxWait(-5);
  EXPECT_TRUE(Floor().ch0.empty());
  EXPECT_EQ(GalvoClock(), 40);
  AppendAuxWait(7);
  EXPECT_EQ(Floor().ch0, Nop(47));
  EXPECT_EQ(GalvoClock(), 47);

  Floor().ch0.clear();
  LineStartTime() = 99;
  StreamStartRecords(20, 300);
  EXPECT_EQ(Floor().ch0, Cat({Nop(0), Nop(320)}));
  EXPECT_EQ(LineStartTime(), 0);
  EXPECT_EQ(LineEndTime(), 300);
  EXPECT_EQ(GalvoClock(), 47);
  EXPECT_EQ(Floor().clock, 0u);
}

TEST_F(GalvoTest, LineTimesFollowTheFloor) {
  GalvoClock() = 5;
  g_MarkFloor[1].nLineTime[kLineTimeGalvoClock] = 0;
  PushUpperFloor();
  AppendAuxWait(30);
  EXPECT_EQ(g_MarkFloor[1].ch0, Nop(30));
  EXPECT_EQ(g_MarkFloor[1].nLineTime[kLineTimeGalvoClock], 30);
  EXPECT_TRUE(g_MarkFloor[0].ch0.empty());
  nFloor = 0;
  CMarkFloor::BindCurrent();
  EXPECT_EQ(GalvoClock(), 5);
}

// ---- a marked line as the card receives it

TEST_F(GalvoTest, AMarkedLineWithItsLaserSegment) {
  Codes(0, 0);
  g_SystemPara.bOut1IsLaser = 1;
  g_Scan.nJumpDelayMin = 100;
  g_Scan.nJumpDelayMax = 300;
  g_Scan.nLongJumpLen = 10;
  CLaser& l = g_Laser[0];
  l.nPulseHighTicks = l.nPulseLowTicks = 240;  // a 10 µs pulse period
  l.nOnDelayUS = 20;
  l.nOffDelayUS = 30;

  // Jump 1 mm (one step, 120 µs jump delay), then mark 2 mm in four steps.
  EXPECT_EQ(StreamJumpTo({-1, 0}, 0.5), 120);
  LineStartTime() = GalvoClock();
  EXPECT_EQ(StreamMoveTo({1, 0}, 0.05), 4);
  LineEndTime() = GalvoClock();
  l.On(LineStartTime(), LineEndTime());
  l.Off(LineEndTime());

  g_MarkData2Fifo.Reset();
  g_MarkData2Fifo.MergeChannels(0);
  // The laser opens 20 µs after the line starts, with the pulse timing and output 1, and closes
  // 30 µs after it ends, on a whole pulse period; at equal times the laser's words come first.
  EXPECT_EQ(g_MarkData2Fifo.vMerged, Cat({Nop(0), Lit(10, 32112, 32767), Nop(130), Nop(130), Lit(140, 32439, 32767),
                                          Words{{150, 0x20002002},
                                                {150, 0x110000F0},
                                                {150, 0x120000F0},
                                                {150, SW_PULSE_START_L0}},
                                          Lit(150, 32767, 32767), Lit(160, 33095, 32767), Lit(170, 33422, 32767),
                                          Words{{200, SW_PULSE_STOP_L0}, {200, 0x20002000}}}));
  EXPECT_FALSE(MarkFailed());
}

TEST_F(GalvoTest, AnEnableWordBeforeMergedTimeFailsTheJob) {
  // An enable output switched with every segment goes out the ready delay (100 µs) ahead of the
  // segment; when that is before what the flush has merged already, the merge refuses it with 2.
  struct Case {
    int64_t on;
    uint32_t code;
  } cases[] = {{1100, 0}, {1099, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.on);
    Codes(0, 0);
    CLaser& l = g_Laser[0];
    l.bEnableEachSegment = 1;
    l.nEnableBit = 25;
    l.dbReadyAfterEnableMS = 0.1;
    l.nPulseHighTicks = l.nPulseLowTicks = 240;
    g_MarkData2Fifo.Reset();
    AppendAuxWait(1000);
    g_MarkData2Fifo.MergeChannels(0);
    ASSERT_EQ(g_MarkData2Fifo.nMergeTime, 1000);
    l.On(c.on, c.on + 500);
    if (c.code) {
      ExpectCode(c.code, 0, [] { g_MarkData2Fifo.MergeChannels(0); });
      EXPECT_TRUE(MarkFailed());
    } else {
      g_MarkData2Fifo.MergeChannels(0);
      EXPECT_EQ(g_MarkData2Fifo.vMerged[1], (TimedWord{1000, 0x22008008}));
      EXPECT_FALSE(MarkFailed());
    }
  }
}

}  // namespace
}  // namespace qztest
