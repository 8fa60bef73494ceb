#pragma once
// The stuck-command watchdog thread's body.

// Runs until g_bStopThreads is set, then clears g_bCheckRunning.
void UsbCheckStock();
