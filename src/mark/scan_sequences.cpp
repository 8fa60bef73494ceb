#include "mark/scan_sequences.h"

#include "mark/scan_move.h"

#include <cmath>
#include <limits>

#include "calibration/galvo_stream.h"
#include "calibration/scan.h"
#include "frame/bytes.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "laser/laser.h"
#include "laser/laser_outputs.h"
#include "laser/laser_stream.h"
#include "laser/light_path.h"
#include "markbase/job_state.h"
#include "mark/laser_module.h"
#include "mark/layer_switch.h"
#include "mark/mark_data2fifo.h"
#include "markbase/mark_floor.h"
#include "mark/mark_flow.h"
#include "markbase/pen_para.h"
#include "markbase/stream_words.h"

namespace {

// Light-path kinds of the request and release.
constexpr int32_t kPathOpticalSwitch = 1;
constexpr int32_t kPathEnergySplit = 2;
constexpr int32_t kEnergyOutputPadUs = 5000;
constexpr int32_t kEnableOffDelayUs = 5000;
constexpr int32_t kFiberIdlePauseUs = 1000;
// The shortest dot time a dot list takes. A dot lasts the whole µs of its time, so the lasers refuse
// a dot shorter than kMinPointMarkUs (CLaserAll::PointMarkAll), and a list with dots needs that much.
constexpr double kMinDotTimeUs = 0.99;

// The output that energy splitting drives in this job: the master's trigger (light path 4 to 6) or
// the slave's ready output (3); -1 without energy splitting. The light path is the one in effect
// (EffectiveOssType), as for the handshakes themselves.
int32_t EnergySplitOutput() {
  const SystemPara& sp = g_SystemPara;
  const int32_t type = EffectiveOssType();
  if (type >= 4 && type <= 6) return sp.nIO_OSS_Energy_Host_Trig_O;
  if (type == 3) return sp.nIO_OSS_Energy_Dev_Ready_O;
  return -1;
}

uint32_t CorrectionFlag() { return static_cast<uint32_t>(g_SystemPara.bCardNotGridel & 1) << 1; }

// Ticks of the idle timing from the configuration: a negative number as 0.
uint32_t Ticks(int32_t v) { return v > 0 ? static_cast<uint32_t>(v) : 0u; }

// Before each dot with an optical switch of type 2: the switch card (or the laser) idle, then the
// request output set. Not in a job without laser under [LASER] nRedModeNoOss 1.
void RequestSwitchForDot() REQUIRES(g_MarkCall) {
  const SystemPara& sp = g_SystemPara;
  if (EffectiveOssType() != 2 || (sp.nRedModeNoOss == 1 && !g_MarkJob.bLaserJob)) return;
  if (sp.IoInFromOss == 1) {
    AppendOssWaitStep(LightPathWait::kOssIdle);
  } else if (!sp.bIgnoreOssIdle) {
    AppendLightPathWait(LightPathWait::kLaserIdle);
  }
  AppendStreamWord(1, 1, MakeIoWord(sp.nOssNeedApplyIO, 1));
}

}  // namespace

void AppendMarkStartSeq() {
  const SystemPara& sp = g_SystemPara;
  if (sp.bAutoCheckMarkInfoFB == 1) ExpectedRecordPush();
  if (sp.bNewBoxCali) AppendStreamWord(1, 0, SW_CORRECTION_MODE | CorrectionFlag() | (g_MarkJob.bLaserJob ? 0u : 1u));
  if (g_MarkJob.g_nStartPosFlag == 0 || RotationMarkingOn()) g_Scan.JumpToHome();
  AppendStreamWord(1, 0, sp.bOut0IsRun ? MakeIoWord(0, 1) : SW_NOP);
  g_Scan.JumpTo(g_Scan.dbCurX, g_Scan.dbCurY);
  if (g_MarkJob.bLaserJob) {
    AppendStreamWord(1, 0, SW_LASER_JOB_START);
    CLaserAll::EmitIoPulses();
  }
  const int32_t energy = EnergySplitOutput();
  if (energy != -1) {
    AppendStreamWord(1, kEnergyOutputPadUs, MakeIoWord(energy, 0));
    AppendLightPathWait(LightPathWait::kSynTrigFree);
  }
  AppendLightPathRequest(kPathOpticalSwitch, 1, 1);
}

void AppendMarkEndSeq(uint32_t endArg, uint8_t bFromMarkEnd) {
  const SystemPara& sp = g_SystemPara;
  const int lasers = LasersInUse();
  for (int i = 0; i < lasers; ++i) {
    const CLaser& l = g_Laser[i];
    if (l.bPaNoCus || l.bManualPa) AppendStreamWord(1, 1, MakeIoWord(static_cast<int32_t>(l.nPaNoCusBit), 0));
  }
  for (int i = 0; i < lasers; ++i) {
    const CLaser& l = g_Laser[i];
    if (!l.bFiberPwm) {
      StreamLaserTimes(l, Ticks(sp.nPrePwmH), Ticks(sp.nPrePwmL), 1);
    } else {
      AppendStreamNop(kFiberIdlePauseUs);
      StreamLaserTimes(l, Ticks(sp.nIdlePwmH), Ticks(sp.nIdlePwmL), sp.nPrrBeforeMoPaUS);
    }
  }
  AppendStreamWord(1, 0, sp.bOut1IsLaser ? MakeIoWord(1, 0) : SW_NOP);
  // A job that QZ_MarkEnd closes with fly marking still switched on switches it off and sends the
  // scanner home.
  if (bFromMarkEnd && g_MarkFlow.nFlySwitchOn != 0) {
    AppendStreamWord(1, 1, SW_FLY_SWITCH);
    AppendStreamWord(1, 1, SW_FLY_FOLLOW);
    g_Scan.JumpToHome();
  }
  if (sp.bNewBoxCali && sp.CardLinkCfg.bPcieNoSlave) AppendStreamWord(1, 0, SW_UART_BYTE);
  const int32_t energy = EnergySplitOutput();
  if (energy != -1) AppendStreamWord(1, kEnergyOutputPadUs, MakeIoWord(energy, 0));
  AppendLightPathRelease(kPathOpticalSwitch);  // the switch's request output, 1 ms before and after
  for (int i = 0; i < lasers; ++i) {
    const CLaser& l = g_Laser[i];
    if (l.bEnableAtStart || l.bEnableEachSegment)
      AppendStreamWord(kEnableOffDelayUs, 1, MakeIoWord(static_cast<int32_t>(l.nEnableBit), 0));
  }
  ZeroAllLaserPower(bFromMarkEnd);
  if (sp.LASER_TYPE == 2 || sp.LASER_TYPE == 6) AppendStreamWord(1, 0, SW_STROBE31_CLEAR);
  if (!bFromMarkEnd || sp.wob) {
    g_Scan.JumpToHome();
  } else if (endArg == 0 || RotationMarkingOn()) {
    g_Scan.JumpIfMoved(sp.MarkEnd_X, sp.MarkEnd_Y);
  }
  if (g_MarkJob.bLaserJob && sp.bNewBoxCali) {
    AppendStreamWord(1, 0, SW_CORRECTION_END | CorrectionFlag());
    g_Scan.JumpTo(g_Scan.dbCurX, g_Scan.dbCurY);
  }
  if (sp.wob) {
    AppendStreamWord(1, 1, MakeIoWord(5, 0));
    AppendStreamWord(1, 1, MakeIoWord(6, 0));
  }
  if (sp.bKvxOSS) OssResetOutputs();
  AppendStreamWord(1, 0, sp.bOut0IsRun ? MakeIoWord(0, 0) : SW_NOP);
  AppendStreamWord(1, 0, SW_END);
  AppendStreamWord(1, 0, SW_NOP);
  if (sp.bAutoCheckMarkInfoFB == 1) ExpectedRecordPush();
}

uint32_t CheckDotList(const uint8_t* points, int32_t n, uint32_t layer, double dotTime) {
  if (n > 0 && points == nullptr) return RV_ERROR;
  for (int32_t i = 0; i < n; ++i) {
    const uint8_t* p = points + static_cast<size_t>(i) * kHostPointBytes;
    if (!std::isfinite(GetF64(p)) || !std::isfinite(GetF64(p + 8))) return RV_DATA_IS_NAN;
  }
  if (dotTime == std::numeric_limits<double>::infinity()) return RV_DATA_IS_NAN;
  if (!(dotTime >= kMinDotTimeUs)) return RV_POINT_MARK_TIME_LESS_THAN_1;
  if (RotationMarkingOn()) return RV_DOT_MARK_ILLEGAL_FOR_ROTATION;
  if (layer >= static_cast<uint32_t>(kPenCount)) return RV_LAYER_NUMBER_OVER;
  for (int32_t i = 0; i < n; ++i) {
    const uint8_t* p = points + static_cast<size_t>(i) * kHostPointBytes;
    if (!WithinFieldReach(GetF64(p), GetF64(p + 8))) return RV_ERROR;
  }
  // The lasers' own refusal of the first dot, made before anything is written.
  if (n > 0 && dotTime < CLaserAll::kMinPointMarkUs) return RV_POINT_MARK_TIME_LESS_THAN_1;
  return RV_OK;
}

uint32_t MarkDotList(const uint8_t* points, int32_t n, uint32_t layer, double dotTime) {
  const uint32_t refused = CheckDotList(points, n, layer, dotTime);
  if (refused != RV_OK) {
    LogFailure("QZ_MarkDot", StrFormat("%s (points %s, count %d, dot time %.3f, layer %u)",
                                       GetErrText(static_cast<int32_t>(refused)).c_str(), points ? "given" : "null",
                                       static_cast<int>(n), dotTime, layer));
    ThrowMarkError(refused);
  }
  const SystemPara& sp = g_SystemPara;
  CMarkGen::ApplyLayer(layer, 1);
  const int32_t time = RealToInt32(dotTime);
  for (int32_t i = 0; i < n; ++i) {
    if (JobStoppedOrFailed()) break;
    const uint8_t* p = points + static_cast<size_t>(i) * kHostPointBytes;
    const double x = GetF64(p), y = GetF64(p + 8);
    RequestSwitchForDot();
    g_Scan.JumpIfMoved(x, y);
    if (sp.bCloseFeedback && sp.bScanFeedbackWait == 1) {
      AppendStreamWord(1, 1, SW_SCAN_FB_WAIT_SETUP);
      AppendStreamWord(1, 1, SW_WAIT_TIMEOUT_1S);
      AppendStreamWord(1, 1, SW_SCAN_FB_WAIT);
    }
    AppendLightPathRequest(kPathEnergySplit, 0, 1);
    RunOnUpperFloor([&]() REQUIRES(g_MarkCall) {
      const int32_t t = CLaserAll::PointMarkAll(time);
      if (t > 0) StreamStartRecords(g_Scan.nMarkEndDelay, t);
    });
    AppendLightPathRelease(kPathEnergySplit);
    if (sp.bAutoCheckMarkInfoFB == 1) ExpectedRecordClosePower();
  }
  return RV_OK;
}

void MarkInitScanLaserReset() {
  LaserJobReset();
  g_Scan.dbCurX = 0.0;
  g_Scan.dbCurY = 0.0;
  g_Scan.JumpTo(0.0, 0.0);
}

void MoveScannerToRest(int mode) {
  try {
    const SystemPara& p = g_SystemPara;
    MicMoveScan3InJob(p.MarkEnd_X, p.MarkEnd_Y, p.MarkEnd_Z, static_cast<uint32_t>(mode));
  } catch (const MyException& e) {
    e.Show();
  }
}
