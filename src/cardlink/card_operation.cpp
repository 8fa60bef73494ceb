#include "cardlink/card_operation.h"

#include "cardlink/card_cmd.h"
#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "platform/clock.h"

bool FlashWaitIdle(uint32_t op, uint32_t arg) {
  const uint32_t start = plat::TickMs();
  CmdReply status;
  for (;;) {
    CPortlane::SendCmd(CMD_STATUS, 0, 0, status);
    if ((status.r0() & 7u) == 0 || !g_Link.g_bConnected) return true;
    if (plat::TickMs() - start >= kFlashCmdWaitMs) {
      g_ErrorLog.Write("FlashCmdWait", LOG_ERROR, "operation %u (%x) not finished within %u ms", op, arg,
                       kFlashCmdWaitMs);
      return false;
    }
  }
}

bool FlashCmdWait(uint32_t op, uint32_t arg) {
  SendCmdNoReply(CMD_OPERATE, op, arg);
  return FlashWaitIdle(op, arg);
}

bool FlashCmdRead(uint32_t arg, CmdReply& reply) {
  if (!FlashCmdWait(OP_FLASH, arg)) return false;
  CPortlane::SendCmd(CMD_STATUS, 0, 0, reply);
  return true;
}

void NoticeCardInvalidPara(uint32_t bit) {
  g_InfoLog.Write("NoticeCardInvalidPara", LOG_INFO, "数据更新：%d", static_cast<int>(bit));
  SendCmdNoReply(CMD_SET_FLAG, 1u << (bit & 31u), FLAG_PARA_VALID);
}

namespace {

// The area's "not in effect" bit in the first status word.
bool AreaFailed(const CmdReply& status, int32_t area) {
  return ((status.r0() >> ((kAreaFlagShift + static_cast<uint32_t>(area)) & 31u)) & 1u) != 0;
}

}  // namespace

void FlushAndSuccess(uint32_t arg, int32_t areaA, int32_t areaB) {
  if (!FlashCmdWait(OP_COMMIT, arg)) throw MyException(RV_CARD_NOT_CONNECTED, 0);
  const bool check = g_SystemPara.bCmdWithNum == 1;
  CmdReply status;
  CPortlane::SendCmd(CMD_STATUS, 0, 0, status);
  if (check && AreaFailed(status, areaA)) throw MyException(RV_FLUSH_FAIL, 1);
  if (areaB != -1) {
    CPortlane::SendCmd(CMD_STATUS, 0, 0, status);
    if (check && AreaFailed(status, areaB)) throw MyException(RV_FLUSH_FAIL, 1);
  }
  g_InfoLog.Write("FlushAndSuccess", LOG_INFO, "数据更新成功");
}
