#include "cardlink/watchdog.h"

#include <string>

#include "cardlink/card_locks.h"
#include "cardlink/portlane.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "frame/worker_threads.h"
#include "platform/clock.h"

namespace {

constexpr uint32_t kStopCheckMs = 10;

void Report(uint32_t elapsed) {
  const std::string text =
      StrFormat("%s %d %d", kWatchSlotName, static_cast<int>(elapsed), static_cast<int>(kWatchReportRound));
  g_InfoLog.WriteText("UsbCheckStock", LOG_INFO, text);
  g_ErrorLog.WriteText("UsbCheckStock", LOG_ERROR, text);
  if (g_SystemPara.bMessageBoxUsbLongTime) ShowTopmostBox(text);
}

// The hardware version read of a round, skipped while the command lock is held elsewhere.
void PollCard() {
  if (!g_Link.g_bConnected) return;
  if (!g_csCardCmd.try_lock()) return;
  CmdReply reply;
  const uint32_t rc = g_Link.g_bConnected ? CPortlane::SendCtrlCmd(CMD_HW_VERSION, 0, 0, reply) : 0;
  g_csCardCmd.unlock();
  // A failed read is the loss of the card, as for every exchange.
  if (rc != 0) CPortlane::ReturnV(rc);
}

}  // namespace

bool WatchRound(WatchSlot& slot, uint32_t issued, uint32_t done, uint32_t now, uint32_t& elapsed) {
  elapsed = 0;
  if (issued == slot.lastIssued && issued != done) {
    elapsed = now - slot.since;
    if (elapsed < kWatchStallMs + 1) return false;
    const bool report = slot.count == kWatchReportRound;
    slot.count += 1;
    return report;
  }
  slot.lastIssued = issued;
  slot.count = 0;
  slot.since = now;
  return false;
}

void UsbCheckStock() {
  WatchSlot slot;
  while (g_bStopThreads.load() == 0) {
    try {
      uint32_t elapsed = 0;
      if (WatchRound(slot, g_Link.g_nCmdIssued.load(), g_Link.g_nCmdDone.load(), plat::TickMs(), elapsed))
        Report(elapsed);
      PollCard();
    } catch (...) {
      // A failure of one round (a log or box that could not be written) never ends the watch.
    }
    for (uint32_t t = 0; t < kWatchRoundMs && g_bStopThreads.load() == 0; t += kStopCheckMs)
      plat::Sleep(kStopCheckMs);
  }
  g_bCheckRunning.store(0);
}
