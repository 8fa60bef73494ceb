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
//
// The setters refuse, with code 6 (its text logged under the setter's name at INFO and ERROR, and
// shown in a box) and without changing anything: more than 256 records, a null table with a positive
// count, a layer outside 0..255, a laser other than 0 or 1, and a wave of more than 20 points or of
// a negative count (the pen tables hold a host's wave table of 20 points; this one with the text of
// [language] STRING_PowerWave_Points_Over, or its built-in form, instead of the code's). A pen setter
// given no records (a count of 0 or below) changes nothing and returns 0.
// A pen whose mark or jump speed is below 1e-12 mm/µs, or not a finite number, is disabled; a
// record with two valid speeds enables it again.
#include <cstdint>
#include <vector>

#include "markbase/job_state.h"

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
constexpr double kWaveStartMark = -2.0;   // x of the slot that opens the start wave
constexpr double kWaveEndMark = -3.0;     // x of the slot that opens the end wave
constexpr double kWaveSectionEnd = -1.0;  // x of the slot that ends a section

// Host records (packed, little-endian).
constexpr uint32_t kMarkParaRecordBytes = 1696;   // QZ_SetMarkPara, one per pen
constexpr uint32_t kPenParaPlusRecordBytes = 412;  // QZ_SetMarkParaPlus, one per pen

struct PenPara {
  uint8_t bEnable = 1;           // 0 unless both speeds are finite and at least 1e-12 mm/µs
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

// A host's wave point at p (kWavePointBytes bytes).
WavePoint ReadWavePoint(const uint8_t* p);

// The laser's pulse timing from a frequency in kHz and a duty in percent, with the two delays, the
// power and the two wave modes, into `rec` (its waves are left alone). The period is
// ceil(1000 / f * 48) ticks of 48 MHz, at most 0xFFFFFF; the high time ceil(period * duty / 100),
// within 0..period; the low time the rest. A frequency below 1e-8 kHz, or not a finite number,
// gives a period and a high time of 1000.
void ConvertLaserTiming(LaserTimingPara& rec, int32_t firstDelay, int32_t secondDelay, int32_t lineWaveMode,
                        int32_t dotWaveMode, double frequency, double duty, double power);

// The power waves of `rec` from a host's two 20-slot tables (each 20 wave points):
//   line table: the slots after the first x = -2.0 up to x = -1.0 (or the table's end) are the start
//     wave; the slots after the next x = -3.0 up to x = -1.0 (or the end) are the end wave; without
//     -2.0 both waves are empty;
//   dot table: the slots from the first up to x = -1.0 (or the end) are the dot wave.
void ParsePowerWaves(LaserTimingPara& rec, const uint8_t* lineTable, const uint8_t* dotTable);

// Pens 0..count-1 from `count` MarkParaRecords: PenPara, laser 0's LaserTimingPara and its waves,
// PenParaPlus word 0 := jump delay 2 and real 0 := 1.0. 0, or 6 (refused, nothing changed).
uint32_t SetMarkPara(const uint8_t* records, int32_t count) REQUIRES(g_MarkCall);
// Pens 0..count-1 from `count` PenParaPlus host records: word 0 and real 0; when the flag word's
// top byte is 0xA5, bit 0 takes real 1 and bit 1 the second laser's timing (LaserTimingPara[1]).
// The flag word and the laser block themselves are not kept. 0, or 6.
uint32_t SetMarkParaPlus(const uint8_t* records, int32_t count) REQUIRES(g_MarkCall);
// Replaces the line start and line end waves of LaserTimingPara[laser][layer] by nStart and nEnd
// host wave points (either may be 0). 0, or 6.
uint32_t SetMarkParaLinePowWave(int32_t laser, int32_t layer, const uint8_t* start, int32_t nStart,
                                const uint8_t* end, int32_t nEnd) REQUIRES(g_MarkCall);
// Replaces the dot wave of LaserTimingPara[laser][layer] by `count` host wave points. 0, or 6.
uint32_t SetMarkParaDotPowWave(int32_t laser, int32_t layer, const uint8_t* wave, int32_t count)
    REQUIRES(g_MarkCall);
