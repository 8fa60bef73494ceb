#pragma once
// The monitor thread: while a card is open it reads the card's io debug records (up to 100 a pass),
// keeps the measured record of the running task's laser segments, feeds the laser-state and
// analogue lists, and samples the outputs and the galvanometer position into the monitor log.
//
// One cycle ([Main] keys): with bRecordInThread 1 a pass of io records; with bRecordCheck 1 the
// monitor words are flushed by the hour rule, then the outputs (command 34) and the position
// (command 6) are sampled when they changed; then nRecordSleep ms of sleep (a negative value sleeps
// 2 ms and is logged; the sleep watches the stop flag in 10 ms slices, so a close returns promptly).
// With both switches 0 the thread sends no command. Leaving the loop flushes both word vectors.
//
// The device clocks (µs and ms since the card's task started, from the records' dt in 48 MHz
// ticks), the word vectors and the measured record belong to this thread alone.
#include <cstdint>
#include <vector>

#include "cardlink/card_locks.h"
#include "platform/clock.h"

struct IoDebugRecord {
  uint32_t kind = 0;
  uint32_t dt = 0;
  uint32_t value = 0;
};

extern double g_dbDeviceUs;
extern double g_dbDeviceMs;
extern std::vector<uint32_t> g_vecIoWords;
extern std::vector<uint32_t> g_vecMonitorWords;

// The thread's body: runs until g_bStopThreads is set, then clears g_bMonitorRunning.
void MonitorThreadProc();

// The pieces of the body, for a test that drives the thread under a fake clock.
void MonitorThreadBegin();
void MonitorCycle() EXCLUDES(g_csCardCmd);
void MonitorThreadEnd();
// Everything the monitor keeps back to its state at load: clocks, word vectors, last samples and
// bits, both records, the lists and the comparison queue.
void ResetMonitorState();

// One pass of up to 100 io debug records; stops at the first read that gives none.
void ReadIoDebugRecords() EXCLUDES(g_csCardCmd);
// What the pass does with one record.
void HandleIoDebugRecord(const IoDebugRecord& r);
// After a pass: the io log is written when it holds words and the last flush lies over 3 s back.
void AfterIoDebugPass();
void PushMonitorWord(uint32_t kind, uint32_t msOfHour, uint32_t value);
// The galvanometer position codes (command 6 (2, 0)): 0, 1 without a card or when it was lost, or
// the code of a failure (reported as the exports report theirs, tag "GetScanPos").
uint32_t ReadScanPosCodes(uint32_t* x, uint32_t* y) EXCLUDES(g_csCardCmd);
