#pragma once
// The stuck-command watchdog thread's body.
//
// Every round (kWatchRoundMs) it compares the exchange counters of the command channel (issued,
// done) and reports an exchange that has been outstanding for a while: once, when the eighth round
// after kWatchStallMs passed sees it ("立即指令卡死 <elapsed ms> 8", INFO to the daily log, ERROR to
// the error log, and a topmost box when [Main] bMessageBoxUsbLongTime is set). A new exchange or the
// end of the outstanding one starts the count again.
//
// Each round also reads the card's hardware version, which keeps the channel busy while the card is
// idle. The read only tries the command lock: while another thread's exchange holds it (the very
// stall being watched) the round skips the read instead of waiting behind it.
#include <cstdint>

constexpr uint32_t kWatchRoundMs = 50;
constexpr uint32_t kWatchStallMs = 1500;
constexpr uint32_t kWatchReportRound = 8;
constexpr const char* kWatchSlotName = "立即指令卡死";

// The watch state of one slot.
struct WatchSlot {
  uint32_t lastIssued = 0;
  uint32_t since = 0;  // tick (ms) at which the current wait began
  uint32_t count = 0;  // rounds counted after the wait passed kWatchStallMs
};
// One round's decision over (issued, done, now): true when this round reports, with the elapsed ms.
bool WatchRound(WatchSlot& slot, uint32_t issued, uint32_t done, uint32_t now, uint32_t& elapsed);

// Runs until g_bStopThreads is set, then clears g_bCheckRunning.
void UsbCheckStock();
