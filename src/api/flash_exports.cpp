// Flash and offline exports: the user page and raw pages of the card's flash, the offline-file head,
// the offline download, the flash reset and the start of an offline document. Each one is a
// library-wide task; arguments that would send something wrong are refused with 2 before the claim.
#include <string>

#include "api/card_para_file.h"
#include "cardlink/card_cmd.h"
#include "cardlink/card_status.h"
#include "cardlink/portlane.h"
#include "cardlink/task_state.h"
#include "cardlink/task_table.h"
#include "flash/flash_pages.h"
#include "flash/off_file_download.h"
#include "flash/off_file_head.h"
#include "frame/card_version.h"
#include "frame/errors.h"
#include "frame/export_call.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "mark/crc16.h"
#include "platform/clock.h"
#include "qzmark.h"

namespace {

constexpr uint32_t kOffDocuments = 16;   // documents the card runs: 0..15
constexpr uint32_t kSpiAddressMax = 0xFFFFFF;  // a serial-flash address fills 24 bits of its word
constexpr int kAlarmOfflineFile = 12;          // the card's status bit: an offline file it could not read

bool Connected() { return g_Link.g_bConnected.load() != 0; }
uint32_t ResultAtEnd() { return Connected() ? RV_OK : RV_CARD_NOT_CONNECTED; }

// A page argument of the Addr exports: a NAND page of the 2048 blocks, or a serial-flash address
// that fits its field. Anything else would reach another page (or another table entry): 2, shown.
void CheckPage(int32_t page) {
  const uint32_t last = FlashIsSpiMap() ? kSpiAddressMax : kNandBlocks * kNandPagesPerBlock - 1;
  if (page < 0 || static_cast<uint32_t>(page) > last) throw MyException(RV_ERROR, 1);
}

// The body of a task export: claimed, run, released on every way out.
template <class Body>
uint32_t RunTask(uint32_t task, Body body) {
  CSysTaskLock claim(task);
  if (claim.Result() != RV_OK) return claim.Result();
  body();
  return ResultAtEnd();
}

uint32_t WritePage(const char* name, int32_t page, bool checkPage, const void* data, int32_t length) {
  return ExportCall(name, [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    if (!data && length > 0) return RV_ERROR;
    if (checkPage) CheckPage(page);
    return RunTask(TASK_PAGE_DOWN, [&] {
      FlashWritePage(static_cast<uint32_t>(page), static_cast<const uint8_t*>(data), length);
    });
  });
}

uint32_t ReadPage(const char* name, int32_t page, bool checkPage, void* data, int32_t length) {
  return ExportCall(name, [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    if (!data && length > 0) return RV_ERROR;
    if (checkPage) CheckPage(page);
    return RunTask(TASK_PAGE_UP, [&] { FlashReadPage(static_cast<uint32_t>(page), static_cast<uint8_t*>(data), length); });
  });
}

int32_t UserPage() { return static_cast<int32_t>(g_FlashAreaMap.nUserPage); }

}  // namespace

extern "C" QZ_API uint32_t QZ_STDCALL QZ_FlashWrite(const void* data, int32_t length) {
  return WritePage("QZ_FlashWrite", UserPage(), false, data, length);
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_FlashWriteAddr(int32_t page, const void* data, int32_t length) {
  return WritePage("QZ_FlashWriteAddr", page, true, data, length);
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_FlashRead(void* data, int32_t length) {
  return ReadPage("QZ_FlashRead", UserPage(), false, data, length);
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_FlashReadAddr(int32_t page, void* data, int32_t length) {
  return ReadPage("QZ_FlashReadAddr", page, true, data, length);
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetOffFileHead(unsigned char* head) {
  return ExportCall("QZ_SetOffFileHead", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    if (!head) return RV_ERROR;
    return RunTask(TASK_FILEHEADER_DOWN, [&] {
      OffFileHead table = OffFileHead::Load(head);
      UpdateOffFileHead(table);
      table.Store(head);
    });
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetOffFileHead(unsigned char** head) {
  return ExportCall("QZ_GetOffFileHead", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    if (!head || !*head) return RV_ERROR;
    return RunTask(TASK_FILEHEADER_UP, [&] { ReadOffFileHead(*head); });
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_DownLoadOffFile(const char* file, int32_t slot) {
  return ExportCall("QZ_DownLoadOffFile", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    if (!file) return RV_ERROR;
    g_InfoLog.Write("QZ_DownLoadOffFile", LOG_INFO, "%s %d", file, static_cast<int>(slot));
    return RunTask(TASK_FILE_DOWN, [&] {
      // A negative slot is no slot: nothing is written, like any other slot outside the list.
      if (slot >= 0) DownLoadOffFile(file, static_cast<uint32_t>(slot), true);
    });
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_ResetCardFlash(void) {
  return ExportCall("QZ_ResetCardFlash", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    return RunTask(TASK_CARD_FLASH_RESET, [] {
      ResetCardFlash([] { return FlushCardParaBlocks(); },
                     [](const uint8_t* data, uint16_t init) { return CalcCrc16(data, kStreamCrcPoly, init, 0, 0, 0); });
    });
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkOffDoc(uint32_t document) {
  return ExportCall("QZ_MarkOffDoc", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    g_InfoLog.Write("QZ_MarkOffDoc", LOG_INFO, "%u", document);
    return RunTask(TASK_OFFLINE_MARKING, [&] {
      if (document >= kOffDocuments) return;
      SendCmdNoReply(CMD_OPERATE, OP_START_RUN, document | OP_ARG_OFFLINE_DOC);
      // A document may run for hours: the wait ends when the card is idle, stopped (QZ_Mark_Stop
      // from another thread stops its run) or lost (the status exchange throws code 1).
      CmdReply reply;
      for (;;) {
        CPortlane::SendCmd(CMD_STATUS, 0, 0, reply);
        if ((reply.r0() & 7) == 0) break;
        plat::Sleep(1);
      }
      // A document the card could not read (an empty slot, a page that fails its check) ends with
      // the card's offline-file alarm: the run failed.
      const CardStatus ended = DecodeCardStatus(reply.r0(), reply.r1(), g_SystemPara.bCmdWithNum == 1);
      if (ended.bAlarm[kAlarmOfflineFile]) {
        CardStatus only;
        only.bAlarm[kAlarmOfflineFile] = 1;
        std::string text;
        FormatCardAlarm(only, text);
        LogFailure("QZ_MarkOffDoc", text);
        throw MyException(RV_MARK_FAIL, 0);
      }
    });
  });
}
