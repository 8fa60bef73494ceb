#include "cardlink/task_state.h"

#include <new>

#include "cardlink/card_cmd.h"
#include "cardlink/card_para.h"
#include "cardlink/portlane.h"
#include "cardlink/task_table.h"
#include "frame/card_version.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/export_call.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "platform/clock.h"
#include "platform/msgbox.h"

plat::Lock g_csSysState;
uint8_t g_bSysBusy = 0;
uint32_t g_nCurTask = 0;
std::atomic<uint8_t> g_bCardSynced{0};
std::atomic<uint8_t> g_bParaAccepted{0};

namespace {

TaskInfo TaskOf(uint32_t id) {
  auto it = g_mapTask.find(id);
  return it == g_mapTask.end() ? TaskInfo{} : it->second;
}

// A refusal of the task checks: the daily log always; the error log and a box unless quiet.
void Complain(const char* tag, const std::string& text, bool quiet) {
  g_InfoLog.WriteText(tag, LOG_INFO, text);
  if (quiet) return;
  g_ErrorLog.WriteText(tag, LOG_ERROR, text);
  ShowTopmostBox(text);
}

bool AskYes(const std::string& text) {
  return plat::ShowMessageBox(text, plat::BoxButtons::YesNo, true) == plat::BoxAnswer::Yes;
}

}  // namespace

bool IsOssTimeSyncError() {
  if (!g_SystemPara.bOssType1Or2) return false;
  CmdReply reply;
  CPortlane::SendCmd(static_cast<uint16_t>(g_CmdNumTable.Of(kCmdOssStatus)), 0, 0, reply);
  return ((reply.r1() >> 28) & 1) && ((reply.r0() >> 27) & 1);
}

bool isSysErrAndDeal(const CardStatus& status) {
  const char* tag = "isSysErrAndDeal";
  if (!status.connected) return false;
  if (!status.AnyFlagSet()) {
    if (!IsOssTimeSyncError()) return true;
    LogFailure(tag, Lang("Oss卡报警，时间同步失败", "Oss card alarm, time synchronization failed"));
    if (!AskYes(Lang("Oss卡报警，时间同步失败，是否清除错误？",
                     "Oss card alarm, time synchronization failed. Is the error cleared?")))
      return false;
    SendCmdNoReply(static_cast<uint16_t>(g_CmdNumTable.Of(kCmdOssStatus)), 0, 1);
    return !IsOssTimeSyncError();
  }
  std::string alarms;
  FormatCardAlarm(status, alarms);
  const std::string text = StrFormat(Lang("%s     是否清除错误？", "%s    Do you want to clear the error?\r\n"), alarms.c_str());
  LogFailure(tag, text);
  if (!AskYes(text)) return false;
  SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_CLEAR_ALARM);
  plat::Sleep(10);
  SendCmdNoReply(CMD_SET_FLAG, 1, FLAG_CLEAR_ALARM);
  ReadCardStatus();
  // The task that asked is refused this time; the next attempt finds the alarms cleared.
  return false;
}

uint32_t RaskStartConditionCheck(uint32_t id) {
  const char* tag = "RaskStartConditionCheck";
  const TaskInfo t = TaskOf(id);
  const CardStatus s = ReadCardStatus();
  if (t.bCheckCard) {
    if (!s.connected) {
      Complain(tag, StrFormat("%s fail,for Usb not connected", t.name.c_str()), t.bQuiet);
      return RV_ERROR;
    }
    if (s.cardTaskId != 0 || s.runState != 0) {
      Complain(tag, StrFormat("%s fail,for Card is Busy", t.name.c_str()), t.bQuiet);
      return RV_ERROR;
    }
  }
  if (t.bNeedSync && !g_bCardSynced) {
    Complain(tag, StrFormat("%s fail,for Card is Unsyn", t.name.c_str()), false);
    return RV_ERROR;
  }
  if (t.bNeedInit && !g_bParaAccepted) {
    Complain(tag, StrFormat("%s fail,for system not initialized", t.name.c_str()), false);
    return RV_ERROR;
  }
  if (t.bCheckAlarm && !isSysErrAndDeal(s)) return RV_ERROR;
  if (t.bCheckCard) SendCmdNoReply(CMD_SET_FLAG, id, FLAG_TASK_ID);
  return RV_OK;
}

uint32_t ConformSysIdleAndSetItBusy(uint32_t id) {
  const char* tag = "ConformSysIdleAndSetItBusy";
  try {
    CSyncGuard g(g_csSysState);
    if (g_bSysBusy) {
      ReportFailure(tag, StrFormat("%s failed,  System is %s", TaskOf(id).name.c_str(),
                                   TaskOf(g_nCurTask).name.c_str()));
      return RV_ERROR;
    }
    const uint32_t rc = RaskStartConditionCheck(id);
    if (rc != 0) return rc;
    g_nCurTask = id;
    g_bSysBusy = 1;
    g_InfoLog.WriteText(tag, LOG_INFO, TaskOf(id).name);
    return RV_OK;
  } catch (const MyException& e) {
    return e.Show();
  } catch (const std::bad_alloc&) {
    return ReportMemoryFailure(tag);
  }
}

void RaskEndConditionCheck(uint32_t id) {
  const char* tag = "RaskEndConditionCheck";
  const TaskInfo t = TaskOf(id);
  if (t.bCheckCard) {
    SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_TASK_ID);
    const CardStatus s = ReadCardStatus();
    if (!s.connected) Complain(tag, "task fail,for Usb not connected", t.bQuiet);
    if (s.cardTaskId != 0 || s.runState != 0) Complain(tag, "task fail,for Card is not finished", t.bQuiet);
  }
  if (t.bCheckAlarm) isSysErrAndDeal(ReadCardStatus());
}

bool SysBusy() {
  plat::LockGuard g(g_csSysState);
  return g_bSysBusy != 0;
}

void ReleaseSystem2Idle() noexcept {
  uint32_t task = 0;
  {
    plat::LockGuard g(g_csSysState);
    task = g_nCurTask;
  }
  try {
    RaskEndConditionCheck(task);
  } catch (...) {
    // The card was lost during the task: its card-side checks are skipped.
  }
  try {
    g_InfoLog.Write("ReleaseSystem2Idle", LOG_INFO, "%s",
                    Lang("..........任务结束...............", "..........Task ended..............."));
  } catch (...) {
  }
  plat::LockGuard g(g_csSysState);
  g_bSysBusy = 0;
}
