#pragma once
// The monitor thread's body.

// Runs until g_bStopThreads is set, then clears g_bMonitorRunning.
void MonitorThreadProc();
