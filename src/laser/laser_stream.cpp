#include "laser/laser_stream.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/system_para.h"
#include "laser/wave_holder.h"
#include "markbase/stream_words.h"

namespace {

bool IsLaser1(const CLaser& laser) { return (laser.nIndex & 1) != 0; }

void PushAt(std::vector<TimedWord>& list, int64_t t, uint32_t word) {
  list.push_back(TimedWord{static_cast<uint64_t>(t), word});
}

// The word itself when the laser is fired, else a NOP.
uint32_t IfFired(bool fired, uint32_t word) { return fired ? word : SW_NOP; }

}  // namespace

uint32_t PulseTicksOperand(uint32_t ticks) {
  if (ticks < SW_PULSE_MIN_TICKS) return 0;
  return ticks > SW_OPERAND_MASK ? SW_OPERAND_MASK : ticks;
}

bool LaserFired() { return g_MarkJob.bLaserJob != 0 && g_MarkJob.bLaserLocked == 0; }

uint32_t PulseHighWord(const CLaser& laser, uint32_t ticks) {
  return (IsLaser1(laser) ? SW_PULSE_HIGH_L1 : SW_PULSE_HIGH_L0) | PulseTicksOperand(ticks);
}
uint32_t PulseLowWord(const CLaser& laser, uint32_t ticks) {
  return (IsLaser1(laser) ? SW_PULSE_LOW_L1 : SW_PULSE_LOW_L0) | PulseTicksOperand(ticks);
}
uint32_t IdleHighWord(const CLaser& laser, uint32_t ticks) {
  return (IsLaser1(laser) ? SW_IDLE_PULSE_HIGH_L1 : SW_IDLE_PULSE_HIGH_L0) | PulseTicksOperand(ticks);
}
uint32_t IdleLowWord(const CLaser& laser, uint32_t ticks) {
  return (IsLaser1(laser) ? SW_IDLE_PULSE_LOW_L1 : SW_IDLE_PULSE_LOW_L0) | PulseTicksOperand(ticks);
}
uint32_t PulseStartWord(const CLaser& laser) { return IsLaser1(laser) ? SW_PULSE_START_L1 : SW_PULSE_START_L0; }
uint32_t PulseStopWord(const CLaser& laser) { return IsLaser1(laser) ? SW_PULSE_STOP_L1 : SW_PULSE_STOP_L0; }

void StreamLaserDelays(const CLaser& laser, std::vector<TimedWord>& list, int64_t t, uint32_t high, uint32_t low,
                       bool bNoStart) {
  PushAt(list, t, PulseHighWord(laser, high));
  PushAt(list, t, PulseLowWord(laser, low));
  PushAt(list, t, bNoStart ? SW_NOP : PulseStartWord(laser));
}

void StreamLaserDelaysCur(const CLaser& laser) {
  AppendStreamNop(1);
  AppendStreamWord(0, 0, PulseHighWord(laser, laser.nPulseHighTicks));
  AppendStreamWord(0, 0, PulseLowWord(laser, laser.nPulseLowTicks));
  // A locked laser gets its timing but no pulse start.
  AppendStreamWord(0, 0, IfFired(LaserFired(), PulseStartWord(laser)));
  AppendStreamNop(1);
}

void StreamLaserTimes(const CLaser& laser, uint32_t t1, uint32_t t2, int32_t pad) {
  AppendStreamWord(1, 0, IdleHighWord(laser, t1));
  AppendStreamWord(1, 0, IdleLowWord(laser, t2));
  AppendStreamWord(1, pad, PulseStopWord(laser));
}

int StreamLaserOn(CLaser& laser, std::vector<TimedWord>& onList, std::vector<TimedWord>& pulseList, int64_t t) {
  if (laser.bSegmentOpen) ThrowMarkError(RV_LASER_ALREADY_ON_WHEN_OPEN);
  laser.nSegOnTime = t;
  laser.bSegmentOpen = 1;
  const bool fired = LaserFired();
  const SystemPara& p = g_SystemPara;
  if (p.bAutoCheckMarkInfoFB == 1 && fired) ExpectedRecordLaserSwitch(1, t);
  if (laser.bEnableEachSegment) {
    const int64_t at = RealToInt64(static_cast<double>(t) - laser.dbReadyAfterEnableMS * 1000.0);
    PushAt(onList, at, IfFired(fired, MakeIoWord(static_cast<int32_t>(laser.nEnableBit), 1)));
  }
  if (laser.bFirstQKill) {
    const int64_t before = laser.nFirstQKillTimeBeforePwm;
    PushAt(pulseList, t - before - 1, IfFired(fired, SW_Q_KILL_SET));
    PushAt(pulseList, t + static_cast<int64_t>(laser.nFirstQKillTimeUS) - before - 1, IfFired(fired, SW_Q_KILL_CLEAR));
  }
  const bool fine = p.nLaserDelayZoom > 1;
  if (fine) PushAt(onList, t, IfFired(fired, SW_FINE_DELAY_ON | (laser.nOnDelayFrac & 0x3F) * 2));
  if (laser.bPaNoCus) PushAt(onList, t, IfFired(fired, MakeIoWord(static_cast<int32_t>(laser.nPaNoCusBit), 1)));
  PushAt(onList, t, IfFired(fired && p.bOut1IsLaser, MakeIoWord(1, 1)));
  if (!laser.bFiberPwm) StreamLaserDelays(laser, onList, t, laser.nPulseHighTicks, laser.nPulseLowTicks, !fired);
  if (fine) PushAt(onList, t + 1, IfFired(fired, SW_FINE_DELAY));
  return 0;
}

int StreamLaserOff(CLaser& laser, std::vector<TimedWord>& offList, int64_t t) {
  if (!laser.bSegmentOpen) ThrowMarkError(RV_LASER_ALREADY_ON_WHEN_OPEN);
  if (t < laser.nSegOnTime + 1) ThrowMarkError(RV_LASER_TIME_IS_MINUS);
  laser.nSegOffTime = t;
  laser.bSegmentOpen = 0;
  const bool fired = LaserFired();
  const SystemPara& p = g_SystemPara;
  if (p.bAutoCheckMarkInfoFB == 1 && fired) ExpectedRecordLaserSwitch(0, t);
  const bool fine = p.nLaserDelayZoom > 1;
  if (fine) PushAt(offList, t, IfFired(fired, SW_FINE_DELAY_ON | (laser.nOffDelayFrac & 0x3F) * 2));
  if (!laser.bFiberPwm) PushAt(offList, t, IfFired(fired, PulseStopWord(laser)));
  PushAt(offList, t, IfFired(fired && p.bOut1IsLaser, MakeIoWord(1, 0)));
  if (laser.bPaNoCus && laser.bPaNotOff != kPaNotOffKeep) {
    PushAt(offList, t, IfFired(fired, MakeIoWord(static_cast<int32_t>(laser.nPaNoCusBit), 0)));
  }
  if (fine) PushAt(offList, t + 1, IfFired(fired, SW_FINE_DELAY));
  if (laser.bEnableEachSegment) {
    PushAt(offList, t + 5000, IfFired(fired, MakeIoWord(static_cast<int32_t>(laser.nEnableBit), 0)));
  }
  return 0;
}

namespace {

// A wave with a point given in millimetres needs a speed to turn it into time.
void CheckRampSpeed(const std::vector<WavePoint>& wave, double speed) {
  for (const WavePoint& e : wave) {
    if (e.unit == 0) continue;
    if (std::isnan(speed)) ThrowMarkError(RV_DATA_IS_NAN);
    if (speed <= 0.0) ThrowMarkError(RV_ERROR);
  }
}

}  // namespace

int StreamPowerRampB(CWaveHolder& holder, int64_t t0, double speed) {
  CheckRampSpeed(holder.startWave, speed);
  const int64_t period = holder.StepPeriod();
  const int64_t budget = holder.nStartSteps;
  double prev = static_cast<double>(RealToInt64(holder.dbPower));
  int64_t t = t0;
  int64_t done = 0;
  for (const WavePoint& e : holder.startWave) {
    const int64_t n = holder.StepCount(e, speed);
    const int64_t steps = std::min(n, budget - done);
    if (steps < 1) break;
    double p = prev;
    for (int64_t j = 1; j <= steps; ++j) {
      t += period;
      p = (e.power * 1000.0 - prev) * static_cast<double>(j) / static_cast<double>(n) + prev;
      AppendLaserPowerWord(holder, &holder.Channel(), t, p);
    }
    prev = static_cast<double>(RealToInt64(p));
    done += steps;
  }
  holder.LastPower().nTime = t;
  return 0;
}

int StreamPowerRamp(CWaveHolder& holder, double speed) {
  CheckRampSpeed(holder.dotWave, speed);
  const int64_t period = holder.StepPeriod();
  const FloorLaserState& seg = holder.pLaser->State();
  const int64_t on = static_cast<int64_t>(seg.nOnTime);
  // A floor without a closed segment has its off time far before any on time: no steps.
  const int64_t budget = (seg.nOffTime - on) / period;
  double prev = static_cast<double>(RealToInt64(holder.dbPower));
  int64_t t = on;
  int64_t done = 0;
  for (const WavePoint& e : holder.dotWave) {
    const int64_t n = holder.StepCount(e, speed);
    const int64_t steps = std::min(n, budget - done);
    if (steps < 1) break;
    const int64_t k = std::clamp<int64_t>(steps / 2048, 1, 10);
    double p = prev;
    for (int64_t j = 0; j < steps; ++j) {
      t += period;
      p = (e.power * 1000.0 - prev) * static_cast<double>(j + 1) / static_cast<double>(n) + prev;
      if (j == 0 || j == steps - 1 || j % k == 0) AppendLaserPowerWord(holder, &holder.Channel(), t, p);
    }
    prev = static_cast<double>(RealToInt64(p));
    done += steps;
  }
  return 0;
}

namespace {
std::atomic<const ExpectedRecordHooks*> g_expectedHooks{nullptr};
}  // namespace

void InstallExpectedRecordHooks(const ExpectedRecordHooks* hooks) {
  g_expectedHooks.store(hooks, std::memory_order_release);
}

void ExpectedRecordLaserSwitch(int on, int64_t t) {
  if (const ExpectedRecordHooks* h = g_expectedHooks.load(std::memory_order_acquire)) h->laserSwitch(on, t);
}
void ExpectedRecordPower(double t, double daTimes16) {
  if (const ExpectedRecordHooks* h = g_expectedHooks.load(std::memory_order_acquire)) h->power(t, daTimes16);
}
void ExpectedRecordClosePower() {
  if (const ExpectedRecordHooks* h = g_expectedHooks.load(std::memory_order_acquire)) h->closePower();
}
void ExpectedRecordPush() {
  if (const ExpectedRecordHooks* h = g_expectedHooks.load(std::memory_order_acquire)) h->push();
}
