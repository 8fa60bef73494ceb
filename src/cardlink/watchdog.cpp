#include "cardlink/watchdog.h"

#include "frame/worker_threads.h"
#include "platform/clock.h"

void UsbCheckStock() {
  // The check for a command exchange that does not end comes with the watchdog subsystem.
  while (g_bStopThreads.load() == 0) plat::Sleep(10);
  g_bCheckRunning.store(0);
}
