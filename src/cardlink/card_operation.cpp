#include "cardlink/card_operation.h"

#include "cardlink/card_cmd.h"
#include "cardlink/portlane.h"
#include "frame/log_file.h"
#include "platform/clock.h"

bool FlashCmdWait(uint32_t op, uint32_t arg) {
  SendCmdNoReply(CMD_OPERATE, op, arg);
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
