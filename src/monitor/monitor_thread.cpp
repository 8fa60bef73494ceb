#include "monitor/monitor_thread.h"

#include "frame/worker_threads.h"
#include "platform/clock.h"

void MonitorThreadProc() {
  // The sampling and record reading of each round come with the monitoring subsystem.
  while (g_bStopThreads.load() == 0) plat::Sleep(10);
  g_bMonitorRunning.store(0);
}
