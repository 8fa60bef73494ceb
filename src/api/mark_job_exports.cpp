// The job exports: QZ_MarkStart and QZ_MarkEnd.
#include <new>

#include "cardlink/card_cmd.h"
#include "cardlink/portlane.h"
#include "cardlink/task_state.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/export_call.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "mark/mark_floor.h"
#include "mark/mark_job.h"
#include "mark/phase_timer.h"
#include "qzmark.h"

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkStart(uint32_t mode, uint32_t /*second*/, uint32_t startFlag) {
  return ExportCall("QZ_MarkStart", [&]() -> uint32_t {
    if (mode > kLastRunMode) {
      // An unknown run mode changes nothing: no timer, no job state, no claim.
      if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
      LogFailure("QZ_MarkStart", StrFormat("run mode %u is not one of 0..%u", mode, kLastRunMode));
      return RV_ERROR;
    }
    if (g_SystemPara.bPrintTime == 1) {
      g_PhaseTimer.Reset();
      g_PhaseTimer.Start(PHASE_DOWN_PRE);
    }
    g_InfoLog.Write("QZ_MarkStart", LOG_INFO, "%d", static_cast<int>(mode));
    if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
    CMarkLock lock;
    if (!lock.Owns()) return CMarkLock::Refuse("QZ_MarkStart");
    const int32_t previous = g_MarkJob.nMarkState;
    g_MarkJob.nMarkState = kMarkStateStarting;
    try {
      StartMarkTask(mode);
    } catch (const MyException& e) {
      // A refused claim leaves a job that is already open as it was. From idle the state stays at
      // "starting", so that the mark-list calls that follow return quietly instead of each showing
      // a box.
      if (e.code == RV_ERROR && previous >= kMarkStateOpen) g_MarkJob.nMarkState = previous;
      throw;
    }
    g_MarkJob.g_nStartPosFlag = startFlag;
    return g_Link.g_bConnected ? RV_OK : RV_CARD_NOT_CONNECTED;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkEnd(uint32_t endArg) {
  return ExportCall("QZ_MarkEnd", [&]() -> uint32_t {
    g_PhaseTimer.Start(PHASE_END);
    g_InfoLog.Write("QZ_MarkEnd", LOG_INFO, "QZ_MarkEnd");
    if (!g_Link.g_bConnected) {
      EndJobOfLostCard();
      return RV_CARD_NOT_CONNECTED;
    }
    CMarkLock lock;
    if (!lock.Owns()) return CMarkLock::Refuse("QZ_MarkEnd");
    switch (g_MarkJob.nMarkState.load()) {
      case kMarkStateIdle:
        ReportFailure("QZ_MarkEnd", GetErrText(RV_MARK_NOT_START));
        return RV_MARK_NOT_START;
      case kMarkStateStarting:
        return RV_MARK_FAIL;
      case kMarkStateOpen:
        // No mark-list call came: nothing was sent. The job returns to idle, so that a later
        // mark-list call is refused as one without a job.
        ReleaseSystem2Idle();
        g_MarkJob.nMarkState = kMarkStateIdle;
        g_InfoLog.Write("QZ_MarkEnd", LOG_INFO, "> no run");
        return g_Link.g_bConnected ? RV_OK : RV_CARD_NOT_CONNECTED;
      default:
        break;
    }
    try {
      MarkBufferBefore(KIND_END);
    } catch (const MyException&) {
      // The job's failure is recorded; the end goes on.
    } catch (const std::bad_alloc&) {
      ReportMemoryFailure("QZ_MarkEnd");
    }
    const uint8_t ok = (g_MarkJob.bStopMark || MarkFailed()) ? 0 : 1;
    const uint32_t rc = MustEndThread(ok, endArg, ok, 0);
    if (g_SystemPara.bRecordWhenMark == 1) SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_DEBUG_RECORD);
    g_InfoLog.Write("QZ_MarkEnd", LOG_INFO, "> LineSum:%d", static_cast<int>(g_MarkJob.g_nLineCount));
    if (rc != 0) return RV_MARK_FAIL;
    g_PhaseTimer.End(PHASE_DOWN_AFTER);
    g_PhaseTimer.End(PHASE_END);
    return g_Link.g_bConnected ? RV_OK : RV_CARD_NOT_CONNECTED;
  });
}
