#include "frame/worker_threads.h"

#include "platform/lock.h"
#include "platform/thread.h"

std::atomic<uint8_t> g_bStopThreads{0};
std::atomic<uint8_t> g_bMonitorRunning{0};
std::atomic<uint8_t> g_bCheckRunning{0};

namespace {

// Guards the two thread objects against a start and a stop on two host threads at once.
plat::Lock g_threadsLock;
plat::Thread g_monitorThread GUARDED_BY(g_threadsLock);
plat::Thread g_checkThread GUARDED_BY(g_threadsLock);

void JoinBoth() REQUIRES(g_threadsLock) {
  g_monitorThread.Join();
  g_checkThread.Join();
}

// Keeps the thread objects' destruction (a join) from running with the stop flag clear at unload.
struct ThreadsAtUnload {
  ~ThreadsAtUnload() { StopWorkerThreads(); }
} g_threadsAtUnload;

}  // namespace

void StartWorkerThreads(void (*monitorBody)(), void (*watchdogBody)()) {
  plat::LockGuard g(g_threadsLock);
  if (g_bMonitorRunning.load() != 0) return;

  // A watchdog still running after its monitor failed to start, or threads that ended but were
  // not joined yet: end and join them before the objects are reused.
  if (g_monitorThread.Running() || g_checkThread.Running()) {
    g_bStopThreads.store(1);
    JoinBoth();
  }

  g_bStopThreads.store(0);
  g_bMonitorRunning.store(1);
  if (!g_monitorThread.Start(monitorBody)) g_bMonitorRunning.store(0);
  g_bCheckRunning.store(1);
  if (!g_checkThread.Start(watchdogBody)) g_bCheckRunning.store(0);
}

void StopWorkerThreads() {
  // At the end of the process the system has ended both threads, maybe while a host thread held
  // the lock: nothing is left to stop.
  if (plat::ProcessEnding()) return;
  plat::LockGuard g(g_threadsLock);
  g_bStopThreads.store(1);
  JoinBoth();
}
