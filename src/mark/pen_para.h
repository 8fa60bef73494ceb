#pragma once
// The pens (layers): how each of up to 256 pens marks. Three tables, built at load with their
// defaults and never reset by a job, so a pen keeps its values until a host sets it again:
//   g_PenPara[256]              speeds, jump delays, wave number, angle, Z position, power
//   g_LaserTimingPara[2][256]   per laser: delays, pulse timing, power, power waves
//   g_PenParaPlus[256]          the jump parameters' extras and the second laser's host block
// The host fills them through the QZ_SetMarkPara* exports inside the mark-call guard; the
// generators read them inside mark calls. The tables belong to the bottom of the mark subsystem:
// the laser channels and the layer switch read them.
//
// Host records are read byte by byte at their fixed offsets (pen_para.cpp); nothing here is laid
// over a host's memory.
#include <cstdint>
#include <vector>

#include "mark/job_state.h"

constexpr int kPenCount = 256;
constexpr int kLaserChannels = 2;
constexpr int kWaveTableSlots = 20;  // slots of a host's wave table

// One point of a power wave: a span and the power to reach at its end. unit 0: x is a duration in ms;
// otherwise x is a length in mm (divided by the vector speed). In a host's 20-slot table an x of
// -2.0 opens the start wave, -3.0 the end wave and -1.0 ends a section.
struct WavePoint {
  int32_t unit = 0;
  double x = 0.0;
  double power = 0.0;  // percent
};
constexpr uint32_t kWavePointBytes = 20;  // host layout: i32 unit, f64 x, f64 power, packed

struct PenPara {
  uint8_t bEnable = 1;           // cleared when the mark or the jump speed is below 1e-12
  double dbMarkSpeed = 1000.0;   // mm/µs
  double dbJumpSpeed = 1000.0;   // mm/µs
  int32_t nJumpDelay1 = 100;
  int32_t nJumpDelay2 = 500;     // also a laser-module slot's mode
  int32_t nJumpDelay3 = 200;     // also a laser-module slot's dot time in µs
  int32_t nInt4 = 0;             // stored, read by no generator
  double dbReal1 = 0.0;          // stored, read by no generator
  double dbReal2 = 0.0;          // stored, read by no generator
  int32_t nWaveNumber = 0;
  double dbAngle = 3.141592653589793;  // radians
  double dbZPos = 0.0;
  int32_t nPower = 0;            // percent
};

struct LaserTimingPara {
  int32_t nFirstDelay = 200;     // µs: the laser-off delay
  int32_t nSecondDelay = 20;     // µs: the laser-on delay
  uint32_t nPulsePeriod = 4800;  // ticks of 48 MHz
  uint32_t nPulseHigh = 2400;
  uint32_t nPulseLow = 2400;
  double dbPower = 0.1;          // percent
  int32_t nLineWaveMode = 0;
  std::vector<WavePoint> lineStartWave;
  std::vector<WavePoint> lineEndWave;
  int32_t nDotWaveMode = 0;
  std::vector<WavePoint> dotWave;
};

struct PenParaPlus {
  int32_t nWord0 = 20;           // jump parameter
  double dbReal0 = 20.0;         // jump parameter (rounded where it is used)
  uint32_t nFlags = 0;           // top byte 0xA5: bit 0 real 1 given, bit 1 second laser's timing given
  double dbReal1 = 0.0;
  // The second laser's block of the host record.
  double dbFrequency = 5.0;      // kHz
  double dbDuty = 1.0;           // percent
  int32_t nSecondDelay = 40;
  int32_t nFirstDelay = 100;
  double dbPower = 0.0;          // percent
  int32_t nLineWaveMode = 0;
  int32_t nDotWaveMode = 0;
};

extern PenPara g_PenPara[kPenCount] GUARDED_BY(g_MarkCall);
extern LaserTimingPara g_LaserTimingPara[kLaserChannels][kPenCount] GUARDED_BY(g_MarkCall);
extern PenParaPlus g_PenParaPlus[kPenCount] GUARDED_BY(g_MarkCall);
