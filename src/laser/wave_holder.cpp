#include "laser/wave_holder.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/system_para.h"
#include "laser/laser_stream.h"
#include "markbase/stream_words.h"

CWaveHolder g_WaveHolder[2] = {CWaveHolder(0), CWaveHolder(1)};

namespace {

constexpr double kFullPower = 100000.0;  // 100 % in thousandths of a percent
constexpr double kDaFullScale = 4095.0;

void PushAt(std::vector<TimedWord>& list, int64_t t, uint32_t word) {
  list.push_back(TimedWord{static_cast<uint64_t>(t), word});
}

// The ratio of the laser's power input range to the card's output range.
double RangeRatio(const CLaser& laser) { return laser.dbCurrentRangeLaserIn / laser.dbCurrentRangeDaOut; }

// Sum of step counts, bounded to the 32-bit range of the step fields.
int32_t SumSteps(const CWaveHolder& h, const std::vector<WavePoint>& wave, double speed) {
  int64_t sum = 0;
  for (const WavePoint& p : wave) {
    sum = std::min<int64_t>(sum + h.StepCount(p, speed), std::numeric_limits<int32_t>::max());
  }
  return static_cast<int32_t>(sum);
}

}  // namespace

CWaveHolder::CWaveHolder(int32_t index)
    : nIndex(index & 1), pLaser(&g_Laser[index & 1]), nChannelId((index & 1) == 0 ? 0u : 2u) {}

uint16_t PowerDaValue(const CLaser& laser, double power) {
  const double p = std::min(power, kFullPower);  // NaN stays NaN and gives 0 below
  return RealToUInt16(RangeRatio(laser) * (p / kFullPower) * kDaFullScale);
}

uint32_t PowerWord(const CWaveHolder& holder, uint16_t da) {
  return SW_POWER_DA | (holder.nChannelId & 0xFFu) << 16 | da;
}

void AppendLaserPowerWord(CWaveHolder& holder, std::vector<TimedWord>* list, int64_t time, double power) {
  const bool fired = LaserFired();
  const SystemPara& sp = g_SystemPara;
  holder.dbPower = power;
  const CLaser& laser = *holder.pLaser;
  const uint16_t da = PowerDaValue(laser, power);
  const uint32_t word = fired ? PowerWord(holder, da) : SW_NOP;
  if (sp.bAutoCheckMarkInfoFB == 1) {
    const double p = std::min(power, kFullPower);
    ExpectedRecordPower(static_cast<double>(time), RangeRatio(laser) * p / kFullPower * kDaFullScale * 16.0);
  }
  const int32_t lock = sp.nPowLockWidthUS;
  if (sp.LASER_TYPE != 2) {
    if (list) {
      PushAt(*list, time, word);
    } else {
      AppendStreamWord(lock, lock, word);
    }
    return;
  }
  // Fibre power latch: the power is taken over by a pulse on output 31.
  const uint32_t strobeSet = fired ? SW_STROBE31_SET : SW_NOP;
  const uint32_t strobeClear = fired ? SW_STROBE31_CLEAR : SW_NOP;
  if (list) {
    const double period = static_cast<double>(holder.nStepPeriod);
    PushAt(*list, time, word);
    PushAt(*list, time + RealToInt64(0.3 * period), strobeSet);
    PushAt(*list, time + RealToInt64(0.6 * period), strobeClear);
  } else {
    AppendStreamWord(lock, 0, word);
    AppendStreamWord(lock, 0, strobeSet);
    AppendStreamWord(lock, lock, strobeClear);
  }
}

int32_t CWaveHolder::StepCount(const WavePoint& p, double speed) const {
  const double us = p.unit == 0 ? p.x * 1000.0 : p.x / speed;
  return RealToInt32(std::max(1.0, us / static_cast<double>(StepPeriod())));
}

void CWaveHolder::CheckLength(double speed) {
  nStartSteps = SumSteps(*this, startWave, speed);
  nEndSteps = SumSteps(*this, endWave, speed);
  const double length = (static_cast<double>(nStartSteps) + static_cast<double>(nEndSteps)) *
                        static_cast<double>(nStepPeriod) * 1.2;
  if (length > static_cast<double>(g_SystemPara.nSteadyWindowUs)) ThrowMarkError(RV_LINE_ENERGY_WAVE_TOO_LONG);
}

bool CWaveHolder::SplitAt(int64_t totalTime, bool bScale) {
  // A polyline of no (or negative) duration has no steps to share.
  const int64_t n = std::max<int64_t>(0, totalTime / StepPeriod());
  const int64_t start = std::max(0, nStartSteps);
  const int64_t end = std::max(0, nEndSteps);
  const int64_t m = n - start - end;
  nEndStepsRun = nEndSteps;
  if (m >= 0) {
    nMidSteps = m;
    if (m > 0) return true;
  } else {
    nMidSteps = 0;
  }
  if (bScale) {
    // e = end x n / (start + end) without overflow: n = q x s + r gives end x q + end x r / s.
    // Waves without steps divide nothing: the end share is 0.
    const int64_t s = start + end;
    int64_t e = 0;
    if (s > 0) e = end * (n / s) + end * (n % s) / s;
    nEndStepsRun = static_cast<int32_t>(e);
    nStartSteps = static_cast<int32_t>(n - e);
  }
  return false;
}

void CWaveHolder::StepWave(double speed) {
  const int64_t period = StepPeriod();
  int64_t t = LastPower().nTime + nMidSteps * period;
  const int64_t skip = static_cast<int64_t>(nEndSteps) - nEndStepsRun;
  double prev = static_cast<double>(RealToInt64(dbPower));
  int64_t done = 0;
  for (const WavePoint& e : endWave) {
    const int64_t s = StepCount(e, speed);
    const int64_t k = std::min(s, done + s - skip);
    double power = prev;
    for (int64_t j = 1; j <= k; ++j) {
      t += period;
      power = (e.power * 1000.0 - prev) * static_cast<double>(j) / static_cast<double>(k) + prev;
      AppendLaserPowerWord(*this, &Channel(), t, power);
    }
    if (k >= 1) prev = static_cast<double>(RealToInt64(power));
    done += s;
  }
}

void ApplyLayerLaserSegment(CWaveHolder& holder, const LaserTimingPara& timing, int mode, double speed,
                            uint8_t* changed) {
  holder.bLineWaves = timing.nLineWaveMode;
  holder.startWave = timing.lineStartWave;
  holder.endWave = timing.lineEndWave;
  if (holder.bLineWaves) holder.CheckLength(speed);
  holder.bDotWave = timing.nDotWaveMode;
  holder.dotWave = timing.dotWave;

  const bool dots = mode != 0;
  const int32_t flag = dots ? holder.bDotWave : holder.bLineWaves;
  if (flag == 0) {
    holder.nWaveMode = 0;
    const double p = timing.dbPower * 1000.0;
    if (std::fabs(p - holder.dbPower) <= 0.001) return;
    AppendLaserPowerWord(holder, nullptr, 0, p);
    if (changed) *changed = 1;
    return;
  }
  // A wave starts from 0, or from its first point's power when that point has no span. An empty
  // wave starts from 0.
  const std::vector<WavePoint>& wave = dots ? holder.dotWave : holder.startWave;
  double p = 0.0;
  if (flag == 1 && !wave.empty() && wave.front().x < 0.00001) p = wave.front().power * 1000.0;
  AppendLaserPowerWord(holder, nullptr, 0, p);
  if (changed) *changed = 1;
  holder.nWaveMode = dots ? 1 : 2;
}
