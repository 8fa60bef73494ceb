#pragma once
// Power words and power waves.
//
// Each laser's power is set by power words in the job stream. A CWaveHolder (one per laser, paired
// with the CLaser of the same index) remembers the power last requested, turns a requested power into
// a power word scaled to the card's analogue output, and plays the layer's power waves: a start wave
// at the beginning of a polyline, an end wave at its end, a dot wave for dots. The waves are copied
// from the layer's LaserTimingPara when a layer is applied.
//
// Power values here are in thousandths of a percent (100000 is 100 %).
//
// Power word: 0x29000000 | channel id << 16 | DA value (16 bits); channel id 0 for laser 0, 2 for
// laser 1. DA value = (CURRENT_RANGE_LASER_IN / CURRENT_RANGE_DA_OUT) x (power / 100000) x 4095,
// power above 100 % sent as 100 %, computed in double and clamped to 0..65535 (NaN gives 0) before it
// enters the word, so that no power and no range ratio can spill into the channel or opcode field.
//
// A holder's list and wave record belong to the current floor and are reached through the floor
// cursors (g_FloorCursors.wave[index]) at every use.
#include <cstdint>
#include <vector>

#include "laser/laser.h"
#include "markbase/job_state.h"
#include "markbase/mark_floor.h"
#include "markbase/pen_para.h"

// How far ahead of the next word a constant-power step lasts by default, µs.
constexpr int32_t kWaveStepPeriodUs = 50;

class CWaveHolder {
 public:
  explicit CWaveHolder(int32_t index);

  // Sums the step counts of the start and end waves at `speed` (mm/µs); code 22 when they take
  // longer, with a margin of 1.2, than the merge's steady hold-back window.
  void CheckLength(double speed) REQUIRES(g_MarkCall);
  // Divides a polyline's duration (µs) between the start wave, constant-power steps and the end
  // wave; true while constant-power steps remain. With bScale and a polyline shorter than both waves,
  // the steps it has are shared between the waves in proportion to their lengths.
  bool SplitAt(int64_t totalTime, bool bScale);
  // Plays the end wave into this holder's list of the current floor, from the wave record's time
  // after the constant-power steps; the first skipped steps are those SplitAt took away.
  void StepWave(double speed) REQUIRES(g_MarkCall);

  // The step count of a wave point at `speed`: the whole part of max(1, span in µs / step period);
  // unit 0 spans are ms, others mm divided by the speed. Saturates at the 32-bit limit.
  int32_t StepCount(const WavePoint& p, double speed) const;
  // The step period in µs, never below 1.
  int64_t StepPeriod() const { return nStepPeriod > 0 ? nStepPeriod : 1; }

  // The current floor's cursors of this holder.
  std::vector<TimedWord>& Channel() const { return *g_FloorCursors.wave[nIndex & 1].pList; }
  FloorWavePower& LastPower() const { return *g_FloorCursors.wave[nIndex & 1].pPower; }

  int32_t nIndex;
  CLaser* pLaser;
  double dbPower = -1.0;          // power last requested (percent x 1000); -1 forces the next word
  uint32_t nChannelId;            // low byte of the power word's channel field
  int32_t bLineWaves = 0;         // the layer has start/end waves
  std::vector<WavePoint> startWave;
  std::vector<WavePoint> endWave;
  uint32_t nWaveMode = 0;         // 0 no wave, 1 dot wave, 2 line waves
  int32_t nStepPeriod = kWaveStepPeriodUs;
  int32_t nStartSteps = 0;
  int32_t nEndStepsRun = 0;
  int32_t nEndSteps = 0;
  int64_t nMidSteps = 0;
  int32_t bDotWave = 0;           // the layer has a dot wave
  std::vector<WavePoint> dotWave;
};

extern CWaveHolder g_WaveHolder[2];

// The DA value of a power (percent x 1000) for a laser's current ranges: clamped to 0..65535, NaN 0.
uint16_t PowerDaValue(const CLaser& laser, double power);
// The power word of a holder with a DA value.
uint32_t PowerWord(const CWaveHolder& holder, uint16_t da);

// The one writer of power words. Records `power` as the holder's power and writes the word at `time`
// on `list` or, with no list (nullptr), to the main stream padded by [LASER] nPowLockWidthUS on both
// sides. LASER_TYPE 2 latches each power with a strobe on output 31 (set 0.3 and cleared 0.6 step
// periods after the word on a list; one lock width apart on the main stream). A job that does not
// fire the laser gets NOPs in place of the word and the strobes, at the same times.
void AppendLaserPowerWord(CWaveHolder& holder, std::vector<TimedWord>* list, int64_t time, double power)
    REQUIRES(g_MarkCall);

// Copies a layer's waves into the holder and sends the layer's power (mode 0 vectors, 1 dots);
// *changed is set when a power word was written. With line waves the lengths are checked at `speed`,
// the current vector speed (mm/µs), which the layer switch passes. A layer power within 0.001 of the
// last one sends nothing.
void ApplyLayerLaserSegment(CWaveHolder& holder, const LaserTimingPara& timing, int mode, double speed,
                            uint8_t* changed) REQUIRES(g_MarkCall);
