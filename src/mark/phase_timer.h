#pragma once
// Host-side timing of a job. With [Main] bPrintTime 1 the five phases of a job (downPre, down,
// downAfter, mark, end) are measured and reported in the host's status text; the generation timing
// of the blocks (first and last block tick, longest gap) is always kept for the end statistics.
//
// Threads. QZ_MarkStart starts the timer before its claim and QZ_MarkEnd ends phases after the task
// was released, while QZ_GetWaitInfo on another host thread reads the totals: the phases are guarded
// by the timer's own lock, taken alone (only a log's lock could follow). The generation timing is
// written and read only by the job's own calls (the block sender and the end statistics).
#include <array>
#include <cstdint>
#include <string>

#include "cardlink/card_locks.h"
#include "platform/lock.h"

enum PhaseId { PHASE_DOWN_PRE = 0, PHASE_DOWN = 1, PHASE_DOWN_AFTER = 2, PHASE_MARK = 3, PHASE_END = 4, PHASE_COUNT = 5 };

// The performance counter in milliseconds.
double NowMs();

class CPhaseTimer {
 public:
  // Zeroes every phase.
  void Reset() EXCLUDES(cs_);
  // "starts": start := now; "ends": total += now - start, only for a phase that was started. Both
  // only with bPrintTime 1.
  void Start(PhaseId p) EXCLUDES(cs_);
  void End(PhaseId p) EXCLUDES(cs_);
  // The accumulated ms of every phase, read together.
  std::array<double, PHASE_COUNT> Totals() const EXCLUDES(cs_);
  double Total(PhaseId p) const { return Totals()[p]; }

  // Job start of the generation timing: every tick := now, gap 0.
  void StartJob(uint32_t tick);
  // Called by the block sender before it sends: the first call of a job ends downPre and starts
  // down; every call records the last block tick and the longest gap.
  void Switch(uint32_t tick);
  uint32_t FirstBlockSpan() const { return nFirstBlockTick - nStartTick; }
  uint32_t OtherBlockSpan() const { return nLastBlockTick - nFirstBlockTick; }

  uint8_t bFirstCall = 1;
  uint32_t nStartTick = 0;
  uint32_t nFirstBlockTick = 0;
  uint32_t nLastBlockTick = 0;
  uint32_t nMaxGapMs = 0;

 private:
  mutable plat::Lock cs_ ACQUIRED_AFTER(g_csCardBuf);
  double phase[PHASE_COUNT][2] GUARDED_BY(cs_) = {};  // {start ms, accumulated ms}
  uint8_t bRunning[PHASE_COUNT] GUARDED_BY(cs_) = {};  // started and not ended since
};

extern CPhaseTimer g_PhaseTimer;

// Created at load.
void ResetPhaseTimer();
// Appends the phase report (with bPrintTime 1) to the host's status text.
void AppendTimingReport(std::string& text);
