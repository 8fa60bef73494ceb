#include "laser/laser.h"

#include <algorithm>

#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/system_para.h"
#include "laser/laser_stream.h"
#include "laser/wave_holder.h"

CLaser g_Laser[2];

int LasersInUse() { return std::clamp<int32_t>(g_SystemPara.nLaserCount, 1, 2); }

void LaserJobReset() {
  for (int i = 0; i < LasersInUse(); ++i) {
    g_Laser[i].nCurLayer = -1;
    g_Laser[i].bApplyDelays = 1;
    g_Laser[i].bSegmentOpen = 0;
    g_WaveHolder[i].dbPower = -1.0;
  }
}

void CLaser::SetCloseBit(int bEachSegment, uint32_t bit) {
  nEnableBit = bit;
  if (bEachSegment == 0) {
    bEnableAtStart = 1;
  } else {
    bEnableEachSegment = 1;
  }
}

void CLaser::LoadConfig(int index, int bYLS, int topSoftWareControlYlrEnable) {
  const int idx = index & 1;
  bManualPa = ReadMainInt("LASER", "bManualPa", 0);
  bPaNotOff = ReadMainInt("LASER", "bPaNotOff", 0);
  bCloseMoEachLaser = static_cast<uint32_t>(ReadMainInt("LASER", "bCloseMoEachLaser", 0));
  dbReadyAfterEnableMS = ReadMainDouble("LASER", "LaserReadyAfterEnableMS", 10.0);

  // Every role starts from the defaults, also the bit numbers, so that applying the same file again
  // gives the same channel whatever was configured before.
  bFiberPwm = 0;
  bEnableAtStart = 0;
  bEnableEachSegment = 0;
  bPaNoCus = 0;
  bPaBySerial = 0;
  bMoBySerial = 0;
  bFirstQKill = 0;
  nEnableBit = 0;
  nPaNoCusBit = 0;
  nPaBit = 28;
  nMoBit = 29;
  nIndex = idx;
  g_WaveHolder[idx].pLaser = this;
  g_WaveHolder[idx].nChannelId = idx == 0 ? 0 : 2;

  dbCurrentRangeDaOut = ReadMainDouble("POWER", idx == 0 ? "CURRENT_RANGE_DA_OUT" : "CURRENT_RANGE_DA_OUT_2", 10.0);
  dbCurrentRangeLaserIn =
      ReadMainDouble("POWER", idx == 0 ? "CURRENT_RANGE_LASER_IN" : "CURRENT_RANGE_LASER_IN_2", 10.0);

  const int eachSegment = bCloseMoEachLaser != 0 ? 1 : 0;
  const bool softwareEnable = topSoftWareControlYlrEnable != 0;
  auto asType5 = [&] {
    // The enable output goes with every segment whatever bCloseMoEachLaser says.
    bEnableEachSegment = 1;
    nEnableBit = 25;
    dbReadyAfterEnableMS = ReadMainDouble("LASER", "YLSReadyAfterEnableMS", 6.0);
  };
  auto asType3 = [&] {
    SetCloseBit(eachSegment, 21);
    bPaNoCus = 1;
    nPaNoCusBit = 20;
    nPaBit = 19;
  };

  if (idx == 1) {
    // The second laser has no PA output of its own, except with the two-fibre type.
    nPaBit = -1;
    if (g_SystemPara.LASER_TYPE == 6) {
      nPaBit = 26;
      bEnableAtStart = 1;
      nEnableBit = 28;
    }
  } else {
    switch (g_SystemPara.LASER_TYPE) {
      case 1:
      case 7:
        bPaBySerial = 1;
        bMoBySerial = 1;
        if (bYLS == 1) {
          asType5();
          break;
        }
        if (bYLS == 3) nPaBit = -1;
        if (!softwareEnable) {
          SetCloseBit(eachSegment, 23);
          dbReadyAfterEnableMS = ReadMainDouble("LASER", "YLRReadyAfterEnableMS", 200.0);
        }
        break;
      case 2:
        bFiberPwm = 1;
        asType3();
        break;
      case 3:
        asType3();
        break;
      case 4:
        bPaNoCus = 1;
        nPaNoCusBit = 20;
        nPaBit = 19;
        bFirstQKill = static_cast<uint32_t>(ReadMainInt("LASER", "bFirstQKill", 0));
        nFirstQKillTimeUS = static_cast<uint32_t>(ReadMainInt("LASER", "nFirstQKillTimeUS", 20));
        nFirstQKillTimeBeforePwm = static_cast<uint32_t>(ReadMainInt("LASER", "nFirstQKillTimeBeforePwm", 0));
        break;
      case 5:
        asType5();
        break;
      case 6:
        bFiberPwm = 1;
        if (!softwareEnable) SetCloseBit(eachSegment, 21);
        bPaNoCus = 1;
        nPaNoCusBit = 20;
        nPaBit = 19;
        break;
      default:  // 0 and kinds unknown to the library: the default roles
        break;
    }
    if (bManualPa == 1) bPaNoCus = 0;
  }

  const int32_t paNoCus = ReadMainInt("LASER", "nPaNoCus", -1);
  if (paNoCus != -1) {
    bPaNoCus = 1;
    nPaNoCusBit = static_cast<uint32_t>(paNoCus);
  }
}

void CLaser::SelectLayer(const LaserTimingPara (&timing)[kPenCount], int32_t layer, uint8_t* changed) {
  if (layer < 0 || layer >= kPenCount) throw MyException(RV_LAYER_NUMBER_OVER, 1);
  const LaserTimingPara& row = timing[layer];
  // Ticks of 1 or 2 are refused for every laser: the card cannot make pulses that short.
  auto tooShort = [](uint32_t t) { return t == 1 || t == 2; };
  if (tooShort(row.nPulseHigh) || tooShort(row.nPulseLow)) ThrowMarkError(RV_FIBER_PWM_NOT_HALF);

  if (bFiberPwm) {
    // Compared with the ticks in force on the card, not with the pen table row of nCurLayer: a pen
    // rewritten during the job must still reach the card.
    if (nCurLayer != -1 && row.nPulseHigh == nPulseHighTicks && row.nPulseLow == nPulseLowTicks) return;
    if (g_MarkJob.bLaserJob && g_SystemPara.bAllowFiberPwmDutyChange == 0) {
      const int64_t diff = static_cast<int64_t>(row.nPulseLow) - static_cast<int64_t>(row.nPulseHigh);
      if (diff > 3 || diff < -3) ThrowMarkError(RV_FIBER_PWM_NOT_HALF);
    }
    nCurLayer = layer;
    nPulseHighTicks = row.nPulseHigh;
    nPulseLowTicks = row.nPulseLow;
    if (changed) *changed = 1;
    if (g_MarkJob.bLaserJob) StreamLaserDelaysCur(*this);
    return;
  }
  nCurLayer = layer;
  nPulseHighTicks = row.nPulseHigh;
  nPulseLowTicks = row.nPulseLow;
}

int CLaser::AlignToPulse(int64_t tOff, int64_t tOn, int64_t* out) const {
  const int64_t t = tOff + (bApplyDelays ? nOffDelayUS : 0);
  *out = t;
  if (t <= tOn) return 1;
  if (nPulseLowTicks == 0 || nPulseHighTicks == 0) return 0;
  const double period = (static_cast<double>(nPulseLowTicks) + static_cast<double>(nPulseHighTicks)) / 48.0;
  const double q = static_cast<double>(t - tOn) / period;
  int64_t n = RealToInt64(q);
  if ((q - static_cast<double>(n)) * period * 48.0 > static_cast<double>(nPulseHighTicks)) n += 1;
  *out = RealToInt64(static_cast<double>(n) * period + static_cast<double>(tOn));
  return *out <= tOn ? 1 : 0;
}

void CLaser::On(int64_t tOn, int64_t tOffPlanned) {
  FloorLaserState& s = State();
  if (s.nState == kLaserStateOn) return;
  const int64_t t = tOn + (bApplyDelays ? nOnDelayUS : 0);
  if (s.nState == kLaserStateOffDone && s.nOffTime >= t) ThrowMarkError(RV_PRE_LASER_OFF_BIGGER_THAN_CUR_LASER_ON);
  int64_t off = 0;
  if (AlignToPulse(tOffPlanned, t, &off) == 1) return;  // an empty segment emits nothing
  s.nOnTime = static_cast<uint64_t>(t);
  StreamLaserOn(*this, OnChannel(), OffChannel(), t);
  s.nState = kLaserStateOn;
}

void CLaser::Off(int64_t tOff) {
  FloorLaserState& s = State();
  if (s.nState != kLaserStateOn) return;
  int64_t off = 0;
  if (AlignToPulse(tOff, static_cast<int64_t>(s.nOnTime), &off) == 1) ThrowMarkError(RV_LASER_TIME_IS_MINUS);
  s.nOffTime = off;
  StreamLaserOff(*this, OnChannel(), off);
  s.nState = kLaserStateOffDone;
}
