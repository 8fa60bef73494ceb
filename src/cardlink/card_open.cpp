#include "cardlink/card_open.h"

#include <atomic>
#include <new>

#include "cardlink/card_cmd.h"
#include "cardlink/card_locks.h"
#include "cardlink/card_operation.h"
#include "cardlink/hw_info.h"
#include "cardlink/link_config.h"
#include "cardlink/portlane.h"
#include "cardlink/task_state.h"
#include "cardlink/task_table.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/export_call.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "platform/clock.h"
#include "platform/system_mutex.h"

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

uint32_t OpenOnlyFlag() { return std::atomic_ref<uint32_t>(g_SystemPara.bOpenOnly).load(); }

void SetOpenOnlyFlag(uint32_t flag) { std::atomic_ref<uint32_t>(g_SystemPara.bOpenOnly).store(flag); }

bool OpenCardBigEvent() {
  const char* tag = "OpenCardBigEvent";
  bool duplicate = false;
  bool opened = false;
  uint16_t pid = 0;
  {
    CSyncGuard cmd(g_csCardCmd);
    CSyncGuard buf(g_csCardBuf);
    // The link settings, the previous link and mutex, the new mutex and the open all change under
    // the card locks, so that no exchange of another thread sees half of them.
    InitParaLink(0);
    const CardLinkCfg& link = g_SystemPara.CardLinkCfg;
    pid = link.PID;
    g_InfoLog.Write("QZ_InitCard", LOG_INFO, "卡号:%d   V6版本:%x", static_cast<int>(pid), kLibraryVersion);
    CPortlane::CloseLocked();
    if (g_Link.g_hCardMutex.Create(CardMutexName(link.CardType, pid)) != plat::SystemMutex::Result::Created) {
      g_Link.g_hCardMutex.Close();
      duplicate = true;
    } else {
      OpenUsbLock openLock;
      opened = openLock.Held() && CPortlane::Open(CardIndexOf(pid)) == 0;
    }
    if (opened) {
      g_Link.g_bConnected = 1;
    } else {
      CPortlane::CloseLocked();
    }
  }
  if (duplicate) ShowTopmostBox(Lang("已打开，不能重复打开！", "Opened, cannot open again!"));
  if (!opened) LogFailure(tag, StrFormat("打开卡 %d 失败", static_cast<int>(pid)));
  return opened;
}

bool ReadAndCheckCardVersion() {
  // The version settings, the command-number table and the sequence switch are read by the
  // exchanges and status texts of other threads under the command lock.
  CSyncGuard cmd(g_csCardCmd);
  CmdReply reply;
  CPortlane::SendCmdLocked(CMD_HW_VERSION, 0, 0, reply);
  g_SystemPara.nCardVersion = CardVersionOf(reply.r0());
  if (!g_SystemPara.CheckCardVersionCfg(g_SystemPara.nCardVersion)) return false;
  g_Link.g_bCmdSeqOn = static_cast<uint8_t>(g_SystemPara.bCmdWithNum != 0);
  return true;
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

namespace {

// Step 6 of the synchronisation: a card left waiting for the data of a flash write gives the write
// up (flag 0x20000); restored when it is idle afterwards.
bool FinishFlashWrite(const char* tag, const char* task) {
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

// The steps for a card that is not idle; `s` decoded as the card's version says, `full` with every
// field.
bool SyncSteps(const char* tag, const CardStatus& s, const CardStatus& full) {
  // A flash write cut off in its data phase is finished first, on every card: a card without
  // numbered commands reports the step of its flash operation too, and the marking check below
  // would leave it busy for good.
  if (const char* task = TaskName(full.cardTaskId); task && (full.runState & 2) && full.subState == 2)
    return FinishFlashWrite(tag, task);
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
  ReportFailure(tag, StrFormat(Lang("软件未正常关闭，板卡处于%s状态未完成，无法恢复！",
                           "The software did not shut down properly, and the board is in the %s state. It is "
                           "incomplete and cannot be restored!"),
                      task) +
                SubStateName(s.runState, s.subState));
  return false;
}

}  // namespace

bool CAdmin::SynSystemWithCard_() {
  const char* tag = "CAdmin::SynSystemWithCard_";
  uint32_t r0 = 0, r1 = 0;
  bool cmdWithNum = false;
  if (!ReadCardStatusWords(r0, r1, cmdWithNum)) return false;
  const CardStatus s = DecodeCardStatus(r0, r1, cmdWithNum);
  const CardStatus full = DecodeCardStatus(r0, r1, true);
  if (s.cardTaskId == 0 && s.runState == 0) return true;
  if (!SyncSteps(tag, s, full)) return false;
  // A host that ended in the middle of flash work leaves the areas it noticed as being rewritten
  // without their commit (a clean close commits every area): the card keeps them out of effect and
  // every job would ask about them. The commit of the close completes them.
  if (!FlashCmdWait(OP_COMMIT, OP_ARG_COMMIT_ALL)) throw MyException(RV_CARD_NOT_CONNECTED, 0);
  return true;
}

uint32_t SignalCardClose() {
  if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
  CSysTaskLock task(TASK_OFFLINE_MODE);
  if (task.Result() != 0) return task.Result();
  const bool done = FlashCmdWait(OP_COMMIT, OP_ARG_COMMIT_ALL);
  return (done && g_Link.g_bConnected) ? RV_OK : RV_CARD_NOT_CONNECTED;
}

uint32_t CloseCardRelease() {
  if (!g_Link.g_bConnected) {
    // Nothing is open for the host, but a link or mutex left from a failed open is let go.
    CPortlane::Close();
    return RV_CARD_NOT_CONNECTED;
  }
  const uint32_t claim = ConformSysIdleAndSetItBusy(TASK_CARD_CLOSING);
  if (claim != 0) {
    if (!g_Link.g_bConnected) CPortlane::Close();  // lost during the claim: let the link and mutex go
    return claim;
  }
  try {
    if (!OpenOnlyFlag()) SendCmdNoReply(CMD_SET_FLAG, 1, FLAG_OFFLINE);
  } catch (const MyException&) {
    CPortlane::Close();
    ReleaseSystem2Idle();
    throw;
  }
  CPortlane::Close();
  ReleaseSystem2Idle();
  return RV_OK;
}

uint32_t CountCards(void* a, void* b) {
  CSysTaskLock task(TASK_GET_CARDS_NO);
  if (task.Result() != 0) return task.Result();
  if (!PortlaneApi.bLoaded) return RV_CARD_NOT_CONNECTED;
  CSyncGuard cmd(g_csCardCmd);
  CSyncGuard buf(g_csCardBuf);
  PortlaneApi.QZ_GetCardsNo(a, b, 88);
  return RV_OK;
}

namespace {

// The steps of an open after the claim; false on any failure (its box or log line is shown).
bool OpenUnderClaim() {
  const char* tag = "QZ_InitCard";
  g_bCardSynced = 0;
  if (!OpenCardBigEvent()) return false;
  if (!ReadAndCheckCardVersion()) return false;
  if (OpenOnlyFlag()) return true;
  if (OpenCardVersion() < 0x30) {
    ShowTopmostBox(Lang("补丁为V3版本，卡不是V3版本，请配套使用",
                        "The patch is V3 version, the card is not V3 version, please use it together."));
    return false;
  }
  SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_OFFLINE);
  g_bCardSynced = CAdmin::SynSystemWithCard_() ? 1 : 0;
  if (!g_bCardSynced) return false;
  const uint16_t pid = g_SystemPara.CardLinkCfg.PID;
  if (ReadMainInt("HARDWARE", "PID_pre", 32768) != pid) {
    WriteMainCfgInt("HARDWARE", "PID_pre", pid);
    g_ErrorLog.Write(tag, LOG_INFO, "CardNo Change to %d", static_cast<int>(pid));
  }
  return true;
}

}  // namespace

uint32_t InitCard() {
  const char* tag = "QZ_InitCard";
  // The claim comes first: an open refused as busy (a job running, another task) touches nothing,
  // neither the link nor the card's mutex nor the settings the running task uses.
  if (ConformSysIdleAndSetItBusy(TASK_CARD_OPENING) != 0) return RV_CARD_NOT_CONNECTED;
  bool ok = false;
  try {
    ok = OpenUnderClaim();
  } catch (const MyException& e) {
    e.Show();
  } catch (const std::bad_alloc&) {
    ReportMemoryFailure(tag);
  } catch (const std::exception& e) {
    ReportUnexpectedFailure(tag, e.what());
  }
  if (!ok) {
    // A failed open lets the link and the card's mutex go, so that another process or a second try
    // can open the card.
    CPortlane::Close();
  }
  ReleaseSystem2Idle();
  return ok ? RV_OK : RV_CARD_NOT_CONNECTED;
}

void CommitCardAtClose() {
  try {
    SignalCardClose();
  } catch (const MyException&) {
    // A card lost while committing: closing goes on.
  }
}

uint32_t AcceptCardPara(uint32_t key) {
  if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
  CSysTaskLock task(TASK_CARD_INITIALIZING);
  if (task.Result() != 0) return task.Result();
  if (key == kCardParaKey) g_bParaAccepted = 1;
  return g_Link.g_bConnected ? RV_OK : RV_CARD_NOT_CONNECTED;
}

uint32_t ReadHdVer() {
  CmdReply reply;
  CPortlane::SendCmd(CMD_HW_VERSION, 0, 0, reply);
  return reply.r0();
}
