#include "markbase/job_state.h"

#include "cardlink/card_cmd.h"
#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "frame/log_file.h"

MarkCallRole g_MarkCall;
MarkJobState g_MarkJob;
plat::Lock g_csMarkRun;

void MarkJobState::Reset() NO_THREAD_SAFETY_ANALYSIS {
  nMarkState = kMarkStateIdle;
  bStopMark = 0;
  g_bMarkCallBusy = 0;
  nRunMode = 0;
  bLaserJob = 0;
  bRunModeNot4 = 1;
  bLaserLocked = 0;
  g_nMarkTime = 0;
  g_nStartPosFlag = 0;
  ClearMarkFailure();
}

bool MarkFailed() { return g_MarkJob.bMarkFailed; }

bool JobStoppedOrFailed() { return g_MarkJob.bStopMark.load() != 0 || MarkFailed(); }

std::string MarkErrorText() {
  plat::LockGuard g(g_MarkJob.csMarkError);
  return g_MarkJob.g_szMarkError;
}

void ClearMarkFailure() {
  plat::LockGuard g(g_MarkJob.csMarkError);
  g_MarkJob.g_szMarkError.clear();
  g_MarkJob.bMarkFailed = false;
}

void StopCardRun() {
  if (!g_Link.g_bConnected) return;
  try {
    SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_STOP);
  } catch (const MyException&) {
  }
}

void RecordMarkFailure(const std::string& text) {
  g_InfoLog.WriteText("SetMarkErrorAndThrow", LOG_INFO, text);
  {
    plat::LockGuard g(g_MarkJob.csMarkError);
    g_MarkJob.g_szMarkError = text;
    g_MarkJob.bMarkFailed = true;
  }
  StopCardRun();
}

void SetMarkErrorAndThrow(uint32_t code, const std::string& text) {
  RecordMarkFailure(text);
  ShowTopmostBox(text);
  throw MyException(code, 0);
}

void ThrowMarkError(uint32_t code) { SetMarkErrorAndThrow(code, GetErrText(static_cast<int32_t>(code))); }

void RequireMarkCall() {
  if (!g_MarkJob.g_bMarkCallBusy.load()) throw MyException(RV_MARK_DATA_NOT_LOCKED, 1);
}
