// Power words and waves: DA values, strobes, layer power, wave lengths and split, end wave, ramps; the layer switch.
#include <cmath>
#include <limits>
#include <tuple>

#include "frame/system_para.h"
#include "laser/laser_stream.h"
#include "mark/layer_switch.h"
#include "support/trace.h"
#include "test_laser_fixture.h"
#include "test_scan_fixture.h"

namespace qztest {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST_F(LaserTest, PowerWords) {
  // mode 0 fires the laser, 1 does not; main: to the main stream from clock 100 (lock width 100), else at 1000 on
  // the list.
  struct Case { const char* name; int32_t type; uint32_t mode; int holder; bool main; double rangeIn, rangeOut, power;
                Words words; } cases[] = {
      {"50 %: whole part of 2047.5", 0, 0, 0, false, 10, 10, 50000, {{1000, 0x290007FF}}},
      {"150 % sent as 100 %", 0, 0, 0, false, 10, 10, 150000, {{1000, 0x29000FFF}}},
      {"laser 1", 7, 0, 1, false, 10, 10, 100000, {{1000, 0x29020FFF}}},
      {"negative power", 0, 0, 0, false, 10, 10, -5000, {{1000, 0x29000000}}},
      {"NaN power", 0, 0, 0, false, 10, 10, kNaN, {{1000, 0x29000000}}},
      {"ratio 1000 clamps at 0xFFFF", 0, 0, 1, false, 10000, 10, 100000, {{1000, 0x2902FFFF}}},
      {"output range 0", 0, 0, 0, false, 10, 0, 100000, {{1000, 0x2900FFFF}}},
      {"type 2, not fired", 2, 1, 0, false, 10, 10, 100000, {{1000, SW_NOP}, {1015, SW_NOP}, {1030, SW_NOP}}},
      {"main stream", 0, 0, 0, true, 10, 10, 100000, {{200, 0x29000FFF}, {300, SW_NOP}}},
      {"main stream, type 2", 2, 0, 0, true, 10, 10, 100000,
       {{200, 0x29000FFF}, {300, 0x22200200}, {400, 0x22200000}, {500, SW_NOP}}},
  };
  for (const Case& c : cases) {
    QZ_TRACE(c.name);
    Job(c.mode);
    g_SystemPara.LASER_TYPE = c.type;
    Floor().clock = 100;
    CWaveHolder& h = g_WaveHolder[c.holder];
    h.pLaser->dbCurrentRangeLaserIn = c.rangeIn;
    h.pLaser->dbCurrentRangeDaOut = c.rangeOut;
    AppendLaserPowerWord(h, c.main ? nullptr : &h.Channel(), c.main ? 0 : 1000, c.power);
    EXPECT_EQ(c.main ? Floor().ch3 : c.holder == 0 ? Floor().ch2 : Floor().ch5, c.words);
    EXPECT_EQ(Floor().ch2.size() + Floor().ch3.size() + Floor().ch5.size(), c.words.size());
    EXPECT_EQ(Floor().clock, c.main ? c.words.back().time : 100u);
    EXPECT_TRUE(h.dbPower == c.power || (std::isnan(h.dbPower) && std::isnan(c.power)));  // kept unclamped
  }
}

// ---- the layer's power and waves

TEST_F(LaserTest, LayerPower) {
  // lastPower: the holder's power before; word 0: nothing sent.
  struct Case { const char* name; int mode; int32_t lineMode, dotMode; std::vector<WavePoint> start, dot;
                double lastPower; uint32_t word, waveMode; } cases[] = {
      {"no waves: the layer power", 0, 0, 0, {}, {}, -1.0, 0x290007FF, 0},
      {"within 0.001", 0, 0, 0, {}, {}, 50000.0009, 0, 0},
      {"beyond 0.001", 0, 0, 0, {}, {}, 50000.002, 0x290007FF, 0},
      {"dots, only line waves", 1, 1, 0, {{0, 0, 30}}, {}, -1.0, 0x290007FF, 0},
      {"line wave from its first point", 0, 1, 0, {{0, 0, 30}, {0, 1, 80}}, {}, 50000, 0x290004CC, 2},
      {"line wave with a span: from 0", 0, 1, 0, {{0, 0.00001, 30}}, {}, -1.0, 0x29000000, 2},
      {"empty line wave: from 0", 0, 1, 0, {}, {}, 0.0, 0x29000000, 2},
      {"dot wave", 1, 0, 1, {}, {{1, 0.000001, 20}}, -1.0, 0x29000333, 1},
  };
  for (const Case& c : cases) {
    QZ_TRACE(c.name);
    Job(0);
    LaserTimingPara t;
    t.dbPower = 50.0;
    t.nLineWaveMode = c.lineMode;
    t.lineStartWave = c.start;
    t.nDotWaveMode = c.dotMode;
    t.dotWave = c.dot;
    CWaveHolder& h = g_WaveHolder[0];
    h.dbPower = c.lastPower;
    h.nWaveMode = 9;
    uint8_t changed = 0;
    ApplyLayerLaserSegment(h, t, c.mode, 1.0, &changed);
    EXPECT_EQ(Floor().ch3, (c.word ? Words{{100, c.word}, {200, SW_NOP}} : Words{}));
    EXPECT_EQ(std::tuple(changed, h.nWaveMode, h.startWave.size(), h.dotWave.size()),
              std::tuple(c.word ? 1 : 0, c.waveMode, c.start.size(), c.dot.size()));
  }
}

TEST_F(LaserTest, WaveLengthAgainstTheSteadyWindow) {
  // Steady window 600000 µs: the waves may last 500000 µs (x 1.2), 10000 steps of 50 µs.
  struct Case { const char* name; std::vector<WavePoint> start, end; double speed; int32_t startSteps, endSteps;
                uint32_t code; } cases[] = {
      {"5000 + 5000 steps", {{0, 250, 10}}, {{0, 250, 0}}, 1.0, 5000, 5000, 0},
      {"5000 + 5001 steps", {{0, 250, 10}}, {{0, 250.0625, 0}}, 1.0, 5000, 5001, 22},
      {"lengths over the speed", {{1, 10, 10}, {1, 0.5, 20}}, {{1, 1, 0}}, 0.001, 210, 20, 0},
      {"at least one step a point", {{0, 0, 10}, {0, -3, 10}}, {{1, 0, 0}}, 1.0, 2, 1, 0},
      {"speed 0", {{1, 1, 10}}, {}, 0.0, std::numeric_limits<int32_t>::max(), 0, 22},
      {"NaN span", {{0, kNaN, 10}}, {}, 1.0, 1, 0, 0},
  };
  for (const Case& c : cases) {
    QZ_TRACE(c.name);
    Job(0);
    LaserTimingPara t;
    t.nLineWaveMode = 1;
    t.lineStartWave = c.start;
    t.lineEndWave = c.end;
    uint8_t changed = 0;
    if (c.code) {
      ExpectCode(c.code, 0, [&] { ApplyLayerLaserSegment(g_WaveHolder[0], t, 0, c.speed, &changed); });
      EXPECT_TRUE(MarkFailed() && Floor().ch3.empty());
    } else {
      ApplyLayerLaserSegment(g_WaveHolder[0], t, 0, c.speed, &changed);
    }
    EXPECT_EQ(std::tuple(g_WaveHolder[0].nStartSteps, g_WaveHolder[0].nEndSteps), std::tuple(c.startSteps, c.endSteps));
  }
}

TEST_F(LaserTest, SplitAt) {
  struct Case { int32_t start, end; int64_t total; bool scale, more; int64_t mid; int32_t endRun, after; } cases[] = {
      {8, 8, 500, true, false, 0, 5, 5},      // 10 steps shared in proportion
      {8, 8, 549, true, false, 0, 5, 5},      // whole steps only
      {8, 8, 500, false, false, 0, 8, 8},
      {8, 8, 800, true, false, 0, 8, 8},      // exactly the waves
      {8, 8, 1000, true, true, 4, 8, 8}, {3, 9, 400, true, false, 0, 6, 2}, {3, 0, 100, true, false, 0, 0, 2},
      {0, 0, 0, true, false, 0, 0, 0},        // no waves: nothing to divide
      {0, 0, 500, true, true, 10, 0, 0},
      {8, 8, -500, true, false, 0, 0, 0},     // no duration
      {std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(),
       std::numeric_limits<int64_t>::max(), true, true, std::numeric_limits<int64_t>::max() / 50 - 4294967294,
       std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max()},
  };
  for (const Case& c : cases) {
    QZ_TRACE(testing::Message() << c.start << "+" << c.end << " in " << c.total);
    CWaveHolder h(0);
    h.nStartSteps = c.start;
    h.nEndSteps = c.end;
    EXPECT_EQ(h.SplitAt(c.total, c.scale), c.more);
    EXPECT_EQ(std::tuple(h.nMidSteps, h.nEndStepsRun, h.nStartSteps), std::tuple(c.mid, c.endRun, c.after));
  }
}

TEST_F(LaserTest, EndWaveSteps) {
  // DA values at ratio 1: 30000 → 1228, 20000 → 819, 10000 → 409.
  struct Case { const char* name; int32_t endRun; double power; Words words; } cases[] = {
      {"whole wave", 5, 10000,
       {{1150, 0x29000333}, {1200, 0x290004CC}, {1250, 0x29000333}, {1300, 0x29000199}, {1350, 0x29000000}}},
      {"first point skipped", 3, 30000, {{1150, 0x29000333}, {1200, 0x29000199}, {1250, 0x29000000}}},
      {"part of the last point", 1, 30000, {{1150, 0x29000000}}}, {"nothing left", 0, 30000, {}},
  };
  for (const Case& c : cases) {
    QZ_TRACE(c.name);
    Job(0);
    CWaveHolder& h = g_WaveHolder[0];
    h.endWave = {{0, 0.1, 30}, {1, 75, 0}};  // 2 steps, then 75 mm at 0.5 mm/µs: 3 steps
    h.nEndSteps = 5;
    h.nEndStepsRun = c.endRun;
    h.nMidSteps = 2;
    h.dbPower = c.power;
    Floor().wavePower[0].nTime = 1000;
    h.StepWave(0.5);
    EXPECT_EQ(std::tuple(Floor().ch2, h.dbPower), std::tuple(c.words, c.words.empty() ? c.power : 0.0));
  }
}

// ---- power ramps

// The laser's segment state in the floor.
void Segment(CWaveHolder& h, uint32_t state, int64_t on, int64_t off) {
  FloorLaserState& s = h.pLaser->State();
  s.nState = state;
  s.nOnTime = static_cast<uint64_t>(on);
  s.nOffTime = off;
}

// 0.2 ms to 40 % (4 steps of 50 µs), then 1 mm to 10 % (2 steps at 0.01 mm/µs).
const std::vector<WavePoint> kWave = {{0, 0.2, 40.0}, {1, 1.0, 10.0}};
// The six steps of kWave from 0 % at 1000 (DA values 409, 819, 1228, 1638, 1023, 409).
const Words kSixSteps = {{1050, 0x29000199}, {1100, 0x29000333}, {1150, 0x290004CC},
                         {1200, 0x29000666}, {1250, 0x290003FF}, {1300, 0x29000199}};

Words First(size_t n) { return Words(kSixSteps.begin(), kSixSteps.begin() + static_cast<std::ptrdiff_t>(n)); }

TEST_F(LaserTest, StartWaveRamp) {
  // budget: nStartSteps; power: the holder's power before; words: from t0 = 1000; waveTime: the wave record's time
  // afterwards.
  struct Case { const char* name; uint32_t mode; int32_t budget; double power; Words words; int64_t waveTime;
                std::vector<WavePoint> wave = kWave; } cases[] = {
      {"whole wave", 0, 6, 0.0, First(6), 1300},
      {"budget 5: the second point stops short of 10 %", 0, 5, 0.0, First(5), 1250},
      {"budget 3: the first point stops short", 0, 3, 0.0, First(3), 1150},
      {"from the whole part of 1500.7", 0, 6, 1500.7,
       {{1050, 0x290001C7}, {1100, 0x29000351}, {1150, 0x290004DB}, {1200, 0x29000666}, {1250, 0x290003FF},
        {1300, 0x29000199}},
       1300},
      // The second point starts from 40000, the whole part of 40000.9: (10012 + 40000) / 2 gives DA
      // value 1023 where 25006.45 would give 1024.
      {"each point starts from the whole part of the last power", 0, 3, 0.0,
       {{1050, 0x29000666}, {1100, 0x290003FF}, {1150, 0x29000199}}, 1150, {{0, 0.05, 40.0009}, {0, 0.1, 10.012}}},
      {"job without laser: NOPs at the same times", 1, 6, 0.0,
       {{1050, SW_NOP}, {1100, SW_NOP}, {1150, SW_NOP}, {1200, SW_NOP}, {1250, SW_NOP}, {1300, SW_NOP}}, 1300},
  };
  for (const Case& c : cases) {
    QZ_TRACE(c.name);
    Job(c.mode);
    CWaveHolder& h = g_WaveHolder[0];
    h.startWave = c.wave;
    h.nStartSteps = c.budget;
    h.dbPower = c.power;
    EXPECT_EQ(StreamPowerRampB(h, 1000, 0.01), 0);
    EXPECT_EQ(Floor().ch2, c.words);
    EXPECT_EQ(h.LastPower().nTime, c.waveTime);
    EXPECT_TRUE(Floor().ch3.empty());
  }
}

TEST_F(LaserTest, DotWaveRampAndLongRampsThinned) {
  struct Case { const char* name; int laser; uint32_t state; int64_t on, off; Words words; } cases[] = {
      {"a 300 µs dot: the whole wave", 0, kLaserStateOffDone, 1000, 1300, First(6)},
      {"120 µs: two steps", 0, kLaserStateOffDone, 1000, 1120, First(2)},
      {"laser 1", 1, kLaserStateOffDone, 1000, 1300,
       {{1050, 0x29020199}, {1100, 0x29020333}, {1150, 0x290204CC}, {1200, 0x29020666}, {1250, 0x290203FF},
        {1300, 0x29020199}}},
      {"no segment in the floor", 0, kLaserStateOff, 0, kFloorResetOffTime, {}},
  };
  for (const Case& c : cases) {
    QZ_TRACE(c.name);
    Job(0);
    CWaveHolder& h = g_WaveHolder[c.laser];
    h.dotWave = kWave;
    h.dbPower = 0.0;
    Segment(h, c.state, c.on, c.off);
    EXPECT_EQ(StreamPowerRamp(h, 0.01), 0);
    EXPECT_EQ(c.laser == 0 ? Floor().ch2 : Floor().ch5, c.words);
    EXPECT_TRUE((c.laser == 0 ? Floor().ch5 : Floor().ch2).empty());
  }
  // One point to 100 % in s steps over a dot of s steps: a word at the first and last step and at
  // every k-th step, k = s / 2048 bounded to 1..10; head: the first three words, tail: the last two.
  struct Long { int64_t steps; size_t count; Words head; Words tail; } longs[] = {
      {2048, 2048, {{50, 0x29000001}, {100, 0x29000003}, {150, 0x29000005}},
       {{102350, 0x29000FFD}, {102400, 0x29000FFF}}},
      {20479, 2277, {{50, 0x29000000}, {500, 0x29000001}, {950, 0x29000003}},
       {{1023800, 0x29000FFE}, {1023950, 0x29000FFF}}},
      {30000, 3001, {{50, 0x29000000}, {550, 0x29000001}, {1050, 0x29000002}},
       {{1499550, 0x29000FFD}, {1500000, 0x29000FFF}}},
  };
  for (const Long& c : longs) {
    QZ_TRACE(c.steps);
    Job(0);
    CWaveHolder& h = g_WaveHolder[0];
    h.dotWave = {WavePoint{0, static_cast<double>(c.steps) * 50 / 1000.0, 100.0}};
    h.dbPower = 0.0;
    Segment(h, kLaserStateOffDone, 0, c.steps * 50);
    StreamPowerRamp(h, 1.0);
    const Words& w = Floor().ch2;
    ASSERT_EQ(w.size(), c.count);
    EXPECT_EQ(std::tuple(Words(w.begin(), w.begin() + 3), Words(w.end() - 2, w.end())), std::tuple(c.head, c.tail));
  }
}

TEST_F(LaserTest, RampsInMillimetresNeedASpeed) {
  // code 0: played.
  struct Case { const char* name; std::vector<WavePoint> wave; double speed; uint32_t code; } cases[] = {
      {"speed 0", kWave, 0.0, 2}, {"NaN speed", kWave, kNaN, 7},
      {"milliseconds only: speed unused", {{0, 0.2, 40.0}}, 0.0, 0},
  };
  for (const Case& c : cases) {
    for (int dot = 0; dot < 2; ++dot) {
      QZ_TRACE(std::string(c.name) + (dot ? " (dot)" : " (start)"));
      Job(0);
      CWaveHolder& h = g_WaveHolder[0];
      h.startWave = h.dotWave = c.wave;
      h.nStartSteps = 6;
      h.dbPower = 0.0;
      Segment(h, kLaserStateOffDone, 1000, 1300);
      auto play = [&] { dot ? StreamPowerRamp(h, c.speed) : StreamPowerRampB(h, 1000, c.speed); };
      if (c.code) {
        ExpectCode(c.code, 0, play);
        EXPECT_TRUE(Floor().ch2.empty());
      } else {
        play();
        EXPECT_EQ(Floor().ch2, First(4));
      }
    }
  }
}

// ---- the layer switch: the schedule by lead time, values not sent twice within a job, refused layers

class LayerSwitchTest : public ScanSeqTest {
 protected:
  // Leads of power, pulse timing and wave number (ms, µs, ms).
  static void Leads(int32_t powerMs, int32_t pulseUs, int32_t waveMs) {
    g_SystemPara.nDaOutBeforeLaserMS = powerMs;
    g_SystemPara.nPrrBeforeMoPaUS = pulseUs;
    g_SystemPara.ChangeWaveNoDelay_ms = waveMs;
  }
  // Laser 0's power as the pen has it already: no power word.
  static void PowerSent(uint32_t layer) { g_WaveHolder[0].dbPower = g_LaserTimingPara[0][layer].dbPower * 1000; }
};

TEST_F(LayerSwitchTest, ChangesLandTheirLeadBeforeTheLayerAndAreNotSentTwice) {
  Leads(4, 8000, 90);
  g_SystemPara.LASER_TYPE = 3;  // analogue power
  g_SystemPara.nLaserCount = 2;
  g_SystemPara.bHaveScanZ = 1;
  g_SystemPara.dbZBox = 100;
  g_SystemPara.nWaveNoLock = 3;
  g_Laser[0].bFiberPwm = 1;  // sends its pulse timing
  g_PenPara[5] = {.nWaveNumber = 7, .dbZPos = 10, .nPower = 100};
  g_LaserTimingPara[0][5].dbPower = 100;
  g_LaserTimingPara[1][5].dbPower = 50;
  // The wave number at 9001 lands 90493 µs before the layer's moment at 99494.
  const Words expected = Stream()
                             .Nop(9000).Word(1, 1, 0x28000007).Nop(10).Nop(40000)  // wave number, lead 90000
                             .Word(20, 20, 0x29020FFF)                              // analogue power, 50000
                             .Word(20, 20, 0x01029999).Nop(42000)                   // Z, 50000
                             .Nop(1).Word(0, 0, 0x11000960).Word(0, 0, 0x12000960).Word(0, 0, 0x16000001).Nop(1)
                             .Nop(4000)                                              // pulse timing, 8000
                             .Word(100, 100, 0x29000FFF)                             // laser 0's power, 4000
                             .Word(100, 100, 0x290207FF).Nop(4000)                   // laser 1's power, 4000
                             .w;
  for (int job = 0; job < 2; ++job) {
    SCOPED_TRACE(job);
    Job(0);
    CMarkGen::ApplyLayer(5, 0);
    EXPECT_EQ(Main(), expected);
    CMarkGen::ApplyLayer(5, 0);  // nothing changed: nothing written, no advance
    EXPECT_EQ(Main().size(), expected.size());
  }
}

TEST_F(LayerSwitchTest, AnaloguePowerAndZWords) {
  Leads(0, 0, 0);
  g_SystemPara.LASER_TYPE = 3;
  g_SystemPara.bHaveScanZ = 1;
  g_SystemPara.dbZBox = 100;
  struct Case { int32_t power; double z; uint32_t mode; int32_t bits21; uint32_t analog, zWord; } cases[] = {
      {150, 10, 1, 0, 0x29020FFF, 0x01069999}, {-5, 10, 0, 1, 0x29020000, 0x01809999},
      {50, 80, 0, 0, 0x290207FF, 0x0102FFFF},  {1, -80, 0, 0, 0x29020028, 0x01020000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.power);
    Job(c.mode);
    g_SystemPara.bNewBoxCali = c.bits21;
    g_PenPara[3] = {.dbZPos = c.z, .nPower = c.power};
    PowerSent(3);
    CMarkGen::ApplyLayer(3, 0);
    EXPECT_EQ(Main(), Stream().Word(20, 20, c.analog).Word(20, 20, c.zWord).Nop(50000).w);
  }
  // 150 % then 120 %: both full scale, but the pen's percent changed, so the word goes out again.
  Job(0);
  g_SystemPara.bHaveScanZ = 0;
  g_PenPara[3] = {.nPower = 150};
  g_PenPara[4] = {.nPower = 120};
  PowerSent(3);
  PowerSent(4);
  CMarkGen::ApplyLayer(3, 0);
  CMarkGen::ApplyLayer(4, 0);
  EXPECT_EQ(Main(), Stream().Word(20, 20, 0x29020FFF).Nop(50000).Word(20, 20, 0x29020FFF).Nop(50000).w);
}

// The data bits of a clocked frame on output `data`, between its opening and closing clears.
std::vector<uint8_t> FrameBytes(const Words& words, int32_t data) {
  std::vector<int> bits;
  for (const TimedWord& w : words) {
    if (w.word == MakeIoWord(data, 1)) bits.push_back(1);
    if (w.word == MakeIoWord(data, 0)) bits.push_back(0);
  }
  std::vector<uint8_t> bytes;
  for (size_t i = 1; i + 8 < bits.size(); i += 8) {
    uint8_t b = 0;
    for (size_t k = 0; k < 8; ++k) b = static_cast<uint8_t>(b << 1 | bits[i + k]);
    bytes.push_back(b);
  }
  return bytes;
}

TEST_F(LayerSwitchTest, WaveNumberForms) {
  Leads(0, 0, 90);
  // bytes: a serial frame's bytes, or the words between the pauses; dataBit: the frame's data output, -1 the fixed
  // frame, 0 no frame.
  struct Case { const char* name; int32_t lock, frameType, n; uint32_t mode; std::vector<uint8_t> bytes;
                int32_t dataBit; } cases[] = {
      {"parallel outputs 23..27", 1, 0, 5, 0, {}, 0}, {"stream word", 3, 0, 300, 0, {}, 0},
      {"serial, kind 2", 2, 2, 0x1234, 0, {0xA5, 0x06, 0x34}, 25},
      {"serial, kind 1", 2, 1, 0x1234, 0, {0xA5, 0x01, 0x12, 0x34}, 24},
      {"serial, fixed frame", 2, 3, 0x1234, 0, {0xA5, 0x06, 0x12, 0x34, 0x00, 0x5A}, -1},
      {"serial, job without laser", 2, 2, 0x1234, 1, {}, 0}, {"negative wave number", 3, 0, -1, 0, {}, 0},
      {"no wave number", -1, 0, 5, 0, {}, 0},
  };
  g_SystemPara.nWaveNoMask = 0x1F;
  g_SystemPara.nWaveNoBit0IO = 23;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job(c.mode);
    g_SystemPara.nWaveNoLock = c.lock;
    g_SystemPara.LASER_IPG100W_TYPE = c.frameType;
    g_PenPara[9].nWaveNumber = c.n;
    PowerSent(9);
    CMarkGen::ApplyLayer(9, 0);
    if (c.n < 0 || c.lock == -1) {
      EXPECT_TRUE(Main().empty());
    } else if (c.lock == 1 || c.lock == 3) {
      const uint32_t word = c.lock == 1 ? 0x2203E00A : 0x2800002C;
      // The analogue power's and Z's leads (50000) space the schedule though they write nothing here.
      EXPECT_EQ(Main(), Stream().Nop(9000).Word(1, 1, word).Nop(10).Nop(40000).Nop(50000).w);
    } else if (c.dataBit == 0) {
      EXPECT_EQ(Main(), Stream().Nop(9000).Nop(10).Nop(40000).Nop(50000).w);
    } else {
      ASSERT_GE(Main().size(), 3u);
      EXPECT_EQ(Main()[1], (TimedWord{9001, 0x51500001}));
      std::vector<uint8_t> bytes;
      for (const TimedWord& w : Main())
        if ((w.word & 0xFFFFF00F) == 0x29000000) bytes.push_back(static_cast<uint8_t>(w.word >> 4));
      EXPECT_EQ(c.dataBit == -1 ? bytes : FrameBytes(Main(), c.dataBit), c.bytes);
    }
  }
}

TEST_F(LayerSwitchTest, SmallTaskResetsFirstBadLayersAreRefusedAndSelectLayerAllHasNoLeads) {
  Leads(0, 0, 0);
  PowerSent(4);
  g_Scan.dbCurX = 5;
  CMarkGen::bSmallTaskPending = 1;
  CMarkGen::ApplyLayer(4, 0);
  EXPECT_EQ(std::tuple(CMarkGen::bSmallTaskPending, g_Scan.dbCurX), std::tuple(0, 0.0));
  // The reset forgets laser 0's power: the jump to the centre, then the power again.
  EXPECT_EQ(Main(), Stream().Jump(0x01087FFF, 0x01097FFF).Word(100, 100, 0x29000004).w);
  for (uint32_t layer : {256u, 0xFFFFFFFFu}) {
    Job(0);
    ExpectCode(6, 1, [&] { CMarkGen::ApplyLayer(layer, 0); });
    ExpectCode(6, 1, [&] { CLaserAll::SelectLayerAll(layer); });
    EXPECT_TRUE(Main().empty());
  }
  // The selection outside the schedule has no leads.
  Job(0);
  Leads(4, 8000, 90);
  g_Laser[0].bFiberPwm = 1;
  g_LaserTimingPara[0][2].dbPower = 100;
  g_PenPara[2].nJumpDelay2 = 321;
  CLaserAll::SelectLayerAll(2);
  EXPECT_EQ(Main(), Stream()
                        .Word(100, 100, 0x29000FFF)
                        .Nop(1).Word(0, 0, 0x11000960).Word(0, 0, 0x12000960).Word(0, 0, 0x16000001).Nop(1)
                        .w);
  EXPECT_EQ(g_Scan.nJumpDelayMax, 321);
}

}  // namespace
}  // namespace qztest
