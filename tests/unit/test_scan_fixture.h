#pragma once
// Scanner sequences in one mark call: base time 10 µs, a 100 mm field (21-bit half range 10 mm), rest (1, 2),
// one laser, every word kept on floor 0; and a builder of the expected main stream.
#include "calibration/box_para.h"
#include "calibration/scan.h"
#include "laser/laser.h"
#include "markbase/pen_para.h"
#include "markbase/stream_words.h"
#include "test_laser_fixture.h"

namespace qztest {

class ScanSeqTest : public LaserTest {
 protected:
  void SetUp() override {
    LaserTest::SetUp();
    g_SystemPara.BASETIME = 10;
    g_SystemPara.MarkEnd_X = 1;
    g_SystemPara.MarkEnd_Y = 2;
    g_SystemPara.nLaserCount = 1;
    g_SystemPara.HowLongTimeFirstBuf = 1000000;  // nothing leaves floor 0 for the card
    g_SystemPara.nWaveNoLock = -1;               // as the parameter reader leaves it
    g_Scan.SetFieldSizes(100.0, 100.0, 17.0);
    CCaliLink::SetHalfRange(10.0);
    Reset();
  }
  void TearDown() override {
    Reset();
    for (auto& p : g_PenPara) p = PenPara{};
    for (auto& p : g_PenParaPlus) p = PenParaPlus{};
    LaserTest::TearDown();
  }
  static void Reset() {
    g_Scan.dbCurX = g_Scan.dbCurY = g_Scan.dbPrevX = g_Scan.dbPrevY = 0.0;
    g_Scan.nJumpDelayMax = g_Scan.nJumpDelayMin = g_Scan.nMarkEndDelay = g_Scan.nPolygonDelay = 0;
    g_Scan.nLongJumpLen = 20;
  }
  static const Words& Main() { return Floor().ch3; }

  // A sequence's configuration (laser type, run mode, 21-bit codes, light path) in a new job.
  struct Config { int32_t laserType; uint32_t mode; int32_t bits21; int32_t ossType = 0; };
  static void Configure(const Config& c) {
    g_SystemPara.LASER_TYPE = c.laserType;
    g_SystemPara.nLaserCount = c.laserType >= 5 && c.laserType <= 7 ? 2 : 1;
    for (int i = 0; i < g_SystemPara.nLaserCount; ++i) g_Laser[i].LoadConfig(i, 0, 0);
    g_SystemPara.SetLaserIoFlags(c.ossType);
    g_SystemPara.nIO_OSS_Energy_Host_Trig_O = 3;
    g_SystemPara.nOssNeedApplyIO = 30;
    Job(c.mode);
    g_SystemPara.bNewBoxCali = c.bits21;
  }
};

// The main stream as the appenders write it.
struct Stream {
  Words w;
  uint64_t clock = 0;
  // AppendStreamWord: the word dt after the clock, a NOP pad later (pad > 0).
  Stream& Word(int32_t dt, int32_t pad, uint32_t word) {
    clock += static_cast<uint64_t>(dt);
    w.push_back({clock, word});
    if (pad > 0) Nop(pad);
    return *this;
  }
  Stream& Nop(int32_t dt) { return Word(dt, 0, SW_NOP); }
  // CScan::JumpTo with its X and Y words: base µs later both, the arrival wait, the jump delay.
  Stream& Jump(uint32_t x, uint32_t y, int32_t delay = 0, int32_t base = 10) {
    clock += static_cast<uint64_t>(base);
    w.push_back({clock, x});
    return Word(0, base, y).Word(1, 1, SW_WAIT_TIMEOUT_1S).Word(1, 1, SW_JUMP_WAIT).Nop(delay);
  }
};

}  // namespace qztest
