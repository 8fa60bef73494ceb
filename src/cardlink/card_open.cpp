#include "cardlink/card_open.h"

#include <new>

#include "cardlink/card_cmd.h"
#include "cardlink/card_locks.h"
#include "cardlink/hw_info.h"
#include "cardlink/portlane.h"
#include "cardlink/task_state.h"
#include "cardlink/task_table.h"
#include "flash/flash_cmd.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/export_call.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "frame/worker_threads.h"
#include "mark/mark_job.h"
#include "platform/clock.h"
#include "platform/system_mutex.h"
#include "qzmark.h"

namespace {

constexpr uint32_t kOpenLockWaitMs = 30000;  // another process opening a card holds "OpenUsbLock" briefly

// Takes the system-wide "OpenUsbLock" for the duration of a link open.
class OpenUsbLock {
 public:
  OpenUsbLock() {
    const uint32_t start = plat::TickMs();
    while (m_.Create("OpenUsbLock") != plat::SystemMutex::Result::Created) {
      if (plat::TickMs() - start >= kOpenLockWaitMs) return;
      plat::Sleep(10);
    }
  }
  bool Held() const { return m_.IsHeld(); }

 private:
  plat::SystemMutex m_;
};

}  // namespace

std::string CardMutexName(uint16_t cardType, uint16_t pid) {
  return StrFormat("KVX1000 card %s%d", cardType == 0 ? "USB" : "PCIE", static_cast<int>(CardIndexOf(pid) + 1));
}

const char* SubStateName(uint32_t runState, uint32_t subState) {
  if (runState & 2) {
    switch (subState) {
      case 1: return "FLASH_EREASE\r\n";
      case 2: return "FLASH_USB2RAM\r\n";
      case 3: return "FLASH_WRITE\r\n";
      case 4: return "FLASH_FLASH2RAM\r\n";
      case 5: return "FLASH_RAM2USB\r\n";
      case 8: return "FLASH_READ_OFF_DOC\r\n";
      case 14: return "FLASH_M25P64\r\n";
      default: return "";
    }
  }
  if (runState & 4) {
    switch (subState) {
      case 0: return "FLUSH_HEADER\r\n";
      case 1: return "FLUSH_BOX\r\n";
      case 2: return "FLUSH_CMD\r\n";
      case 3: return "FLUSH_BUF\r\n";
      case 5: return "FLUSH_BBT\r\n";
      case 6: return "FLUSH_MONITOR\r\n";
      default: return "";
    }
  }
  return "";
}

uint32_t OpenCardBigEvent() {
  const char* tag = "OpenCardBigEvent";
  g_bCardSynced = 0;
  const uint32_t claim = ConformSysIdleAndSetItBusy(TASK_CARD_OPENING);
  if (claim != 0) return claim;
  try {
    CPortlane::Close();
    const CardLinkCfg& link = g_SystemPara.CardLinkCfg;
    bool opened = false;
    if (g_hCardMutex.Create(CardMutexName(link.CardType, link.PID)) != plat::SystemMutex::Result::Created) {
      ShowTopmostBox(Lang("已打开，不能重复打开！", "Opened, cannot open again!"));
    } else {
      CSyncGuard cmd(g_csCardCmd);
      CSyncGuard buf(g_csCardBuf);
      OpenUsbLock openLock;
      opened = openLock.Held() && CPortlane::Open(CardIndexOf(link.PID)) == 0;
    }
    if (opened) {
      g_bConnected = 1;
      ReleaseSystem2Idle();
      return RV_OK;
    }
    CPortlane::Close();
    LogFailure(tag, StrFormat("打开卡 %d 失败", static_cast<int>(link.PID)));
    ReleaseSystem2Idle();
    return RV_CARD_NOT_CONNECTED;
  } catch (const std::bad_alloc&) {
    CPortlane::Close();
    ReleaseSystem2Idle();
    return ReportMemoryFailure(tag);
  }
}

bool stopMarkIfRunning(const CardStatus& status) {
  const char* tag = "stopMarkIfRunning";
  if (!status.running) {
    LogFailure(tag, "event Marking Clear");
    SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_TASK_ID);
    return true;
  }
  SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_STOP);
  SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_FLUSH);
  plat::Sleep(100);
  const CardStatus now = ReadCardStatus();
  if (now.connected && !now.running) {
    if (ReadMainInt("Main", "wob", 0) == 0 && ReadMainInt("Main", "bKvxOSS", 0) == 0)
      ReportFailure(tag, Lang("板卡处于运行状态，已中止", "The board is in a running state and has been aborted"));
    SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_TASK_ID);
    return true;
  }
  ReportFailure(tag, GetErrText(RV_CARD_MARKING_STOP_FAIL));
  return false;
}

bool CAdmin::SynSystemWithCard_() {
  const char* tag = "CAdmin::SynSystemWithCard_";
  const CardStatus s = ReadCardStatus();
  if (!s.connected) return false;
  if (s.cardTaskId == 0 && s.runState == 0) return true;
  if (g_SystemPara.bCmdWithNum == 0 || s.cardTaskId == TASK_ONLINE_MARKING || s.cardTaskId == TASK_OFFLINE_MARKING) {
    LogFailure(tag, "Card event Marking");
    return stopMarkIfRunning(s);
  }
  const char* task = TaskName(s.cardTaskId);
  if (!task) {
    // The card is busy on its own: only its initialisation can be aborted.
    if (!(s.runState & 4)) return false;
    SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_ABORT_CARD_INIT);
    plat::Sleep(2000);
    const CardStatus again = ReadCardStatus();
    if (again.connected && !(again.runState & 4)) {
      ReportFailure(tag, Lang("板卡处于初始化状态，已中止", "The board is in initialization state and has been aborted"));
      SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_TASK_ID);
      return true;
    }
    ReportFailure(tag, Lang("板卡初始化无法完成", "Board initialization cannot be completed"));
    return false;
  }
  if (s.runState == 0) {
    SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_TASK_ID);
    ShowTopmostBox(StrFormat(Lang("软件未正常关闭，板卡处于%s状态未完成，现已恢复！",
                                  "The software did not shut down properly, the board is in the %s state and has not "
                                  "been completed. It has now been restored!"),
                             task));
    return true;
  }
  if ((s.runState & 2) && s.subState == 2) {
    SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_FINISH_FLASH_WRITE);
    const CardStatus again = ReadCardStatus();
    if (again.runState == 0) {
      SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_TASK_ID);
      ReportFailure(tag, StrFormat(Lang("软件未正常关闭，板卡处于%s状态写flash未完成，现已恢复！",
                               "The software did not shut down properly, and the board is in the %s state. Writing "
                               "flash has not been completed, it has now been restored!"),
                          task));
      return true;
    }
    ReportFailure(tag, StrFormat(Lang("软件未正常关闭，板卡处于%s状态写flash未完成，无法恢复！",
                             "The software did not shut down properly, and the board is in the %s state. Writing to "
                             "flash is incomplete and cannot be restored!"),
                        task));
    return false;
  }
  ReportFailure(tag, StrFormat(Lang("软件未正常关闭，板卡处于%s状态未完成，无法恢复！",
                           "The software did not shut down properly, and the board is in the %s state. It is "
                           "incomplete and cannot be restored!"),
                      task) +
                SubStateName(s.runState, s.subState));
  return false;
}

uint32_t SignalCardClose() {
  if (!g_bConnected) return RV_CARD_NOT_CONNECTED;
  CSysTaskLock task(TASK_OFFLINE_MODE);
  if (task.Result() != 0) return task.Result();
  const bool done = FlashCmdWait(OP_COMMIT, OP_ARG_COMMIT_ALL);
  return (done && g_bConnected) ? RV_OK : RV_CARD_NOT_CONNECTED;
}

uint32_t CloseCardRelease() {
  if (!g_bConnected) {
    // Nothing is open for the host, but a link or mutex left from a failed open is let go.
    CPortlane::Close();
    return RV_CARD_NOT_CONNECTED;
  }
  const uint32_t claim = ConformSysIdleAndSetItBusy(TASK_CARD_CLOSING);
  if (claim != 0) {
    if (!g_bConnected) CPortlane::Close();  // lost during the claim: let the link and mutex go
    return claim;
  }
  try {
    if (!g_SystemPara.bOpenOnly) SendCmdNoReply(CMD_SET_FLAG, 1, FLAG_OFFLINE);
  } catch (const MyException&) {
    CPortlane::Close();
    ReleaseSystem2Idle();
    throw;
  }
  CPortlane::Close();
  ReleaseSystem2Idle();
  return RV_OK;
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetCardsNo(void* a, void* b) {
  return ExportCall("QZ_GetCardsNo", [&]() -> uint32_t {
    CSysTaskLock task(TASK_GET_CARDS_NO);
    if (task.Result() != 0) return task.Result();
    if (!PortlaneApi.bLoaded) return RV_CARD_NOT_CONNECTED;
    CSyncGuard cmd(g_csCardCmd);
    CSyncGuard buf(g_csCardBuf);
    PortlaneApi.QZ_GetCardsNo(a, b, 88);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_InitCard() {
  const char* tag = "QZ_InitCard";
  const uint32_t rc = ExportCall(tag, [&]() -> uint32_t {
    // A job left open by a host whose card was lost no longer holds the library.
    EndJobOfLostCard();
    SystemPara::InitParaLink(0);
    const CardLinkCfg& link = g_SystemPara.CardLinkCfg;
    g_InfoLog.Write(tag, LOG_INFO, "卡号:%d   V6版本:%x", static_cast<int>(link.PID), kLibraryVersion);
    if (OpenCardBigEvent() != 0) return RV_CARD_NOT_CONNECTED;
    g_SystemPara.nCardVersion = CardVersionOf(ReadHdVer());
    if (!g_SystemPara.CheckCardVersionCfg(g_SystemPara.nCardVersion)) return RV_CARD_NOT_CONNECTED;
    if (g_SystemPara.bOpenOnly) return RV_OK;
    if (g_SystemPara.nCardVersion < 0x30) {
      ShowTopmostBox(Lang("补丁为V3版本，卡不是V3版本，请配套使用",
                          "The patch is V3 version, the card is not V3 version, please use it together."));
      return RV_CARD_NOT_CONNECTED;
    }
    SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_OFFLINE);
    g_bCardSynced = CAdmin::SynSystemWithCard_() ? 1 : 0;
    if (!g_bCardSynced) return RV_CARD_NOT_CONNECTED;
    if (ReadMainInt("HARDWARE", "PID_pre", 32768) != link.PID) {
      WriteMainCfgInt("HARDWARE", "PID_pre", link.PID);
      g_ErrorLog.Write(tag, LOG_INFO, "CardNo Change to %d", static_cast<int>(link.PID));
    }
    return RV_OK;
  });
  if (rc != RV_OK) {
    // A failed open lets the link and the card's mutex go, so that another process or a second try
    // can open the card.
    g_bConnected = 0;
    CPortlane::Close();
    return RV_CARD_NOT_CONNECTED;
  }
  return RV_OK;
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_CloseCard() {
  return ExportCall("QZ_CloseCard", [&]() -> uint32_t {
    if (!g_SystemPara.bOpenOnly) {
      try {
        SignalCardClose();
      } catch (const MyException&) {
        // A card lost while committing: closing goes on.
      }
      StopWorkerThreads();
    }
    return CloseCardRelease();
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL debug_OpenCard2GetMsg(uint32_t flag) {
  g_SystemPara.bOpenOnly = flag;
  return RV_OK;
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetFlag(uint32_t key, uint32_t /*value*/) {
  return ExportCall("QZ_SetFlag", [&]() -> uint32_t {
    if (!g_bConnected) return RV_CARD_NOT_CONNECTED;
    CSysTaskLock task(TASK_CARD_INITIALIZING);
    if (task.Result() != 0) return task.Result();
    if (key == 0x7E21C4B9u) g_bParaAccepted = 1;
    return g_bConnected ? RV_OK : RV_CARD_NOT_CONNECTED;
  });
}
