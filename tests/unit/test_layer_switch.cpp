// The layer switch: the schedule by lead time, the analogue power, Z and wave-number forms, values
// not sent twice within a job, the small-task reset, refused layers and the switch without leads.
#include "frame/system_para.h"
#include "mark/layer_switch.h"
#include "test_scan_fixture.h"

namespace qztest {
namespace {

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
  const Words expected = Stream()
                             .Nop(9000).Word(1, 1, 0x28000007).Nop(10).Nop(40000)  // wave number, lead 90000
                             .Word(20, 20, 0x29020FFF)                              // analogue power, 50000
                             .Word(20, 20, 0x01029999).Nop(42000)                   // Z, 50000
                             .Nop(1).Word(0, 0, 0x11000960).Word(0, 0, 0x12000960).Word(0, 0, 0x16000001).Nop(1)
                             .Nop(4000)                                              // pulse timing, 8000
                             .Word(100, 100, 0x29000FFF)                             // laser 0's power, 4000
                             .Word(100, 100, 0x290207FF).Nop(4000)                   // laser 1's power, 4000
                             .w;
  EXPECT_EQ(expected[1].time, 9001u);
  EXPECT_EQ(expected.back().time, 99494u);  // the wave number 90493 µs before the layer's moment
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
      {100, 10, 0, 0, 0x29020FFF, 0x01029999}, {150, 10, 1, 0, 0x29020FFF, 0x01069999},
      {-5, 10, 0, 1, 0x29020000, 0x01809999},  {50, 80, 0, 0, 0x290207FF, 0x0102FFFF},
      {1, -80, 0, 0, 0x29020028, 0x01020000},
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
  struct Case {
    const char* name;
    int32_t lock, frameType, n;
    uint32_t mode;
    std::vector<uint8_t> bytes;  // a serial frame's bytes, or the words between the pauses
    int32_t dataBit;             // the frame's data output; -1 the fixed frame; 0 no frame
  } cases[] = {
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

TEST_F(LayerSwitchTest, SmallTaskResetsFirstAndBadLayersAreRefused) {
  Leads(0, 0, 0);
  PowerSent(4);
  g_Scan.dbCurX = 5;
  CMarkGen::bSmallTaskPending = 1;
  CMarkGen::ApplyLayer(4, 0);
  EXPECT_EQ(CMarkGen::bSmallTaskPending, 0);
  EXPECT_EQ(g_Scan.dbCurX, 0.0);
  // The reset forgets laser 0's power: the jump to the centre, then the power again.
  EXPECT_EQ(Main(), Stream().Jump(0x01087FFF, 0x01097FFF).Word(100, 100, 0x29000004).w);
  for (uint32_t layer : {256u, 0xFFFFFFFFu}) {
    Job(0);
    ExpectCode(6, 1, [&] { CMarkGen::ApplyLayer(layer, 0); });
    ExpectCode(6, 1, [&] { CLaserAll::SelectLayerAll(layer); });
    EXPECT_TRUE(Main().empty());
  }
}

TEST_F(LayerSwitchTest, SelectLayerAllHasNoLeads) {
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
