// Power ramps: the start wave of a polyline within the steps SplitAt left, and the dot wave over the
// laser's segment with its thinning, as exact power words and times.
#include <limits>

#include "support/trace.h"
#include "laser/laser_stream.h"
#include "test_laser_fixture.h"

namespace qztest {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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
  struct Case {
    const char* name;
    uint32_t mode;
    int32_t budget;    // nStartSteps
    double power;      // the holder's power before
    Words words;       // from t0 = 1000
    int64_t waveTime;  // the wave record's time afterwards
    std::vector<WavePoint> wave = kWave;
  } cases[] = {
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
  // The power last written is the holder's power.
  EXPECT_EQ(g_WaveHolder[0].dbPower, 10000.0);
}

TEST_F(LaserTest, DotWaveRamp) {
  struct Case { const char* name; int laser; uint32_t state; int64_t on, off; Words words; } cases[] = {
      {"a 300 µs dot: the whole wave", 0, kLaserStateOffDone, 1000, 1300, First(6)},
      {"349 µs: still six steps", 0, kLaserStateOffDone, 1000, 1349, First(6)},
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
}

TEST_F(LaserTest, LongDotRampsAreThinned) {
  // One point to 100 % in s steps over a dot of s steps: a word at the first and last step and at
  // every k-th step, k = s / 2048 bounded to 1..10.
  struct Case {
    int64_t steps;
    size_t count;
    Words head;  // the first three words
    Words tail;  // the last two
  } cases[] = {
      {2048, 2048, {{50, 0x29000001}, {100, 0x29000003}, {150, 0x29000005}},
       {{102350, 0x29000FFD}, {102400, 0x29000FFF}}},
      {4096, 2049, {{50, 0x29000000}, {150, 0x29000002}, {250, 0x29000004}},
       {{204750, 0x29000FFE}, {204800, 0x29000FFF}}},
      {20479, 2277, {{50, 0x29000000}, {500, 0x29000001}, {950, 0x29000003}},
       {{1023800, 0x29000FFE}, {1023950, 0x29000FFF}}},
      {30000, 3001, {{50, 0x29000000}, {550, 0x29000001}, {1050, 0x29000002}},
       {{1499550, 0x29000FFD}, {1500000, 0x29000FFF}}},
  };
  for (const Case& c : cases) {
    QZ_TRACE(c.steps);
    Job(0);
    CWaveHolder& h = g_WaveHolder[0];
    h.dotWave = {WavePoint{0, static_cast<double>(c.steps) * 50 / 1000.0, 100.0}};
    h.dbPower = 0.0;
    Segment(h, kLaserStateOffDone, 0, c.steps * 50);
    StreamPowerRamp(h, 1.0);
    const Words& w = Floor().ch2;
    ASSERT_EQ(w.size(), c.count);
    EXPECT_EQ(Words(w.begin(), w.begin() + 3), c.head);
    EXPECT_EQ(Words(w.end() - 2, w.end()), c.tail);
  }
}

TEST_F(LaserTest, RampsInMillimetresNeedASpeed) {
  struct Case {
    const char* name;
    std::vector<WavePoint> wave;
    double speed;
    uint32_t code;  // 0: played
  } cases[] = {
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
        EXPECT_EQ(h.dbPower, 0.0);
      } else {
        play();
        EXPECT_EQ(Floor().ch2, First(4));
      }
    }
  }
}

}  // namespace
}  // namespace qztest
