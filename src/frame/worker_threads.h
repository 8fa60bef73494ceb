#pragma once
// The library's two background threads: the monitor thread and the stuck-command watchdog.
//
// Both start together with the parameter file when the monitor is not running, and both end when
// the common stop flag is set (card closing, library unload). The thread objects are kept here and
// joined, never detached; their bodies come from the subsystems that own them (the monitor, the
// card link's watchdog), handed over by the start-up.
#include <atomic>
#include <cstdint>

// Set to ask both threads to end.
extern std::atomic<uint8_t> g_bStopThreads;
// 1 from just before a thread is created until its body ends (cleared by the body itself, or
// here when the thread could not be created).
extern std::atomic<uint8_t> g_bMonitorRunning;
extern std::atomic<uint8_t> g_bCheckRunning;

// When the monitor is not running: clear the stop flag, set g_bMonitorRunning and start the
// monitor thread, set g_bCheckRunning and start the watchdog thread. Threads left over from an
// earlier start are stopped and joined first. When the monitor runs, nothing is started.
void StartWorkerThreads(void (*monitorBody)(), void (*watchdogBody)());
// Sets the stop flag and joins both threads (returns at once when none was started).
void StopWorkerThreads();
