#include "mark/mark_flow.h"

#include <cmath>

#include "calibration/box_para.h"
#include "calibration/scan.h"
#include "cardlink/card_cmd.h"
#include "cardlink/card_status.h"
#include "cardlink/card_wire.h"
#include "cardlink/portlane.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/fly_para.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "mark/fifo_data.h"
#include "mark/fly_encode.h"
#include "markbase/io_words.h"
#include "mark/layer_switch.h"
#include "mark/mark_data2fifo.h"
#include "markbase/mark_floor.h"
#include "mark/run_control.h"
#include "markbase/stream_words.h"
#include "platform/clock.h"

MarkFlowState g_MarkFlow;

namespace {

constexpr uint32_t kEncoderMask = 0xFFFFFF;
constexpr int32_t kEncWaitLead = 5;  // pulses of the first wait before (after) the target
constexpr uint32_t kFlyStepRefused = 1;  // CFlyEncode's result for a position behind the last one
constexpr uint32_t kAreaSafeFlyWord = 0x67000000;
constexpr uint32_t kCountStatusPollMs = 100;
constexpr uint32_t kJumpFlag = 0x100;
constexpr uint32_t kCcdRegSelect0 = 0x200;
constexpr uint32_t kCcdParaFlag = 0x4000;


// A fly step's result as the export gives it: a position behind the last one is a refused argument.
uint32_t FlyStepResult(uint32_t rc) { return rc == kFlyStepRefused ? RV_ERROR : rc; }

uint32_t CheckFlyPosition(double mm) {
  if (!std::isfinite(mm)) return RV_DATA_IS_NAN;
  if (g_FlyEncode.Range() < kMinEncRange) return RV_ERROR;
  return RV_OK;
}

// A camera's analogue code of a coordinate over a field: (field / 2 + v) x 65535 / field, within
// 0..65535, truncated.
uint32_t CcdCode(double v, double field) {
  double c = (field / 2 + v) * 65535.0 / field;
  if (!(c > 0.0)) c = 0.0;
  if (c > 65535.0) c = 65535.0;
  return RealToUInt32(c);
}

}  // namespace

void MarkFlowState::ResetForJob() {
  nFlySwitchOn = 0;
  bEncResetSent = 0;
  nCountSent = 0;
  nCountDone = 0;
}

// ---- encoder and fly

void AppendEncoderWaitWord(int32_t p) {
  const int32_t range = g_FlyEncode.Range();
  uint32_t v = static_cast<uint32_t>(p);
  if (p < 0) v += static_cast<uint32_t>(range);
  if (v >= static_cast<uint32_t>(range)) v -= static_cast<uint32_t>(range);
  AppendEncoderRegisterWait(v);
}

void MarkEncWait(int32_t pos) {
  const int32_t p = static_cast<int32_t>(static_cast<uint32_t>(pos) & kEncoderMask);
  AppendEncoderWaitWord(pos >= 0 ? p - kEncWaitLead : p + kEncWaitLead);
  AppendEncoderWaitWord(p);
}

void MarkEncReset() {
  AppendStreamWord(1, 1, SW_ENC_RESET);
  g_FlyEncode.ResetUnwrap();
}

void MarkEncBufSwitch(int32_t flag) { AppendStreamWord(1, 1, SW_ENC_BUF_SWITCH | (flag != 0 ? 0u : 1u)); }

void MarkFlySwitch(uint32_t on) {
  g_MarkFlow.nFlySwitchOn = on;
  AppendStreamWord(1, 1, SW_FLY_SWITCH | (on & 1u));
  AppendStreamWord(1, 1, SW_FLY_FOLLOW);
  if (on != 0) return;
  if (g_FlyScanPara.nFlyOffHome == 1) {
    g_Scan.JumpToHome();
  } else if (g_FlyScanPara.nFlyOffHome == 0) {
    g_Scan.JumpTo(g_Scan.dbCurX, g_Scan.dbCurY);
  }
}

void MarkFlyOnEnc(uint32_t pos, int32_t resetFlag, uint32_t switchFlag) {
  if (resetFlag == 1 && g_MarkFlow.bEncResetSent == 0) {
    AppendStreamWord(1, 1, SW_ENC_RESET);
    g_MarkFlow.bEncResetSent = 1;
  }
  if (switchFlag != 0 && g_MarkFlow.nFlySwitchOn != 0) {
    AppendStreamWord(1, 1, SW_FLY_SWITCH);
    AppendStreamWord(1, 1, SW_FLY_FOLLOW);
    g_Scan.JumpToHome();
  }
  AppendStreamWord(1, 1, SW_FLY_ON_ENC);
  AppendEncoderRegisterWait(pos);  // the host's value as given
  if (switchFlag != 0) {
    g_MarkFlow.nFlySwitchOn = 1;
    AppendStreamWord(1, 1, SW_FLY_SWITCH | 1u);
    AppendStreamWord(1, 1, SW_FLY_FOLLOW);
  }
}

void MarkAreaSafeFly(uint32_t rangeFlag, uint32_t dir, double pos) {
  g_FlyScanPara.bFlyMarkRangeEn = static_cast<int32_t>(rangeFlag);
  const double fx = g_FlyScanPara.dbFlyDirX, fy = g_FlyScanPara.dbFlyDirY;
  const uint32_t axis = std::fabs(fx) > std::fabs(fy) ? 0 : 1;
  const double c = axis == 0 ? fx : fy;
  const uint32_t d = dir != 0 ? 1 : 0;
  const uint32_t side = c > 0 ? 1 - d : d;
  int32_t v = FlyFieldCode(pos, CCaliLink::HalfRange());
  if (v < 0) v = 0;
  if (v > 0xFFFF) v = 0xFFFF;
  AppendStreamWord(1, 1, kAreaSafeFlyWord | side << 17 | axis << 16 | static_cast<uint32_t>(v));
}

uint32_t MarkFlyEmptyPosAbs(double mm) {
  if (const uint32_t refused = CheckFlyPosition(mm)) return refused;
  return FlyStepResult(g_FlyEncode.SetFlyEmptyPos(mm));
}

uint32_t MarkFlyMarkPosAbs(double mm) {
  if (const uint32_t refused = CheckFlyPosition(mm)) return refused;
  return FlyStepResult(g_FlyEncode.SetFlyMarkPosPulse(mm));
}

uint32_t MarkEncMeasDis(double mm) {
  if (const uint32_t refused = CheckFlyPosition(mm)) return refused;
  // A distance the encoder cannot count is refused before it becomes the base of every position.
  const double pulses = mm * g_FlyScanPara.nEncPPM;
  if (const uint32_t refused = CFlyEncode::CheckTarget(pulses, "QZ_MarkEncMeasDis")) return refused;
  g_FlyEncode.SetMeasBase(pulses);
  return FlyStepResult(g_FlyEncode.SetFlyEmptyPos(0.0));
}

void MarkUpdateCompensateWords() {
  AppendStreamWord(1, 1, SW_COMP_UPDATE);
  AppendStreamWord(1, 1, SW_FLY_FOLLOW);
  AppendStreamWord(0, 1, SW_SCAN_FB_WAIT);
}

// ---- delays, flushes, count markers

void MarkBufDelay(int32_t delayUs) {
  AppendStreamWord(delayUs, 0, SW_NOP);
  if (JobStoppedOrFailed()) return;
  const int32_t w = static_cast<int32_t>(g_SystemPara.nSteadyWindowUs);
  MergeUpperFloor(w, w);
  g_MarkData2Fifo.Flush(0);
}

void MarkFlushAll() { FlushAllAndStartRun(); }

void MarkBufferCnt(uint32_t n) { AppendStreamWord(1, 1, SW_COUNT_MARKER | (n & 0xFFFF)); }

uint64_t WidenCount(uint64_t done, uint32_t c) {
  const uint64_t low = done & 0xFFFF;
  const uint64_t card = c & 0xFFFF;
  return done + (card >= low ? card : card + 0x10000) - low;
}

uint32_t MarkSetCountAndWait(uint32_t max) {
  MarkFlowState& f = g_MarkFlow;
  f.nCountSent += 1;
  AppendStreamWord(1, 1, SW_COUNT_MARKER | static_cast<uint32_t>(f.nCountSent & 0xFFFF));
  if (f.nCountSent <= max || g_MarkJob.nRunMode == 2) return RV_OK;
  g_FifoData.bFlushRequested = 1;
  if (!JobStoppedOrFailed()) {
    MergeUpperFloor(0, 0);
    g_MarkData2Fifo.Flush(1);
  }
  uint32_t lastStatus = plat::TickMs();
  while (g_Link.g_bConnected && !g_MarkJob.bStopMark) {
    CmdReply reply;
    CPortlane::SendCmd(CMD_ENCODER, 0, 0, reply);
    f.nCountDone = WidenCount(f.nCountDone, reply.r0() & 0xFFFF);
    if (f.nCountSent - f.nCountDone <= max) break;
    if (plat::TickMs() - lastStatus < kCountStatusPollMs) continue;
    lastStatus = plat::TickMs();
    // A run that has ended by itself (an alarm, a data break) never counts on.
    if (ReadCardStatus().running == 0) {
      RecordMarkFailure(StrFormat(Lang("计数等待: 板卡已结束运行, 已执行 %llu / %llu",
                                       "Count wait: the card's run has ended after %llu of %llu markers"),
                                  static_cast<unsigned long long>(f.nCountDone),
                                  static_cast<unsigned long long>(f.nCountSent)));
      return RV_MARK_ERROR;
    }
  }
  return RV_OK;
}

// ---- tasks

void MarkTaskLabel(uint32_t task) {
  AppendStreamWord(1, 1, SW_LABEL | task);
  CMarkGen::bSmallTaskPending = 1;
}

void MarkFlagFinish() {
  AppendStreamWord(1, 0, SW_FINISH_FLAG);
  AppendStreamWord(1, 0, SW_NOP);
}

void MarkLoopStart(uint32_t task, uint32_t count) {
  AppendStreamWord(1, 1, SW_LOOP_START | (count & 0xFFFF));
  AppendStreamWord(1, 1, SW_LABEL | task);
}

void MarkJumpTaskNo(uint32_t task) { AppendStreamWord(1, 1, SW_JUMP_TO_LABEL | task); }

void MarkJumpByIO(uint32_t mask, uint32_t value, uint32_t task, bool ok) {
  EmitWriteRegSeq(mask, value, kWaitWithTimeout, 0, kWaitSourceInputs);
  const uint32_t reg = kJumpFlag | task;
  if (ok) {
    EmitWriteReg16(reg >> 8, reg & 0xFF, 0, 0);
  } else {
    EmitWriteReg16(0, 0, reg >> 8, reg & 0xFF);
  }
}

void MarkLoopEnd(uint32_t task) {
  AppendStreamWord(1, 0, SW_LOOP_END_FIRST);
  AppendStreamWord(0, 1, SW_TASK_LOOP_END | task);
  AppendStreamWord(1, 1, SW_LOOP_END_LAST);
}

// ---- camera

uint32_t CheckCcdStep(const CcdStep& s) {
  if (s.selector == 2 && s.value > 0xFFFF) return RV_ERROR;
  if (s.enable != 0 && !(std::isfinite(s.x) && std::isfinite(s.y))) return RV_DATA_IS_NAN;
  return RV_OK;
}

void EmitCcdMarkSeq(const CcdStep& s) {
  AppendStreamWord(1, 1, SW_CAMERA_START);
  AppendStreamWord(1, 1, SW_WAIT_TIMEOUT_1S);
  AppendStreamWord(1, 1, SW_CAMERA_WAIT);
  g_Scan.JumpTo(g_Scan.dbCurX, g_Scan.dbCurY);
  if (s.enable == 0) return;
  g_Scan.JumpIfMoved(s.x, s.y);
  const uint32_t cx = CcdCode(s.x, g_Scan.FieldX());
  const uint32_t cy = CcdCode(s.y, g_Scan.FieldY());
  const int64_t n = s.number;
  const uint32_t bcd = static_cast<uint32_t>(n + 6 * (n / 10)) & 0xFF;
  const uint32_t para = SW_CAMERA_PARA | (s.flag != 1 ? kCcdParaFlag : 0u) |
                        (static_cast<uint32_t>(s.field) & 0xF) << 10 | bcd;
  AppendStreamWord(1, 0, SW_CAMERA_X | (cx & 0xFFFF));
  AppendStreamWord(0, 0, SW_CAMERA_Y | (cy & 0xFFFF));
  AppendStreamWord(0, 0, para);
  const uint32_t second = s.selector == 0   ? SW_REG_DATA16 | kCcdRegSelect0
                          : s.selector == 2 ? SW_REG_DATA16 | kJumpFlag | s.value
                                            : SW_REG_DATA16;
  AppendStreamWord(1, 0, SW_REG_LANE);
  AppendStreamWord(0, 0, SW_REG_DATA16);
  AppendStreamWord(0, 0, SW_REG_LANE | 1);
  AppendStreamWord(0, 0, second);
  AppendStreamWord(1, 1, SW_WAIT_TIMEOUT_1S);
  AppendStreamWord(1, 0, SW_CAMERA_WAIT);
  g_Scan.JumpTo(g_Scan.dbCurX, g_Scan.dbCurY);
  AppendStreamWord(1, 0, SW_REG_LANE | 3);
  AppendStreamWord(1, 0, SW_REG_WRITE_CLOSE);
}
