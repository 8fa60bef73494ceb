#include "mark/fly_encode.h"

#include <algorithm>
#include <cmath>

#include "calibration/box_para.h"
#include "cardlink/card_wire.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "markbase/io_words.h"
#include "mark/mark_data2fifo.h"
#include "markbase/mark_floor.h"

CFlyEncode g_FlyEncode;

namespace {

constexpr double kPi = 3.14159265358979323846;
// 2^24: the card's fixed-point scale of the fly scale factors.
constexpr double kScaleOne = 16777216.0;
// Fly positions are whole pulses of the card's signed 32-bit encoder count: a position beyond it
// names no place the conveyor reaches, and the stretch of waits up to it would keep the host's
// thread for minutes.
constexpr double kMinFlyPulses = -2147483648.0, kMaxFlyPulses = 2147483647.0;
// The encoder wait: all 24 counter bits compared, on source 3 (the encoder position).
constexpr uint32_t kEncoderMask = 0xFFFFFF;
constexpr uint32_t kWaitSourceEncoder = 3;
constexpr uint32_t kEncoderWaitTimeoutMs = 1000;

// The result of a refused fly step.
constexpr uint32_t kStepRefused = 1;

constexpr uint32_t kClampCode = 65535;

uint32_t Clamp16(int32_t code) { return static_cast<uint32_t>(std::clamp<int32_t>(code, 0, kClampCode)); }

const char* NotIncreasingText() { return Lang("飞行位置非递增", "The fly position does not increase"); }

// The list the waits are built in, owned by the mark call: it keeps its capacity across calls.
WordList g_FlyWaitList GUARDED_BY(g_MarkCall);

// p reduced into 0 .. range - 1.
uint32_t ReduceIntoRange(int64_t p, int32_t range) {
  int64_t r = p % range;
  if (r < 0) r += range;
  return static_cast<uint32_t>(r);
}

// What a mark call does before its own words: merge and send what lies behind the hold-back window.
void FlushBehindWindow() REQUIRES(g_MarkCall) {
  const int32_t w = static_cast<int32_t>(g_SystemPara.nSteadyWindowUs);
  MergeUpperFloor(w, w);
  g_MarkData2Fifo.Flush(0);
}

}  // namespace

void AppendEncoderRegisterWait(uint32_t value) {
  WordList& list = g_FlyWaitList;
  list.clear();
  MakeSeqWriteRegIo(list, kEncoderMask, 0, value, kWaitNoTimeout, kEncoderWaitTimeoutMs, kWaitSourceEncoder);
  AppendShiftedWords(list);
}

// ------------------------------------------------------------------------------------------------
// Parameters and commands

bool ReadFlyScanPara() {
  const FlyScanPara p = ReadFlyKeys(g_FlyScanPara);
  const double before = p.dbMarkBeforeSafeRat, after = p.dbMarkAfterSafeRat;
  if (!g_FlyEncode.SetPara(p.nEncRange, before, after, p.dbMeasMarkDisMM * p.nEncPPM,
                           p.nEncPPM * p.dbEncMaxSpeedMMPS)) {
    ReportFailure("ReadFlyScanPara",
                  StrFormat(Lang("[FLY] nEncRange=%d 小于 %d，飞行参数未采用", "[FLY] nEncRange=%d is below %d: the fly parameters are not taken"),
                            static_cast<int>(p.nEncRange), static_cast<int>(kMinEncRange)));
    return false;
  }
  g_FlyScanPara = p;
  return true;
}

int32_t FlyFieldCode(double v, double halfRange) { return RealToInt32((v + halfRange) / (2.0 * halfRange) * 65536.0); }

bool AppendFlyParaCmds(const FlyScanPara& fly, CmdBatch* batch) {
  const double R = CCaliLink::HalfRange();
  const auto code = [R](double v) { return FlyFieldCode(v, R); };
  if (fly.nFlyType == 1) {
    const double p1 = fly.FlyAngelTrans * kPi * 32768.0 / fly.nEncPPM * kScaleOne;
    SendOrQueueCmd(CMD_FLY_SCALE, static_cast<uint32_t>(RealToInt32(p1)), 0, batch);
    SendOrQueueCmd(CMD_FLY_ROTATE_CENT, static_cast<uint32_t>(code(fly.dbFlyRotateCentY)),
                   static_cast<uint32_t>(code(fly.dbFlyRotateCentX)), nullptr);
  } else {
    const double s = 1.0 / (2.0 * R / 65536.0 * fly.nEncPPM);  // galvanometer codes per pulse
    SendOrQueueCmd(CMD_FLY_SCALE, static_cast<uint32_t>(RealToInt32(s * fly.dbFlyDirX * kScaleOne)),
                   static_cast<uint32_t>(RealToInt32(s * fly.dbFlyDirY * kScaleOne)), batch);
  }
  // Configured integers are combined in unsigned arithmetic: bits beyond a field are cut, nothing
  // overflows.
  const uint32_t inner = (static_cast<uint32_t>(fly.bEnEncInner) << 4 | static_cast<uint32_t>(fly.nEncInnerDirectNeg))
                         << 24;
  const uint32_t period = (static_cast<uint32_t>(fly.nEncInnerPeriodUS) * 48u) & 0xFFFFu;
  SendOrQueueCmd(CMD_ENC_SOURCE, static_cast<uint32_t>(fly.bEncEx), inner | period, batch);
  SendOrQueueCmd(CMD_ENC_RANGE, static_cast<uint32_t>(fly.nEncOutnerDirectNeg),
                 fly.bEncRange != 0 ? static_cast<uint32_t>(fly.nEncRange) & 0xFFFFFFu : 0x1000000u, batch);
  SendOrQueueCmd(CMD_FLY_SCAN_LIMITS, Clamp16(code(fly.dbScanLimitP1)) << 16 | Clamp16(code(fly.dbScanLimitP0)),
                 Clamp16(code(fly.dbScanLimitN1)) << 16 | Clamp16(code(fly.dbScanLimitN0)), batch);
  SendOrQueueCmd(CMD_FLY_SETTING, FLY_SETTING_LIMIT_ERROR, fly.bScanLimitErrEn, batch);
  const uint32_t axisDir = static_cast<uint32_t>(fly.nFlyMarkRangeDir) * 2u | static_cast<uint32_t>(fly.nFlyMarkRangeAxis);
  SendOrQueueCmd(CMD_FLY_SETTING, FLY_SETTING_MARK_RANGE, axisDir << 16 | Clamp16(code(fly.dbFlyMarkRangeScanPos)),
                 batch);
  return SendOrQueueCmd(CMD_SET_FLAG,
                        static_cast<uint32_t>(fly.InnerEncValidByIO_idx) << 4 |
                            static_cast<uint32_t>(fly.bEnInnerEncValidByIO),
                        FLAG_FLY, batch);
}

// ------------------------------------------------------------------------------------------------
// CFlyEncode

CFlyEncode::CFlyEncode() {
  const FlyScanPara d;
  SetPara(d.nEncRange, d.dbMarkBeforeSafeRat, d.dbMarkAfterSafeRat, d.dbMeasMarkDisMM * d.nEncPPM,
          d.nEncPPM * d.dbEncMaxSpeedMMPS);
}

bool CFlyEncode::SetPara(int32_t range, double beforeRat, double afterRat, double measBase, double maxRate) {
  if (range < kMinEncRange) return false;
  plat::LockGuard g(cs_);
  dMeasBase = measBase;
  dMaxPulseRate = maxRate;
  nRange = range;
  nRangeHalf = range / 2;
  nRangeQuarter = range / 4;
  nRangeTenth = range / 10;
  nAfterSafe = RealToInt32(static_cast<double>(range) * afterRat);
  nBeforeSafe = RealToInt32(static_cast<double>(range) * beforeRat);
  return true;
}

void CFlyEncode::SetMeasBase(double pulses) {
  plat::LockGuard g(cs_);
  dMeasBase = pulses;
}

void CFlyEncode::ResetUnwrap() {
  plat::LockGuard g(cs_);
  nCountEnc = -2.0;
  nState = 2;
  nLastDir = 0;
  nLastEncPos = 0;
  nEncPosAbs = 0.0;
  dMarkOut = 0.0;
  dLastPos = 0.0;
}

int32_t CFlyEncode::Range() const {
  plat::LockGuard g(cs_);
  return nRange;
}

void CFlyEncode::MarkFlushed() {
  plat::LockGuard g(cs_);
  dMarkOut = dLastPos;
}

FlyEncodeState CFlyEncode::State() const {
  plat::LockGuard g(cs_);
  return {dMeasBase,  dMaxPulseRate, nRange,    nRangeHalf,  nRangeQuarter, nRangeTenth, nAfterSafe, nBeforeSafe,
          nState,     nLastDir,      nCountEnc, nLastEncPos, nEncPosAbs,    dMarkOut,    dLastPos};
}

void CFlyEncode::CompareInOut(uint32_t status, uint32_t value) {
  if (status & ENCBUF_NOTHING) return;
  if (status & ENCBUF_OVERFLOW) ReportFailure("CheckEncPosBuf", "EncPosBuf Full Error!");
  updateEncPos(static_cast<int32_t>(value), status & 1u, (status >> 1) & 1u);
  double markI, markO, rate;
  int32_t range;
  {
    plat::LockGuard g(cs_);
    markI = nEncPosAbs;
    markO = dMarkOut;
    rate = dMaxPulseRate;
    range = nRange;
  }
  const double dif = markO - markI;
  g_InfoLog.Write("CFlyEncode::CompareInOut", LOG_INFO, "PPM=%.2f nRange=%d MarkI=%.2f MarkO=%.2f dif=%.2f tmLeft=%.2f",
                  static_cast<double>(g_FlyScanPara.nEncPPM), static_cast<int>(range), markI, markO, dif, dif / rate);
}

void CFlyEncode::updateEncPos(int32_t encPos, uint32_t io, uint32_t dir) {
  // A report is shown after the lock is let go: a box may wait for the user.
  const char* report = nullptr;
  {
    plat::LockGuard g(cs_);
    bool expected = true;
    if (io == 0) {
      if (encPos == nRangeQuarter) {
        if (nState == 2) {
          nCountEnc += dir == 0 ? 3.0 : -1.0;
          nState = 1;
        }
      } else if (encPos == nRangeHalf) {
        if (nState == 1) {
          nCountEnc += dir == 0 ? 1.0 : -3.0;
          nState = 2;
        }
      } else {
        report = "updateEncPos unExpect";
        expected = false;
      }
      if (expected) nLastDir = static_cast<int32_t>(dir);
    }
    nLastEncPos = encPos;
    // Positions in 64 bits: a counter value far beyond the range still has a defined difference.
    const double quarterTurns = nCountEnc * 0.25 * static_cast<double>(nRange);
    if (nState == 1) {
      if (encPos == nRangeHalf) report = "nEncPos == nRangeHalf";
      int64_t p = encPos;
      if (encPos > nRangeHalf) p -= nRange;
      nEncPosAbs = quarterTurns + static_cast<double>(p - nRangeQuarter);
    } else if (nState == 2) {
      if (encPos == nRangeQuarter) report = "nEncPos == nRangeHalf2";
      int64_t p = encPos;
      if (encPos < nRangeQuarter) p += nRange;
      nEncPosAbs = quarterTurns + static_cast<double>(p - nRangeHalf);
    }
    g_InfoLog.Write("CFlyEncode::updateEncPos", LOG_TRACE, "state=%d nCountEnc=%.2f nEncPosAbs=%.2f bIO=%d",
                    static_cast<int>(nState), nCountEnc, nEncPosAbs, static_cast<int>(io));
  }
  if (report) ReportFailure("CFlyEncode::updateEncPos", report);
}

uint32_t CFlyEncode::CheckTarget(double target, const char* tag) {
  if (target >= kMinFlyPulses && target <= kMaxFlyPulses) return RV_OK;
  ReportFailure(tag, StrFormat(Lang("飞行位置超出范围: %.17g 脉冲", "The fly position is out of range: %.17g pulses"), target));
  return RV_ERROR;
}

uint32_t CFlyEncode::SetFlyEmptyPosPulse(double target) {
  static const char* const kTag = "CFlyEncode::SetFlyEmptyPosPulse";
  if (const uint32_t refused = CheckTarget(target, kTag)) return refused;
  double last, after, before, tenth;
  int32_t range;
  {
    plat::LockGuard g(cs_);
    last = dLastPos;
    after = nAfterSafe;
    before = nBeforeSafe;
    tenth = nRangeTenth;
    range = nRange;
  }
  if (target < last) {
    ReportFailure(kTag, NotIncreasingText());
    return kStepRefused;
  }
  uint32_t waits = 0;
  for (double d = last + after; d < target - before; d += tenth) {
    if (JobStoppedOrFailed()) break;
    {
      plat::LockGuard g(cs_);
      dLastPos = d;
    }
    AppendEncoderRegisterWait(ReduceIntoRange(RealToInt64(d), range));
    g_InfoLog.Write(kTag, LOG_TRACE, "%.3f", d);
    if (++waits % kWaitsPerFlush == 0 && !JobStoppedOrFailed()) FlushBehindWindow();
  }
  return RV_OK;
}

uint32_t CFlyEncode::SetFlyEmptyPos(double mm) {
  double base;
  {
    plat::LockGuard g(cs_);
    base = dMeasBase;
  }
  return SetFlyEmptyPosPulse(mm * g_FlyScanPara.nEncPPM + base);
}

uint32_t CFlyEncode::SetFlyMarkPosPulse(double mm) {
  static const char* const kTag = "CFlyEncode::SetFlyMarkPosPulse";
  double base, last;
  {
    plat::LockGuard g(cs_);
    base = dMeasBase;
    last = dLastPos;
  }
  const double target = mm * g_FlyScanPara.nEncPPM + base;
  if (const uint32_t refused = CheckTarget(target, kTag)) return refused;
  if (target < last) {
    ReportFailure(kTag, NotIncreasingText());
    return kStepRefused;
  }
  if (const uint32_t rc = SetFlyEmptyPosPulse(target)) return rc;
  {
    plat::LockGuard g(cs_);
    dLastPos = target;
  }
  AppendEncoderWaitWord64(RealToInt64(target));
  return RV_OK;
}

void AppendEncoderWaitWord64(int64_t pos) {
  AppendEncoderRegisterWait(ReduceIntoRange(pos, g_FlyEncode.Range()));
}
