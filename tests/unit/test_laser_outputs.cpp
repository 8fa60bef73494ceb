// Every laser's operations as exact words, the light-path handshakes, and PA outputs and serial switch on the card.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "cardlink/card_io.h"
#include "cardlink/card_wire.h"
#include "frame/wait_desc.h"
#include "laser/laser_outputs.h"
#include "laser/light_path.h"
#include "laser/uart.h"
#include "qzmark.h"
#include "support/sim_card.h"
#include "test_mark_card_fixture.h"
#include "test_laser_fixture.h"

namespace qztest {
namespace {

TEST_F(LaserTest, LayerDelaysAndTheirFractionsIoPulsesAndZeroPower) {
  // zoom, first, second: zoom and the layer's delay fields (laser 0); the fractions are 7 before.
  struct Case { int32_t zoom, first, second; int32_t offUs, onUs; uint32_t offFrac, onFrac; } cases[] = {
      {4, 203, 50, 50, 12, 36, 24},   // remainders 3 and 2
      {100, 199, 99, 1, 0, 45, 45},   // 99 x 48 / 100 = 47: at most 45
      {1, 203, 50, 203, 50, 7, 7},    // zoom 1 keeps the fractions
      {0, 203, 50, 203, 50, 7, 7},
      {4, -3, -9, 0, -2, 0, 0},       // no negative fraction
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zoom);
    g_SystemPara.nLaserDelayZoom = c.zoom;
    g_LaserTimingPara[0][7].nFirstDelay = c.first;
    g_LaserTimingPara[0][7].nSecondDelay = c.second;
    g_LaserTimingPara[1][7].nSecondDelay = 6;
    for (CLaser& l : g_Laser) l.nOnDelayFrac = l.nOffDelayFrac = 7;
    CLaserAll::LoadLayerDelays(7);
    const CLaser& l = g_Laser[0];
    EXPECT_EQ(std::vector<int64_t>({l.nOffDelayUS, l.nOnDelayUS, l.nOffDelayFrac, l.nOnDelayFrac}),
              std::vector<int64_t>({c.offUs, c.onUs, c.offFrac, c.onFrac}));
  }
  EXPECT_EQ(g_Laser[1].nOnDelayFrac, 24u);  // the second laser reads its own row
  for (int32_t layer : {-1, 256}) ExpectCode(6, 1, [&] { CLaserAll::LoadLayerDelays(layer); });
  // Laser 0 sets output 23 and waits 200 ms; laser 1 output 28 with a negative ready delay.
  g_Laser[0].bEnableAtStart = g_Laser[1].bEnableAtStart = 1;
  g_Laser[0].nEnableBit = 23;
  g_Laser[1].nEnableBit = 28;
  g_Laser[0].dbReadyAfterEnableMS = 200.0;
  g_Laser[1].dbReadyAfterEnableMS = -5.0;
  CLaserAll::EmitIoPulses();
  EXPECT_EQ(Floor().ch3, (Words{{1, 0x22002002}, {2, SW_NOP}, {200002, SW_NOP}, {200003, 0x22040040},
                                {200004, SW_NOP}, {200004, SW_NOP}}));
  struct Zero { int32_t configured, onlyIfConfigured, lasers; uint32_t mode; Words words; } zeros[] = {
      {1, 1, 2, 0, {{100, 0x29000000}, {200, SW_NOP}, {300, 0x29020000}, {400, SW_NOP}}}, {0, 1, 2, 0, {}},
      {0, 0, 1, 1, {{100, SW_NOP}, {200, SW_NOP}}},  // a job without laser
  };
  for (const Zero& c : zeros) {
    Job(c.mode);
    g_SystemPara.MarkEndResetDaToZero = c.configured;
    g_SystemPara.nLaserCount = c.lasers;
    ZeroAllLaserPower(c.onlyIfConfigured);
    EXPECT_EQ(Floor().ch3, c.words);
  }
}

TEST_F(LaserTest, WaveNumberFrames) {
  // Fixed: strobe 31 and gate 24 cleared, 1000 µs; byte i on the power output at 50 + 100 i and
  // latched 50 µs later; the gate closed at 650; 1000 µs.
  const uint8_t six[6] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  SendWaveNoFrameFixed(six);
  const uint32_t sClr = 0x22200000, sSet = 0x22200200;
  EXPECT_EQ(Floor().ch3,
            (Words{{1, 0x51500001},   {2, SW_NOP},       {3, sClr},         {4, SW_NOP},         {5, 0x22004000},
                   {6, SW_NOP},       {1006, SW_NOP},    {1006, 0x22004004}, {1056, 0x29000120}, {1056, sClr},
                   {1106, sSet},      {1156, 0x29000340}, {1156, sClr},     {1206, sSet},       {1256, 0x29000560},
                   {1256, sClr},      {1306, sSet},      {1356, 0x29000780}, {1356, sClr},       {1406, sSet},
                   {1456, 0x290009A0}, {1456, sClr},     {1506, sSet},      {1556, 0x29000BC0}, {1556, sClr},
                   {1606, sSet},      {1656, sClr},      {1656, 0x22004000}, {2656, SW_NOP},    {2657, 0x51500000},
                   {2658, SW_NOP}}));
  // Clocked: 0xA5 on output 25 under eight clocks on 23, gate 24, with the extra words. Where a
  // clock falls as the data moves on, the clock comes first.
  Job(0);
  const uint8_t byte = 0xA5;
  SendWaveNoFrame(1, 8, 23, 24, 25, &byte, 1);
  const uint32_t cS = 0x22002002, cC = 0x22002000, d1 = 0x22008008, d0 = 0x22008000;
  EXPECT_EQ(Floor().ch3,
            (Words{{1, 0x51500001}, {2, SW_NOP},     {3, 0x2B000002}, {4, SW_NOP},     {5, cC},       {6, SW_NOP},
                   {7, 0x22004000}, {8, SW_NOP},     {9, d0},         {10, SW_NOP},    {11, 0x2B00000C}, {12, SW_NOP},
                   {1012, SW_NOP},  {1012, 0x22004004}, {1062, d1},   {1112, cS},      {1162, cC},    {1162, d0},
                   {1212, cS},      {1262, cC},      {1262, d1},      {1312, cS},      {1362, cC},    {1362, d0},
                   {1412, cS},      {1462, cC},      {1462, d0},      {1512, cS},      {1562, cC},    {1562, d1},
                   {1612, cS},      {1662, cC},      {1662, d0},      {1712, cS},      {1762, cC},    {1762, d1},
                   {1812, cS},      {1862, cC},      {1862, d0},      {1912, 0x22004000}, {2912, SW_NOP},
                   {2913, 0x2B000004}, {2914, SW_NOP}, {2915, 0x2B000001}, {2916, SW_NOP}, {2917, 0x51500000},
                   {2918, SW_NOP}}));
}

TEST_F(LaserTest, DotOnEveryLaser) {
  g_SystemPara.bOut1IsLaser = 1;
  EXPECT_EQ(CLaserAll::PointMarkAll(1), 1);
  EXPECT_EQ(Floor().ch1, (Words{{0, 0x20002002}, {0, 0x11000000}, {0, 0x12000000}, {0, 0x16000001},
                                {1, 0x16000000}, {1, 0x20002000}}));
  EXPECT_EQ(Floor().ch4, (Words{{0, 0x20002002}, {0, 0x18000000}, {0, 0x19000000}, {0, 0x1C000001},
                                {1, 0x1C000000}, {1, 0x20002000}}));
  // Laser 0's dot wave, 50 % over 0.1 ms: two steps from the power before (-1).
  Job(0);
  g_SystemPara.nLaserCount = 1;
  g_WaveHolder[0].bDotWave = 1;
  g_WaveHolder[0].dotWave = {WavePoint{0, 0.1, 50}};
  EXPECT_EQ(CLaserAll::PointMarkAll(100), 100);
  EXPECT_EQ(Floor().ch2, (Words{{50, 0x290003FF}, {100, 0x290007FF}}));
  g_SystemPara.nLaserCount = 0;
  EXPECT_EQ(CLaserAll::PointMarkAll(100), -1);
  g_SystemPara.nLaserCount = 2;
  Job(0);
  ExpectCode(31, 0, [] { CLaserAll::PointMarkAll(0); });
  EXPECT_TRUE(MarkFailed() && Floor().ch1.empty());
}

TEST_F(LaserTest, LineStartAndEndOfTheLaserModulePrograms) {
  // Laser 0 with its delays (on 30, off 20) and waves; laser 1 without delays: at 1 µs.
  for (CLaser& l : g_Laser) l.nOnDelayUS = 30, l.nOffDelayUS = 20;
  g_Laser[1].bApplyDelays = 0;
  CWaveHolder& h = g_WaveHolder[0];
  h.nWaveMode = 2;
  h.startWave = {WavePoint{0, 0.1, 100}};
  h.nStartSteps = 2;
  CLaserAll::BeginLineAll();
  EXPECT_EQ(Floor().ch0, (Words{{0, SW_NOP}, {0, SW_NOP}}));
  EXPECT_EQ(Floor().ch1, (Words{{30, SW_NOP}, {30, 0x11000000}, {30, 0x12000000}, {30, 0x16000001}}));
  EXPECT_EQ(Floor().ch4, (Words{{1, SW_NOP}, {1, 0x18000000}, {1, 0x19000000}, {1, 0x1C000001}}));
  EXPECT_EQ(Floor().ch2, (Words{{80, 0x290007FF}, {130, 0x29000FFF}}));
  EXPECT_EQ(g_Laser[0].bSegmentOpen + g_Laser[1].bSegmentOpen, 0);
  EXPECT_EQ(g_Laser[1].nSegOffTime, 1000000);
  // The end: the end wave of two steps from the off delay, the laser off after it.
  for (int noEndWave : {0, 1}) {
    Job(0);
    g_Laser[1].bApplyDelays = 0;
    h.bLineWaves = 1;
    h.endWave = {WavePoint{0, 0.1, 0}};
    h.nEndSteps = h.nEndStepsRun = 2;
    h.dbPower = 100000.0;
    CLaserAll::EndLineAll(noEndWave);
    const uint64_t off = noEndWave ? 20 : 120;
    EXPECT_EQ(Floor().ch2, (noEndWave ? Words{} : Words{{70, 0x290007FF}, {120, 0x29000000}}));
    EXPECT_EQ(Floor().ch1, (Words{{off, 0x16000000}, {off, SW_NOP}}));
    EXPECT_EQ(Floor().ch4, (Words{{1, 0x1C000000}, {1, SW_NOP}}));
  }
}

TEST_F(LaserTest, SerialSwitchListed) {
  g_SystemPara.nLaserCount = 1;
  g_SystemPara.nSerialFor3YLPN2Red1CW0none = 1;
  g_Laser[0].bMoBySerial = 1;
  // Plain form: each byte, a 1 s wait time-out and the wait word, 1 µs apart.
  CLaserAll::SendSerialSwitchCmd(1u << 29, 0, 0);
  Words expected;
  for (uint32_t i = 0; i < 4; ++i) {
    const uint32_t b = static_cast<uint8_t>("DPM\r"[i]);
    expected.insert(expected.end(), {{4 * i + 1, 0x71000000 | b}, {4 * i + 2, 0x560F4240}, {4 * i + 3, SW_NOP},
                                     {4 * i + 4, 0x51608080}});
  }
  EXPECT_EQ(Floor().ch3, expected);
  // Handshake form: byte, strobed byte, byte, each followed by a wait on the transmitter (source 5,
  // input 24 low, high, low) with a 1000 s time-out: 12 words in 4 µs each.
  Job(0);
  g_SystemPara.bNewBoxCali = 1;
  CLaserAll::SendSerialSwitchCmd(1u << 29, 1u << 29, 0);
  const Words& w = Floor().ch3;
  ASSERT_EQ(w.size(), 4u * 36u);
  EXPECT_EQ(std::vector<TimedWord>({w[0], w[8], w[9], w[10], w[11], w[12], w[20], w[24], w[143]}),
            std::vector<TimedWord>({{1, 0x71000045}, {2, 0x55000100}, {3, 0x569ACA00}, {3, 0x58000115},
                                    {4, 0x51658020}, {5, 0x71000145}, {6, 0x55000101}, {9, 0x71000045},
                                    {48, 0x51658020}}));
  // Outside a mark call: 27, nothing listed.
  Job(0);
  g_MarkJob.g_bMarkCallBusy = 0;
  ExpectCode(27, 1, [] { CLaserAll::SendSerialSwitchCmd(1u << 29, 0, 0); });
  g_MarkJob.g_bMarkCallBusy = 1;
  EXPECT_TRUE(Floor().ch3.empty());
}

// ---- against the simulated card

class LaserCardTest : public MarkCardTest {
 protected:
  void SetUp() override {
    Open(60);
    g_SystemPara.nLaserCount = 1;
    for (int i = 0; i < 2; ++i) g_Laser[i] = CLaser{}, g_Laser[i].nIndex = i;
  }
  void TearDown() override {
    for (CLaser& l : g_Laser) l = CLaser{};
    MarkCardTest::TearDown();
  }
  std::vector<uint32_t> UartBytes() {
    std::vector<uint32_t> out;
    for (const Cmd& c : Sent(CMD_UART_SEND)) out.push_back(std::get<2>(c));
    return out;
  }
  // A job of one mark-list call in `mode`; the outputs while it runs.
  uint32_t RunJob(uint32_t mode) {
    Begin(mode);
    EXPECT_EQ(Call(0), 0u);
    const uint32_t during = State().outputs;
    EXPECT_EQ(End(), 0u);
    return during;
  }
};

constexpr uint32_t kPa = 1u << 28, kOthers = 0x00400005;
const std::vector<uint32_t> kPaFrameOff = {0xAB, 0xCD, 0xFF, 0x02, 0xC9, 0, 0, 0, 0, 0, 0};

TEST_F(LaserCardTest, PaOutputsOfAJob) {
  constexpr Cmd kRead{CMD_OUTPUT, 0, 0}, kOff{CMD_OUTPUT, kPa, 0}, kOn{CMD_OUTPUT, kPa, kPa};
  // mode 0 fires the laser, 1 does not, 4 as 1 without this.
  struct Case { const char* name; uint32_t before, mode; int32_t paBit; uint32_t during; std::vector<Cmd> cmds; };
  const Case cases[] = {
      {"on, job fires the laser: off for the job", kOthers | kPa, 0, 28, kOthers, {kRead, kOff, kOn}},
      {"off, job fires the laser", kOthers, 0, 28, kOthers, {kRead}},
      {"off, job without laser: on for the job", kOthers, 1, 28, kOthers | kPa, {kRead, kOn, kOff}},
      {"on, job without laser", kOthers | kPa, 1, 28, kOthers | kPa, {kRead}}, {"mode 4", kOthers, 4, 28, kOthers, {}},
      {"no PA output", kOthers | kPa, 0, -1, kOthers | kPa, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_Laser[0].nPaBit = c.paBit;
    WriteOutputs(0xFFFFFFFF, c.before);
    cardsim_log_clear_();
    EXPECT_EQ(RunJob(c.mode), c.during);
    EXPECT_EQ(Sent(CMD_OUTPUT), c.cmds);
  }
  // Two lasers, laser 0's PA also over the serial link; laser 1's PA (26) was off and stays so.
  g_SystemPara.nLaserCount = 2;
  g_SystemPara.nSerialFor3YLPN2Red1CW0none = 2;
  g_Laser[0].nPaBit = 28;
  g_Laser[0].bPaBySerial = 1;
  g_Laser[1].nPaBit = 26;
  WriteOutputs(0xFFFFFFFF, kPa);
  cardsim_log_clear_();
  EXPECT_EQ(RunJob(0), 0u);
  EXPECT_EQ(Sent(CMD_OUTPUT), (std::vector<Cmd>{kRead, kOff, kRead, kOn}));
  std::vector<uint32_t> bytes = kPaFrameOff;
  bytes.insert(bytes.end(), {0xAB, 0xCD, 0xFF, 0x02, 0xC9, 1, 0, 0, 0, 0, 0});
  EXPECT_EQ(UartBytes(), bytes);
}

TEST_F(LaserCardTest, SerialSwitchAtOnceAndBeforeABufferedOutputAndUartTimeOut) {
  struct Case { int32_t protocol; uint32_t mask, value; std::vector<uint32_t> bytes; } cases[] = {
      {1, 1u << 29, 1u << 29, {'E', 'P', 'M', '\r'}}, {1, 1u << 29, ~(1u << 29), {'D', 'P', 'M', '\r'}},
      {1, 1u << 29 | 1u << 3, 1u << 29, {}},  // a second output
      {2, 1u << 29, 1u << 29, {}},            // MO on the PA protocol
      {2, kPa, ~kPa, kPaFrameOff}, {1, kPa, kPa, {}}, {0, kPa, kPa, {}},
  };
  g_Laser[0].bPaBySerial = g_Laser[0].bMoBySerial = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.protocol << " " << c.mask);
    g_SystemPara.nSerialFor3YLPN2Red1CW0none = c.protocol;
    cardsim_log_clear_();
    CLaserAll::SendSerialSwitchCmd(c.mask, c.value, 1);
    EXPECT_EQ(UartBytes(), c.bytes);
    // Plain form: each byte after the transmitter was seen idle.
    EXPECT_EQ(std::tuple(Sent(CMD_UART_TX_BUSY).size(), Sent().size()), std::tuple(c.bytes.size(), 2 * c.bytes.size()));
  }
  // A buffered output word tells the laser first.
  g_SystemPara.nSerialFor3YLPN2Red1CW0none = 1;
  Begin(1);
  ASSERT_EQ(QZ_MarkBufIO(1u << 29, 1u << 29, 0, 0), 0u);  // MO on
  ASSERT_EQ(QZ_MarkBufIO(0, 1u << 29 | 1u, 0, 0), 0u);     // with another output: no serial command
  ASSERT_EQ(End(), 0u);
  const std::vector<uint32_t> words = TraceWords();
  const std::vector<uint32_t> io = {SW_KIND_MARKER | KIND_IO, 0x71000045, 0x560F4240, 0x51608080, 0x71000050,
                                    0x560F4240, 0x51608080, 0x7100004D, 0x560F4240, 0x51608080, 0x7100000D,
                                    0x560F4240, 0x51608080, 0x22080080, SW_KIND_MARKER | KIND_IO, 0x20001000,
                                    0x22080000};
  EXPECT_NE(std::search(words.begin(), words.end(), io.begin(), io.end()), words.end());
  // A transmitter that stays busy: 37 after 100 polls, nothing sent in the plain form.
  cardsim_set_answer_(CMD_UART_TX_BUSY, 0, 0, 0, 1);
  cardsim_log_clear_();
  ExpectCode(37, 1, [] { UartSendByte(0x45); });
  EXPECT_EQ(Sent(), std::vector<Cmd>(kUartPollAttempts, Cmd{CMD_UART_TX_BUSY, 0, 0}));
}

// The galvanometer status word as the host reads it with the feedback on; analogue values the card
// would wrap are refused with 2, nothing sent: the output takes 12 bits (through the laser's range
// ratio, here 2).
TEST_F(LaserCardTest, StatusWordDecodedAndAnalogueValuesTheCardWouldWrapRefused) {
  g_SystemPara.bCloseFeedback = 1;
  struct Word { uint32_t word, state; } words[] = {{0, 32306}, {0x10000, 3}, {0x400000, 66}};
  for (const Word& c : words) {
    SCOPED_TRACE(c.word);
    cardsim_set_answer_(CMD_GALVO_STATUS, 1, 0, c.word, 0);
    uint32_t s = 0;
    ASSERT_EQ(QZ_GetScanState(&s), 0u);
    EXPECT_EQ(s, c.state);
  }
  g_Laser[0].dbCurrentRangeDaOut = 10.0;
  g_Laser[0].dbCurrentRangeLaserIn = 20.0;
  struct Case { double percent; std::vector<Cmd> sent; } cases[] = {
      // 50.01 % gives 4095.8, truncated; 50.02 % 4096.6, which the card would take as 0.
      {50, {{CMD_SET_DA, 0, 4095}}}, {50.01, {{CMD_SET_DA, 0, 4095}}}, {0, {{CMD_SET_DA, 0, 0}}}, {50.02, {}},
      {-1, {}}, {150, {}}, {HUGE_VAL, {}}, {std::nan(""), {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.percent);
    cardsim_log_clear_();
    EXPECT_EQ(QZ_SetDA(c.percent), c.sent.empty() ? 2u : 0u);
    EXPECT_EQ(Sent(), c.sent);
  }
}

// ---- light-path handshakes

// Outputs: 30 requests the path, 3 triggers the slaves (master), 5 reports ready (slave).
constexpr uint32_t kApply1 = 0x22100100, kApply0 = 0x22100000, kHost1 = 0x20008008, kHost0 = 0x20008000,
                   kDev1 = 0x20020020, kDev0 = 0x20020000;
// The named waits for these settings as {source, mask, value}: switch card idle and grant, laser idle
// and answer (input 23), two slaves ready (inputs 12, 13), trigger (11), both released.
constexpr uint32_t kWaits[8][3] = {{5, 0x10F, 0},      {5, 0x3F0F, 0x300},   {1, 0x800000, 0x800000},
                                   {1, 0x800000, 0},   {1, 0x3000, 0},       {1, 0x800, 0},
                                   {1, 0x3000, 0x3000}, {1, 0x800, 0x800}};
enum : uint32_t { kIdle, kGrant, kLaserIdle, kAck, kReady, kTrig, kReadyFree, kTrigFree };

// A step: 'o' output word (1, 1 µs), 'r' released output (1000, 1000 µs), 'w' named wait, 'O' the
// switch card's wait word (100, 1 µs) and a named wait.
struct Step { char kind; uint32_t arg; };

Words Expand(const std::vector<Step>& steps, uint32_t ossWord) {
  Words out;
  uint64_t t = 0;
  for (const Step& s : steps) {
    if (s.kind == 'o' || s.kind == 'r') {
      const uint64_t d = s.kind == 'o' ? 1 : 1000;
      out.insert(out.end(), {{t + d, s.arg}, {t + 2 * d, SW_NOP}});
      t += 2 * d;
      continue;
    }
    if (s.kind == 'O') {
      out.insert(out.end(), {{t + 100, ossWord}, {t + 101, SW_NOP}});
      t += 101;
    }
    const uint32_t* w = kWaits[s.arg];
    AddWait(out, t, w[1], w[2], std::nullopt, 0x58000100 | w[0], 0x51600020 | (w[0] * 2) << 15);
    t += 3;
  }
  return out;
}

class LightPathTest : public LaserTest {
 protected:
  static void Configure(int32_t type, int32_t ioInFromOss) {
    SystemPara& p = g_SystemPara;
    p.nOssNeedApplyIO = 30;
    p.nIO_OSS_Energy_Host_Trig_O = 3;
    p.nIO_OSS_Energy_Dev_Ready_O = 5;
    p.nIO_OSS_Energy_Host_Ready_I = 12;
    p.nIO_OSS_Energy_Trig_I = 11;
    p.bOssCusApplyAckIO = 1;
    p.nOssNeedAckIO = 23;
    p.SetLaserIoFlags(type);
    p.IoInFromOss = ioInFromOss;
    p.InitParaAckPattern();
    p.InitParaWaits();
    LoadLightPathConfig();
  }
};

TEST_F(LightPathTest, HandshakesByTypeAndKindNoneWithClearedFlagsAndWaitsOfTheLastLookUp) {
  // mode 0 fires the laser, 1 does not; kind positive: the request kind (apply, wait), negative: release of -kind.
  struct Case { const char* name; int32_t type, ioInFromOss, ignoreIdle, redMode, laserType; uint32_t mode;
                int32_t kind; int apply, wait; std::vector<Step> steps; } cases[] = {
      {"none: request", 0, 1, 0, 0, 0, 0, 2, 1, 1, {}},
      {"switch 1: wait only, laser type 7", 1, 1, 0, 0, 7, 0, 1, 0, 1, {{'O', kGrant}}},
      {"switch 1: apply only, laser type 5", 1, 1, 0, 0, 5, 0, 1, 1, 0, {{'O', kIdle}, {'o', kApply1}}},
      {"switch 1: release 2 still waits for the grant", 1, 1, 0, 0, 0, 0, -2, 0, 0, {{'O', kGrant}}},
      {"switch 1 on inputs", 1, 0, 0, 0, 0, 0, 1, 1, 1, {{'w', kLaserIdle}, {'o', kApply1}, {'w', kAck}}},
      {"switch 1 on inputs, idle ignored", 1, 0, 1, 0, 0, 0, 1, 1, 1, {{'o', kApply1}, {'w', kAck}}},
      {"switch 2: request 1", 2, 1, 0, 0, 0, 0, 1, 1, 1, {}},
      {"switch 2: request 2", 2, 1, 0, 0, 0, 0, 2, 1, 1, {{'O', kIdle}, {'o', kApply1}, {'O', kGrant}}},
      {"switch 2: release 2", 2, 1, 0, 0, 0, 0, -2, 0, 0, {{'O', kGrant}, {'o', kApply0}, {'O', kIdle}}},
      {"switch 2 on inputs: release 2", 2, 0, 0, 0, 0, 0, -2, 0, 0, {{'w', kAck}, {'o', kApply0}, {'w', kLaserIdle}}},
      {"slave: request 2", 3, 0, 0, 0, 0, 0, 2, 0, 1, {{'o', kDev1}, {'w', kTrig}, {'o', kDev0}}},
      {"slave: release 2", 3, 0, 0, 0, 0, 0, -2, 0, 0, {{'w', kTrigFree}}},
      {"master of 2: request 2", 5, 0, 0, 0, 0, 0, 2, 0, 1, {{'w', kReady}, {'o', kHost1}, {'w', kTrig}}},
      {"master of 2: release 2", 5, 0, 0, 0, 0, 0, -2, 0, 0, {{'o', kHost0}, {'w', kReadyFree}, {'w', kTrigFree}}},
      {"kind 3", 1, 1, 0, 0, 0, 0, 3, 1, 1, {}}, {"red mode, no laser: request", 1, 1, 0, 1, 0, 1, 1, 1, 1, {}},
      {"red mode, laser", 1, 1, 0, 1, 0, 0, -1, 0, 0, {{'r', kApply0}}},
      {"no laser, red mode off", 2, 1, 0, 0, 0, 1, -1, 0, 0, {{'r', kApply0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job(c.mode);
    g_SystemPara.bIgnoreOssIdle = c.ignoreIdle;
    g_SystemPara.nRedModeNoOss = c.redMode;
    g_SystemPara.LASER_TYPE = c.laserType;
    Configure(c.type, c.ioInFromOss);
    EXPECT_EQ(c.kind < 0 ? AppendLightPathRelease(-c.kind) : AppendLightPathRequest(c.kind, c.apply, c.wait), 0u);
    EXPECT_EQ(Floor().ch3, Expand(c.steps, c.laserType == 5 || c.laserType == 7 ? 0x7500000F : 0x75000007));
    EXPECT_EQ(Floor().clock, Floor().ch3.empty() ? 0u : Floor().ch3.back().time);
  }
  Job(0);
  // The reader cleared the switch flags but not the type-1 flag: neither call touches the switch card.
  Configure(1, 1);
  g_SystemPara.bOssType2 = g_SystemPara.bOssType1Or2 = 0;
  g_SystemPara.IoInFromOss = 0;
  for (int32_t kind : {1, 2}) {
    AppendLightPathRequest(kind, 1, 1);
    AppendLightPathRelease(kind);
  }
  EXPECT_TRUE(Floor().ch3.empty());
  // The waits are those of the last look-up.
  Configure(1, 1);
  WaitDescMap table = BaseWaitDescs();
  AddWaitDesc(table, 7, 0xAB, 0xCD, "等待分光卡光路申请反馈");
  g_mapWaitDesc.Publish(table);
  AppendOssWaitStep(LightPathWait::kOssGrant);  // as looked up
  EXPECT_EQ(Floor().ch3, Expand({{'O', kGrant}}, 0x75000007));
  LoadLightPathConfig();
  Job(0);
  AppendOssWaitStep("等待分光卡光路申请反馈");
  ASSERT_EQ(Floor().ch3.size(), 12u);
  EXPECT_EQ(Floor().ch3[3], (TimedWord{102, 0x5500ABCD}));
  EXPECT_EQ(Floor().ch3[11], (TimedWord{104, 0x51670020}));
}

}  // namespace
}  // namespace qztest
