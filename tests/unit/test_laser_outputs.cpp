// The operations on every laser as exact words and times: layer delays and their fractions, the IO
// pulses, both wave-number frames, zeroing the power, the dot on every laser, polyline start and end
// of the laser-module programs and the serial switch listed into the stream; against the simulated
// card: the PA outputs of a job and the serial switch sent at once.
#include <algorithm>
#include <string>
#include <vector>

#include "cardlink/card_io.h"
#include "cardlink/card_open.h"
#include "cardlink/card_wire.h"
#include "cardlink/portlane.h"
#include "laser/laser_outputs.h"
#include "laser/uart.h"
#include "mark/fifo_data.h"
#include "qzmark.h"
#include "support/sim_card.h"
#include "test_laser_fixture.h"

namespace qztest {
namespace {

WavePoint Pt(int32_t unit, double x, double power) {
  WavePoint p;
  p.unit = unit;
  p.x = x;
  p.power = power;
  return p;
}

// ---- layer delays, IO pulses, power

TEST_F(LaserTest, LayerDelaysAndTheirFractions) {
  struct Case {
    const char* name;
    int32_t zoom, first, second;  // the layer's delay fields (laser 0)
    int32_t offUs, onUs;
    uint32_t offFrac, onFrac;
  } cases[] = {
      {"zoom 4", 4, 203, 50, 50, 12, 36, 24},
      {"zoom 100, remainder 99: at most 45 ticks", 100, 199, 99, 1, 0, 45, 45},
      {"zoom 1 keeps the fractions", 1, 203, 50, 203, 50, 7, 7},
      {"zoom 0 counts as 1", 0, 203, 50, 203, 50, 7, 7},
      {"negative delays: no negative fraction", 4, -3, -9, 0, -2, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_SystemPara.nLaserDelayZoom = c.zoom;
    g_LaserTimingPara[0][7].nFirstDelay = c.first;
    g_LaserTimingPara[0][7].nSecondDelay = c.second;
    g_LaserTimingPara[1][7].nFirstDelay = 8;
    g_LaserTimingPara[1][7].nSecondDelay = 6;
    for (CLaser& l : g_Laser) l.nOnDelayFrac = l.nOffDelayFrac = 7;
    CLaserAll::LoadLayerDelays(7);
    EXPECT_EQ(g_Laser[0].nOffDelayUS, c.offUs);
    EXPECT_EQ(g_Laser[0].nOnDelayUS, c.onUs);
    EXPECT_EQ(g_Laser[0].nOffDelayFrac, c.offFrac);
    EXPECT_EQ(g_Laser[0].nOnDelayFrac, c.onFrac);
  }
  // The second laser reads its own row.
  EXPECT_EQ(g_Laser[1].nOffDelayUS, 2);
  EXPECT_EQ(g_Laser[1].nOnDelayUS, 1);
  EXPECT_EQ(g_Laser[1].nOnDelayFrac, 24u);
  for (int32_t layer : {-1, 256}) ExpectCode(6, 1, [&] { CLaserAll::LoadLayerDelays(layer); });
}

TEST_F(LaserTest, IoPulses) {
  struct Case {
    const char* name;
    bool first;           // laser 0 sets its enable output at the start (output 23, 200 ms)
    double secondReadyMs;  // laser 1 (output 28)
    Words words;
  } cases[] = {
      {"both lasers", true, -5.0,
       {{1, 0x22002002}, {2, SW_NOP}, {200002, SW_NOP}, {200003, 0x22040040}, {200004, SW_NOP}, {200004, SW_NOP}}},
      {"second laser only, 1.5 µs", false, 0.0015, {{1, 0x22040040}, {2, SW_NOP}, {3, SW_NOP}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job(0);
    g_Laser[0].bEnableAtStart = c.first;
    g_Laser[0].nEnableBit = 23;
    g_Laser[0].dbReadyAfterEnableMS = 200.0;
    g_Laser[1].bEnableAtStart = 1;
    g_Laser[1].nEnableBit = 28;
    g_Laser[1].dbReadyAfterEnableMS = c.secondReadyMs;
    CLaserAll::EmitIoPulses();
    EXPECT_EQ(Floor().ch3, c.words);
    EXPECT_EQ(Floor().clock, c.words.back().time);
  }
}

TEST_F(LaserTest, ZeroAllLaserPower) {
  struct Case {
    int32_t configured, onlyIfConfigured, lasers;
    uint32_t mode;
    Words words;
  } cases[] = {
      {1, 1, 2, 0, {{100, 0x29000000}, {200, SW_NOP}, {300, 0x29020000}, {400, SW_NOP}}},
      {0, 1, 2, 0, {}},
      {0, 0, 1, 0, {{100, 0x29000000}, {200, SW_NOP}}},
      {1, 1, 1, 1, {{100, SW_NOP}, {200, SW_NOP}}},  // a job without laser
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.configured << c.onlyIfConfigured << c.lasers << c.mode);
    Job(c.mode);
    g_SystemPara.MarkEndResetDaToZero = c.configured;
    g_SystemPara.nLaserCount = c.lasers;
    for (CWaveHolder& h : g_WaveHolder) h.dbPower = 30000.0;
    ZeroAllLaserPower(c.onlyIfConfigured);
    EXPECT_EQ(Floor().ch3, c.words);
    EXPECT_EQ(g_WaveHolder[0].dbPower, c.words.empty() ? 30000.0 : 0.0);
    EXPECT_EQ(g_WaveHolder[1].dbPower, c.lasers == 2 && !c.words.empty() ? 0.0 : 30000.0);
  }
}

// ---- wave-number frames

TEST_F(LaserTest, FixedWaveNumberFrame) {
  const uint8_t bytes[6] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  SendWaveNoFrameFixed(bytes);
  // Strobe 31 and gate 24 cleared, a 1000 µs pause; each byte on the power output at 50 + 100 i,
  // latched 50 µs later; the gate closes at 650; a 1000 µs pause.
  const Words expected = {
      {1, 0x51500001},    {2, SW_NOP},        {3, 0x22200000},    {4, SW_NOP},        {5, 0x22004000},
      {6, SW_NOP},        {1006, SW_NOP},     {1006, 0x22004004}, {1056, 0x29000120}, {1056, 0x22200000},
      {1106, 0x22200200}, {1156, 0x29000340}, {1156, 0x22200000}, {1206, 0x22200200}, {1256, 0x29000560},
      {1256, 0x22200000}, {1306, 0x22200200}, {1356, 0x29000780}, {1356, 0x22200000}, {1406, 0x22200200},
      {1456, 0x290009A0}, {1456, 0x22200000}, {1506, 0x22200200}, {1556, 0x29000BC0}, {1556, 0x22200000},
      {1606, 0x22200200}, {1656, 0x22200000}, {1656, 0x22004000}, {2656, SW_NOP},     {2657, 0x51500000},
      {2658, SW_NOP},
  };
  EXPECT_EQ(Floor().ch3, expected);
  EXPECT_EQ(Floor().clock, 2658u);
}

TEST_F(LaserTest, ClockedWaveNumberFrame) {
  // 0xA5 on output 25, eight clocks on output 23, gate on output 24, with the extra words.
  const uint8_t byte = 0xA5;
  SendWaveNoFrame(1, 8, 23, 24, 25, &byte, 1);
  const uint32_t clkSet = 0x22002002, clkClr = 0x22002000, d1 = 0x22008008, d0 = 0x22008000;
  const Words expected = {
      {1, 0x51500001}, {2, SW_NOP},  {3, 0x2B000002},    {4, SW_NOP},    {5, clkClr},          {6, SW_NOP},
      {7, 0x22004000}, {8, SW_NOP},  {9, d0},            {10, SW_NOP},   {11, 0x2B00000C},     {12, SW_NOP},
      {1012, SW_NOP},  {1012, 0x22004004},  // gate open
      {1062, d1},      {1112, clkSet}, {1162, clkClr},   {1162, d0},     {1212, clkSet},       {1262, clkClr},
      {1262, d1},      {1312, clkSet}, {1362, clkClr},   {1362, d0},     {1412, clkSet},       {1462, clkClr},
      {1462, d0},      {1512, clkSet}, {1562, clkClr},   {1562, d1},     {1612, clkSet},       {1662, clkClr},
      {1662, d0},      {1712, clkSet}, {1762, clkClr},   {1762, d1},     {1812, clkSet},       {1862, clkClr},
      {1862, d0},      {1912, 0x22004000},  // gate closed
      {2912, SW_NOP},  {2913, 0x2B000004}, {2914, SW_NOP}, {2915, 0x2B000001}, {2916, SW_NOP}, {2917, 0x51500000},
      {2918, SW_NOP},
  };
  EXPECT_EQ(Floor().ch3, expected);

  // Without the extra words the frame is the same, two words shorter on each side.
  Job(0);
  SendWaveNoFrame(1, 8, 23, 24, 25, &byte, 0);
  const Words& w = Floor().ch3;
  ASSERT_EQ(w.size(), expected.size() - 4);
  EXPECT_EQ(w[10], (TimedWord{1010, SW_NOP}));
  EXPECT_EQ(w[11], (TimedWord{1010, 0x22004004}));
  EXPECT_EQ(w[w.size() - 5], (TimedWord{2910, SW_NOP}));
  EXPECT_EQ(w[w.size() - 4], (TimedWord{2911, 0x2B000001}));
}

// ---- dots and polylines

TEST_F(LaserTest, PointMarkAll) {
  g_SystemPara.bOut1IsLaser = 1;
  EXPECT_EQ(CLaserAll::PointMarkAll(1), 1);
  EXPECT_EQ(Floor().ch1, (Words{{0, 0x20002002},
                                {0, 0x11000000},
                                {0, 0x12000000},
                                {0, 0x16000001},
                                {1, 0x16000000},
                                {1, 0x20002000}}));
  EXPECT_EQ(Floor().ch4, (Words{{0, 0x20002002},
                                {0, 0x18000000},
                                {0, 0x19000000},
                                {0, 0x1C000001},
                                {1, 0x1C000000},
                                {1, 0x20002000}}));
  for (const FloorLaserState& s : Floor().laserState) {
    EXPECT_EQ(s.nState, kLaserStateOffDone);
    EXPECT_EQ(s.nOffTime, 1);
  }
  EXPECT_TRUE(Floor().ch2.empty());

  // The dot wave of laser 0, 50 % over 0.1 ms, in two steps from the power before (-1).
  Job(0);
  g_SystemPara.nLaserCount = 1;
  g_WaveHolder[0].bDotWave = 1;
  g_WaveHolder[0].dotWave = {Pt(0, 0.1, 50)};
  EXPECT_EQ(CLaserAll::PointMarkAll(100), 100);
  EXPECT_EQ(Floor().ch2, (Words{{50, 0x290003FF}, {100, 0x290007FF}}));
  EXPECT_TRUE(Floor().ch4.empty());

  g_SystemPara.nLaserCount = 0;
  EXPECT_EQ(CLaserAll::PointMarkAll(100), -1);
  g_SystemPara.nLaserCount = 2;
  for (int32_t t : {0, -7}) {
    Job(0);
    ExpectCode(31, 0, [&] { CLaserAll::PointMarkAll(t); });
    EXPECT_TRUE(MarkFailed());
    EXPECT_TRUE(Floor().ch1.empty());
  }
}

TEST_F(LaserTest, LineStartAndEndOfTheLaserModulePrograms) {
  // Laser 0 with its delays (on 30, off 20) and waves; laser 1 without delays: at 1 µs.
  for (CLaser& l : g_Laser) {
    l.nOnDelayUS = 30;
    l.nOffDelayUS = 20;
  }
  g_Laser[1].bApplyDelays = 0;
  CWaveHolder& h = g_WaveHolder[0];
  h.nWaveMode = 2;
  h.startWave = {Pt(0, 0.1, 100)};
  h.nStartSteps = 2;
  CLaserAll::BeginLineAll();
  EXPECT_EQ(Floor().ch0, (Words{{0, SW_NOP}, {0, SW_NOP}}));
  EXPECT_EQ(Floor().ch1, (Words{{30, SW_NOP}, {30, 0x11000000}, {30, 0x12000000}, {30, 0x16000001}}));
  EXPECT_EQ(Floor().ch4, (Words{{1, SW_NOP}, {1, 0x18000000}, {1, 0x19000000}, {1, 0x1C000001}}));
  EXPECT_EQ(Floor().ch2, (Words{{80, 0x290007FF}, {130, 0x29000FFF}}));
  EXPECT_EQ(h.LastPower().nTime, 130);
  EXPECT_EQ(g_Laser[0].State().nOnTime, 30u);
  for (const CLaser& l : g_Laser) {
    EXPECT_EQ(l.bSegmentOpen, 0);
    EXPECT_EQ(l.nSegOffTime, 1000000);
  }
  EXPECT_EQ(g_Laser[1].nSegOnTime, 1);

  // The end, in a floor of its own: the end wave of two steps from the off time, the laser off after.
  struct Case {
    int bNoEndWave;
    Words wave, off;
  } cases[] = {
      {0, {{70, 0x290007FF}, {120, 0x29000000}}, {{120, 0x16000000}, {120, SW_NOP}}},
      {1, {}, {{20, 0x16000000}, {20, SW_NOP}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bNoEndWave);
    Job(0);
    for (CLaser& l : g_Laser) l.bApplyDelays = &l == &g_Laser[0];
    h.bLineWaves = 1;
    h.endWave = {Pt(0, 0.1, 0)};
    h.nEndSteps = h.nEndStepsRun = 2;
    h.nMidSteps = 0;
    h.dbPower = 100000.0;
    CLaserAll::EndLineAll(c.bNoEndWave);
    EXPECT_EQ(Floor().ch0, (Words{{0, SW_NOP}, {0, SW_NOP}}));
    EXPECT_EQ(Floor().ch2, c.wave);
    EXPECT_EQ(Floor().ch1, c.off);
    EXPECT_EQ(Floor().ch4, (Words{{1, 0x1C000000}, {1, SW_NOP}}));
    EXPECT_EQ(g_Laser[0].bSegmentOpen, 0);
    EXPECT_EQ(g_Laser[0].nSegOffTime, static_cast<int64_t>(c.off[0].time));
  }
}

// ---- the serial switch listed into the job stream

TEST_F(LaserTest, SerialSwitchListed) {
  g_SystemPara.nLaserCount = 1;
  g_SystemPara.nSerialFor3YLPN2Red1CW0none = 1;
  g_Laser[0].bMoBySerial = 1;
  g_Laser[0].nMoBit = 29;
  // Plain form: each byte, a 1 s wait time-out and the wait word, 1 µs apart.
  CLaserAll::SendSerialSwitchCmd(1u << 29, 0, 0);
  Words expected;
  uint64_t t = 0;
  for (uint32_t b : {'D', 'P', 'M', '\r'}) {
    expected.insert(expected.end(),
                    {{t + 1, 0x71000000 | b}, {t + 2, 0x560F4240}, {t + 3, SW_NOP}, {t + 4, 0x51608080}});
    t += 4;
  }
  EXPECT_EQ(Floor().ch3, expected);

  // Handshake form: byte, strobed byte, byte, each followed by a wait on the transmitter (source 5,
  // bit 24 low, high, low) with a 1000 s time-out.
  Job(0);
  g_SystemPara.bNewBoxCali = 1;
  CLaserAll::SendSerialSwitchCmd(1u << 29, 1u << 29, 0);
  const Words& w = Floor().ch3;
  ASSERT_EQ(w.size(), 4u * 36u);
  const uint32_t words[3] = {0x71000045, 0x71000145, 0x71000045};
  const uint32_t lane3[3] = {0x55000100, 0x55000101, 0x55000100};
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    const size_t i = 12 * k;
    const uint64_t t0 = 4u * k;
    EXPECT_EQ(w[i], (TimedWord{t0 + 1, words[k]}));
    EXPECT_EQ(w[i + 7], (TimedWord{t0 + 2, 0x52000003}));
    EXPECT_EQ(w[i + 8], (TimedWord{t0 + 2, lane3[k]}));
    EXPECT_EQ(w[i + 9], (TimedWord{t0 + 3, 0x569ACA00}));
    EXPECT_EQ(w[i + 10], (TimedWord{t0 + 3, 0x58000115}));
    EXPECT_EQ(w[i + 11], (TimedWord{t0 + 4, 0x51658020}));
  }
  EXPECT_EQ(w[36], (TimedWord{13, 0x71000050}));  // 'P'
  EXPECT_EQ(w.back().time, 48u);

  // Nothing for a mask with another bit, or another protocol; listed outside a mark call: 27.
  Job(0);
  CLaserAll::SendSerialSwitchCmd(1u << 29 | 1u, 1u << 29, 0);
  g_SystemPara.nSerialFor3YLPN2Red1CW0none = 2;
  CLaserAll::SendSerialSwitchCmd(1u << 29, 1u << 29, 0);
  EXPECT_TRUE(Floor().ch3.empty());
  g_SystemPara.nSerialFor3YLPN2Red1CW0none = 1;
  g_MarkJob.g_bMarkCallBusy = 0;
  ExpectCode(27, 1, [] { CLaserAll::SendSerialSwitchCmd(1u << 29, 0, 0); });
  EXPECT_TRUE(Floor().ch3.empty());
  g_MarkJob.g_bMarkCallBusy = 1;
}

// ---- against the simulated card

class LaserCardTest : public SimCardTest {
 protected:
  void SetUp() override {
    Stage(0);
    cardsim_set_card_version_(60);
    ASSERT_EQ(OpenLink(), 0u);
    ASSERT_TRUE(ReadAndCheckCardVersion());
    g_SystemPara.HowLongTimeFirstBuf = 20000;
    g_SystemPara.nSteadyWindowUs = 12000;
    g_SystemPara.nLaserCount = 1;
    for (int i = 0; i < 2; ++i) {
      g_Laser[i] = CLaser{};
      g_Laser[i].nIndex = i;
    }
  }
  void TearDown() override {
    g_MarkJob.Reset();
    g_bRunFlag = 0;
    for (CLaser& l : g_Laser) l = CLaser{};
    SimCardTest::TearDown();
  }
  // The commands sent since the log was cleared, as (command, p1, p2).
  struct Cmd {
    uint32_t command, p1, p2;
    friend bool operator==(const Cmd&, const Cmd&) = default;
    friend void PrintTo(const Cmd& c, std::ostream* os) { *os << "(" << c.command << ", " << c.p1 << ", " << c.p2 << ")"; }
  };
  std::vector<Cmd> Commands() {
    std::vector<Cmd> out;
    for (const cardsim_frame& f : Frames())
      if (f.kind == CARDSIM_KIND_COMMAND) out.push_back({f.command, f.p1, f.p2});
    return out;
  }
  std::vector<Cmd> Only(uint32_t command) {
    std::vector<Cmd> out;
    for (const Cmd& c : Commands())
      if (c.command == command) out.push_back(c);
    return out;
  }
  // The bytes sent to the laser's UART (command 114).
  std::vector<uint32_t> UartBytes() {
    std::vector<uint32_t> out;
    for (const Cmd& c : Only(CMD_UART_SEND)) out.push_back(c.p2);
    return out;
  }
};

constexpr uint32_t kPa = 1u << 28;
constexpr uint32_t kOthers = 0x00400005;

TEST_F(LaserCardTest, PaOutputsOfAJob) {
  using C = Cmd;
  constexpr C kRead{CMD_OUTPUT, 0, 0};
  struct Case {
    const char* name;
    uint32_t before;  // the outputs before the job
    uint32_t mode;    // QZ_MarkStart's mode: 0 fires the laser, 1 does not, 4 as 1 without this
    int32_t paBit;
    uint32_t during, after;
    std::vector<Cmd> cmds;
  } cases[] = {
      {"on, job fires the laser: off for the job", kOthers | kPa, 0, 28, kOthers, kOthers | kPa,
       {kRead, {CMD_OUTPUT, kPa, 0}, {CMD_OUTPUT, kPa, kPa}}},
      {"off, job fires the laser: stays off", kOthers, 0, 28, kOthers, kOthers, {kRead}},
      {"off, job without laser: on for the job", kOthers, 1, 28, kOthers | kPa, kOthers,
       {kRead, {CMD_OUTPUT, kPa, kPa}, {CMD_OUTPUT, kPa, 0}}},
      {"on, job without laser: stays on", kOthers | kPa, 1, 28, kOthers | kPa, kOthers | kPa, {kRead}},
      {"mode 4: untouched", kOthers, 4, 28, kOthers, kOthers, {}},
      {"no PA output", kOthers | kPa, 0, -1, kOthers | kPa, kOthers | kPa, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_Laser[0].nPaBit = c.paBit;
    WriteOutputs(0xFFFFFFFF, c.before);
    cardsim_log_clear_();
    {
      CMarkLock lock;
      ASSERT_TRUE(lock.Owns());
      CMarkJob::InitJob(c.mode);
      ASSERT_EQ(MarkBufferBefore(KIND_BUFFER), 0u);
    }
    EXPECT_EQ(State().outputs, c.during);
    {
      CMarkLock lock;
      EXPECT_EQ(MustEndThread(1, 0, 1, 0), 0u);
    }
    EXPECT_EQ(State().outputs, c.after);
    EXPECT_EQ(Only(CMD_OUTPUT), c.cmds);
    EXPECT_TRUE(UartBytes().empty());
  }
}

TEST_F(LaserCardTest, PaOutputsOfTwoLasersAndTheSerialFrame) {
  // Laser 0's PA goes to the laser as a serial frame as well; laser 1's PA (26) was off.
  g_SystemPara.nLaserCount = 2;
  g_SystemPara.nSerialFor3YLPN2Red1CW0none = 2;
  g_Laser[0].bPaBySerial = 1;
  g_Laser[1].nPaBit = 26;
  WriteOutputs(0xFFFFFFFF, kPa);
  cardsim_log_clear_();
  {
    CMarkLock lock;
    CMarkJob::InitJob(0);
    ASSERT_EQ(MarkBufferBefore(KIND_BUFFER), 0u);
  }
  EXPECT_EQ(State().outputs, 0u);
  {
    CMarkLock lock;
    EXPECT_EQ(MustEndThread(1, 0, 1, 0), 0u);
  }
  EXPECT_EQ(State().outputs, kPa);
  EXPECT_EQ(Only(CMD_OUTPUT), (std::vector<Cmd>{{CMD_OUTPUT, 0, 0},
                                                {CMD_OUTPUT, kPa, 0},
                                                {CMD_OUTPUT, 0, 0},
                                                {CMD_OUTPUT, kPa, kPa}}));
  EXPECT_EQ(UartBytes(), (std::vector<uint32_t>{0xAB, 0xCD, 0xFF, 0x02, 0xC9, 0, 0, 0, 0, 0, 0,  //
                                                0xAB, 0xCD, 0xFF, 0x02, 0xC9, 1, 0, 0, 0, 0, 0}));
}

TEST_F(LaserCardTest, SerialSwitchAtOnce) {
  struct Case {
    const char* name;
    int32_t protocol;
    uint32_t mask, value;
    std::vector<uint32_t> bytes;
  } cases[] = {
      {"MO on", 1, 1u << 29, 1u << 29, {'E', 'P', 'M', '\r'}},
      {"MO off", 1, 1u << 29, 0xFFFFFFFF & ~(1u << 29), {'D', 'P', 'M', '\r'}},
      {"MO with a second bit", 1, 1u << 29 | 1u << 3, 1u << 29, {}},
      {"MO on the PA protocol", 2, 1u << 29, 1u << 29, {}},
      {"PA on", 2, kPa, kPa, {0xAB, 0xCD, 0xFF, 0x02, 0xC9, 1, 0, 0, 0, 0, 0}},
      {"PA off", 2, kPa, ~kPa, {0xAB, 0xCD, 0xFF, 0x02, 0xC9, 0, 0, 0, 0, 0, 0}},
      {"PA on the MO protocol", 1, kPa, kPa, {}},
      {"no serial protocol", 0, kPa, kPa, {}},
      {"empty mask", 2, 0, 0, {}},
  };
  g_Laser[0].bPaBySerial = 1;
  g_Laser[0].bMoBySerial = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_SystemPara.nSerialFor3YLPN2Red1CW0none = c.protocol;
    cardsim_log_clear_();
    CLaserAll::SendSerialSwitchCmd(c.mask, c.value, 1);
    EXPECT_EQ(UartBytes(), c.bytes);
    // Plain form: each byte after the transmitter was seen idle.
    const std::vector<Cmd> cmds = Commands();
    ASSERT_EQ(cmds.size(), 2 * c.bytes.size());
    for (size_t i = 0; i < cmds.size(); i += 2) EXPECT_EQ(cmds[i], (Cmd{CMD_UART_TX_BUSY, 0, 0}));
  }
  // A PA bit that is not an output: no frame.
  g_Laser[0].nPaBit = -1;
  g_SystemPara.nSerialFor3YLPN2Red1CW0none = 2;
  cardsim_log_clear_();
  CLaserAll::SendSerialSwitchCmd(1u << 31, 1u << 31, 1);
  EXPECT_TRUE(Commands().empty());
}

TEST_F(LaserCardTest, MarkBufIOTellsTheLaserFirst) {
  g_SystemPara.nSerialFor3YLPN2Red1CW0none = 1;
  g_Laser[0].bMoBySerial = 1;
  {
    CMarkLock lock;
    CMarkJob::InitJob(1);
  }
  ASSERT_EQ(QZ_MarkBufIO(1u << 29, 1u << 29, 0, 0), 0u);  // MO on
  ASSERT_EQ(QZ_MarkBufIO(0, 1u << 29 | 1u, 0, 0), 0u);     // with another output: no serial command
  {
    CMarkLock lock;
    ASSERT_EQ(MustEndThread(1, 0, 1, 0), 0u);
  }
  std::vector<uint32_t> words;
  for (uint32_t i = 0, n = cardsim_trace_count_(1); i < n; ++i) {
    cardsim_trace_entry e{};
    cardsim_trace_get_(1, i, &e);
    words.push_back(e.word);
  }
  const std::vector<uint32_t> io = {SW_KIND_MARKER | KIND_IO,
                                    0x71000045, 0x560F4240, 0x51608080,
                                    0x71000050, 0x560F4240, 0x51608080,
                                    0x7100004D, 0x560F4240, 0x51608080,
                                    0x7100000D, 0x560F4240, 0x51608080,
                                    0x22080080,  // output 29 set
                                    SW_KIND_MARKER | KIND_IO,
                                    0x20001000, 0x22080000};
  const auto at = std::search(words.begin(), words.end(), io.begin(), io.end());
  EXPECT_NE(at, words.end());
}

TEST_F(LaserCardTest, UartHandshakeTimeOuts) {
  g_SystemPara.bNewBoxCali = 1;
  // The card never takes the strobed byte: the byte is sent again without the strobe, then 37.
  cardsim_log_clear_();
  ExpectCode(37, 1, [] { UartSendByte(0x45); });
  std::vector<Cmd> expected = {{CMD_UART_SEND, 0, 0x45}, {CMD_UART_TX_BUSY, 0, 0}, {CMD_UART_SEND, 0, 0x145}};
  expected.insert(expected.end(), kUartPollAttempts, Cmd{CMD_UART_TX_BUSY, 0, 0});
  expected.push_back({CMD_UART_SEND, 0, 0x45});
  EXPECT_EQ(Commands(), expected);

  // A transmitter that stays busy: 37 after the first poll gave up.
  cardsim_set_answer_(CMD_UART_TX_BUSY, 0, 0, 0, 1);
  cardsim_log_clear_();
  ExpectCode(37, 1, [] { UartSendByte(0x45); });
  EXPECT_EQ(Commands().size(), 1u + kUartPollAttempts);
  // The plain form likewise.
  g_SystemPara.bNewBoxCali = 0;
  cardsim_log_clear_();
  ExpectCode(37, 1, [] { UartSendByte(0x45); });
  EXPECT_EQ(Only(CMD_UART_SEND).size(), 0u);
  EXPECT_EQ(Commands().size(), size_t{kUartPollAttempts});
  // A lost card: 1, silently.
  cardsim_clear_answers_();
  cardsim_fault_lose_at_(1);
  ExpectLost([] { UartSendByte(0x45); });
}

}  // namespace
}  // namespace qztest
