#include "mark/mark_job.h"

#include <new>

#include "cardlink/card_cmd.h"
#include "cardlink/card_io.h"
#include "cardlink/card_status.h"
#include "cardlink/portlane.h"
#include "cardlink/task_state.h"
#include "cardlink/task_table.h"
#include "calibration/scan.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/export_call.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "laser/laser.h"
#include "laser/laser_outputs.h"
#include "mark/fifo_data.h"
#include "mark/layer_switch.h"
#include "mark/line_storage.h"
#include "mark/mark_data2fifo.h"
#include "markbase/mark_floor.h"
#include "mark/mark_flow.h"
#include "mark/phase_timer.h"
#include "mark/rot_mark.h"
#include "mark/scan_sequences.h"
#include "markbase/stream_words.h"
#include "platform/clock.h"

void ReportMarkEnd(uint32_t finalStatus, uint8_t bSameData) {
  const uint32_t code = (finalStatus >> 8) & 15u;
  const uint32_t sub = (finalStatus >> 13) & 7u;
  const std::string same = StrFormat("same=%d res=%x", bSameData, finalStatus);
  const char* tag = "MustEndThread";
  enum Level { kInfo, kInfoError, kShown };
  const char* text = nullptr;
  Level level = kInfo;
  if (code == 4) {
    text = "数据断流 %s";
    level = kInfoError;
  } else if (code == 1) {
    text = "运行成功  %s";
  } else if (code == 2 && sub == 0) {
    text = "运行被停止 %s";
  } else if (code == 2 && sub == 2) {
    text = "快跳失败 %s";
    level = kShown;
  } else if (code == 8 && sub == 0) {
    text = "被模块停止 %s";
  } else if (code == 8 && sub == 1) {
    text = "后跳失败 %s";
    level = kShown;
  } else if (code == 0 && sub == 3) {
    text = "Buffer Head Err %s";
    level = kShown;
  } else if (code == 0) {
    text = "未知结果 %s";
  }
  if (!text) return;
  const std::string line = StrFormat(text, same.c_str());
  g_InfoLog.WriteText(tag, LOG_INFO, line);
  if (level != kInfo) g_ErrorLog.WriteText(tag, LOG_ERROR, line);
  if (level == kShown) ShowTopmostBox(line);
}

CMarkLock::CMarkLock() {
  plat::LockGuard g(g_csMarkRun);
  if (g_MarkJob.g_bMarkCallBusy == 0) {
    g_MarkJob.g_bMarkCallBusy = 1;
    CMarkFloor::BindCurrent();
    bOwner = 1;
  }
}

CMarkLock::~CMarkLock() {
  if (!bOwner) return;
  g_pCurFloor = nullptr;
  g_MarkJob.g_bMarkCallBusy = 0;
}

uint32_t CMarkLock::Refuse(const char* caller) {
  SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_STOP);
  ReportFailure(caller, GetErrText(RV_MARK_CALLS_OVERLAP));
  return RV_MARK_CALLS_OVERLAP;
}

void CMarkJob::InitJob(uint32_t mode) {
  g_MarkJob.bRunModeNot4 = mode != 4 ? 1 : 0;
  g_MarkJob.nRunMode = mode == 4 ? 1 : mode;
  g_MarkJob.bLaserJob = (g_MarkJob.nRunMode == 0 || g_MarkJob.nRunMode == 2) ? 1 : 0;
  // The scanner's stream state of a new job: no marked segment yet, no jump delays until a pen sets
  // them.
  g_Scan.nLitCount.store(0, std::memory_order_relaxed);
  g_Scan.nJumpDelayMax = 0;
  g_Scan.nJumpDelayMin = 0;
  g_Scan.nLongJumpLen = 20;
  g_MarkJob.bLaserLocked = 0;
  if (g_SystemPara.bLockLaserAllow) {
    CmdReply reply;
    CPortlane::SendCmd(CMD_INPUT, 0, 0, reply);
    g_MarkJob.bLaserLocked = static_cast<uint8_t>((reply.r0() >> ShiftCount(g_SystemPara.nLockLaserSwitchIO)) & 1u);
  }
  ClearMarkFailure();
  // A stop that arrives between QZ_MarkStart and the first mark-list call belongs to this job.
  g_MarkJob.bStopMark = 0;
  if (g_MarkJob.g_bMarkCallBusy == 0) throw MyException(RV_MARK_DATA_NOT_LOCKED, 1);
  nFloor = 0;
  CMarkFloor::BindCurrent();
  g_MarkFloor[0].Reset();
  g_MarkData2Fifo.Reset();
  g_BlockRing.Reset();
  g_FifoData.ResetForJob();
  CMarkGen::ResetForJob();
  g_LineStorage.ResetForJob();
  g_MarkFlow.ResetForJob();
  LaserJobReset();
  g_RotMark.Begin(RotMark::CurrentSettings());
  g_MarkJob.nMarkState = kMarkStateOpen;
}

uint32_t MarkBufferBefore(uint32_t kind) {
  if (g_MarkJob.nMarkState == kMarkStateOpen) {
    g_FifoData.BufferStart(1);
    AppendMarkStartSeq();
  }
  if (g_MarkJob.nMarkState < 0) {
    ReportFailure("MarkBufferBefore", GetErrText(RV_MARK_ERROR));
    return RV_MARK_ERROR;
  }
  if (g_MarkJob.bStopMark || MarkFailed()) return RV_OK;
  const int32_t w = static_cast<int32_t>(g_SystemPara.nSteadyWindowUs);
  MergeUpperFloor(w, w);
  g_MarkData2Fifo.Flush(0);
  if (kind == KIND_VECTOR) return RV_OK;
  // The open polyline ends before the other command's words.
  if (!g_LineStorage.vecLastLine.empty()) g_LineStorage.DealPartLine(0, true);
  bool segmentOpen = false;
  for (int i = 0; i < LasersInUse(); ++i) segmentOpen |= g_Laser[i].bSegmentOpen != 0;
  if (!segmentOpen) AppendStreamWord(1, 1, SW_KIND_MARKER | kind);
  return RV_OK;
}

uint32_t EndStatusOf(uint32_t cardStatus, bool download, uint8_t offlineDone, bool stoppedOrFailed) {
  // A stopped or failed run is never reported as a finished one, nor as an unknown result: a download
  // ends stopped, an online run with the card's own status.
  if (stoppedOrFailed) return download ? kFinalStatusStopped : cardStatus;
  return offlineDone ? kFinalStatusOffline : cardStatus;
}

uint32_t StartMarkTask(uint32_t mode) {
  const uint32_t rc = ConformSysIdleAndSetItBusy(TASK_ONLINE_MARKING);
  if (rc == RV_CARD_NOT_CONNECTED) throw MyException(RV_CARD_NOT_CONNECTED, 0);
  if (rc != 0) throw MyException(RV_ERROR, 0);
  try {
    if (g_SystemPara.bRecordWhenMark == 1) SwitchDebugRecords(1);
    CMarkJob::InitJob(mode);
  } catch (...) {
    // The claim succeeded: a failure before the job exists must not leave the library busy.
    ReleaseSystem2Idle();
    throw;
  }
  return RV_OK;
}

uint32_t MustEndThread(uint8_t ok, uint32_t endArg, uint8_t bFromMarkEnd, uint8_t offlineDone) {
  const char* tag = "MustEndThread";
  uint32_t caught = 0;
  const bool stoppedOrFailed = g_MarkJob.bStopMark || MarkFailed();
  if (ok) {
    try {
      AppendMarkEndSeq(endArg, bFromMarkEnd);
      if (!g_MarkJob.bStopMark && !MarkFailed()) {
        MergeUpperFloor(0, 0);
        g_MarkData2Fifo.Flush(1);
      }
      g_MarkJob.g_nMarkTime = static_cast<int64_t>(CurFloor().clock);
      g_PhaseTimer.End(PHASE_DOWN);
      g_PhaseTimer.Start(PHASE_DOWN_AFTER);
    } catch (const MyException& e) {
      caught = e.Show();
    } catch (const std::bad_alloc&) {
      caught = ReportMemoryFailure(tag);
    }
  }
  g_MarkJob.bStopMark = 1;
  // Whatever happens while waiting for the card (a lost card throws code 1), the job ends: the
  // task is released, the run flag cleared, the offline file closed and the job set idle.
  struct JobEnd {
    ~JobEnd() {
      if (g_FifoData.nStartFlag == 1) ReleaseSystem2Idle();
      g_bRunFlag = 0;
      g_FifoData.CloseOfflineFile();
      g_MarkJob.nMarkState = kMarkStateIdle;
    }
  };
  uint32_t finalStatus = 0;
  {
    JobEnd end;
    g_FifoData.WaitSendFinish();
    finalStatus = g_FifoData.nFinalStatus;
    CLaserAll::SetEnableOutputs(0);
  }
  const double elapsedMs = plat::TickMs() - g_FifoData.nStartTick;
  const double sentMb = g_FifoData.nSentUnits * 512.0 / 2048.0 * 0.00048828125;
  g_InfoLog.Write(tag, LOG_INFO,
                  "size=%.3fMB dt=%.1f Pfirst=%d Pother=%d Psend=%d Csend=%d PmaxIdle=%d cmdWhenMark=%.3f", sentMb,
                  elapsedMs, static_cast<int>(g_PhaseTimer.FirstBlockSpan()), static_cast<int>(g_PhaseTimer.OtherBlockSpan()),
                  static_cast<int>(g_FifoData.nLastSendTick - g_FifoData.nStartTick), static_cast<int>(g_FifoData.nSendCount),
                  static_cast<int>(g_PhaseTimer.nMaxGapMs),
                  sentMb / (static_cast<double>(g_MarkJob.g_nMarkTime > 0 ? g_MarkJob.g_nMarkTime.load() : 1) / 1e6));
  g_InfoLog.Write(tag, LOG_INFO, "down CheckDdrSpaceCnt=%d DdrSpaceMin=%.3fMB Pfirst=%d Pother=%d Psend=%d Csend=%d PmaxIdle=%d",
                  static_cast<int>(g_FifoData.model.nQueries) - 1, g_FifoData.model.nMinFill / 2048.0,
                  static_cast<int>(g_PhaseTimer.FirstBlockSpan()), static_cast<int>(g_PhaseTimer.OtherBlockSpan()),
                  static_cast<int>(g_FifoData.nLastSendTick - g_FifoData.nStartTick),
                  static_cast<int>(g_FifoData.nSendCount), static_cast<int>(g_FifoData.nMaxIdleMs));
  finalStatus = EndStatusOf(finalStatus, g_MarkJob.nRunMode == 2, offlineDone,
                            stoppedOrFailed || caught != 0 || MarkFailed());
  g_FifoData.nFinalStatus = finalStatus;
  const uint32_t code = (finalStatus >> 8) & 15u;
  if (code != 1) MoveScannerToRest(g_MarkJob.bLaserJob ? 0 : 1);
  ReportMarkEnd(finalStatus, g_FifoData.bSameData);
  if (code == 1) return RV_OK;
  return caught != 0 ? caught : RV_MARK_FAIL;
}

void EndJobOfLostCard() {
  if (g_Link.g_bConnected) return;
  CMarkLock lock;
  if (!lock.Owns() || g_MarkJob.nMarkState < kMarkStateOpen) return;
  // The mark task is held from the job start (state -1), and by a buffer started for it.
  if (g_MarkJob.nMarkState == kMarkStateOpen || g_FifoData.nStartFlag == 1) ReleaseSystem2Idle();
  g_bRunFlag = 0;
  g_FifoData.CloseOfflineFile();
  g_MarkJob.nMarkState = kMarkStateIdle;
  g_InfoLog.Write("EndJobOfLostCard", LOG_INFO, "the job ended with its card lost");
}

uint32_t RunMarkFlow(uint32_t mode, const std::function<void()>& generator, uint8_t ok, uint32_t endArg,
                     uint8_t offlineDone) {
  const char* tag = "RunMarkFlow";
  try {
    CMarkLock lock;
    if (!lock.Owns()) return CMarkLock::Refuse(tag);
    CMarkJob::InitJob(mode);
    g_FifoData.BufferStart(0);
    // A generator that fails still lets the job end, so the run flag and the job state return to
    // idle; its failure is the result.
    uint32_t failure = 0;
    try {
      if (generator) generator();
    } catch (const MyException& e) {
      failure = e.Show();
    } catch (const std::bad_alloc&) {
      failure = ReportMemoryFailure(tag);
    }
    MustEndThread(failure ? 0 : ok, endArg, 0, offlineDone);
    return failure;
  } catch (const MyException& e) {
    return e.Show();
  } catch (const std::bad_alloc&) {
    return ReportMemoryFailure(tag);
  }
}

uint32_t MarkStartJob(uint32_t mode, uint32_t startFlag) {
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
}

uint32_t MarkEndJob(uint32_t endArg) {
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
  if (g_SystemPara.bRecordWhenMark == 1) SwitchDebugRecords(0);
  g_InfoLog.Write("QZ_MarkEnd", LOG_INFO, "> LineSum:%d", static_cast<int>(g_Scan.nLitCount.load(std::memory_order_relaxed)));
  if (rc != 0) return RV_MARK_FAIL;
  g_PhaseTimer.End(PHASE_DOWN_AFTER);
  g_PhaseTimer.End(PHASE_END);
  return g_Link.g_bConnected ? RV_OK : RV_CARD_NOT_CONNECTED;
}
