#pragma once
// Host-side timing of a job. With [Main] bPrintTime 1 the five phases of a job (downPre, down,
// downAfter, mark, end) are measured and reported in the host's status text; the generation timing
// of the blocks (first and last block tick, longest gap) is always kept for the end statistics.
#include <cstdint>
#include <string>

enum PhaseId { PHASE_DOWN_PRE = 0, PHASE_DOWN = 1, PHASE_DOWN_AFTER = 2, PHASE_MARK = 3, PHASE_END = 4, PHASE_COUNT = 5 };

// The performance counter in milliseconds.
double NowMs();

class CPhaseTimer {
 public:
  // Zeroes every phase.
  void Reset();
  // "starts": start := now; "ends": total += now - start, only for a phase that was started. Both
  // only with bPrintTime 1.
  void Start(PhaseId p);
  void End(PhaseId p);
  double Total(PhaseId p) const { return phase[p][1]; }

  // Job start of the generation timing: every tick := now, gap 0.
  void StartJob(uint32_t tick);
  // Called by the block sender before it sends: the first call of a job ends downPre and starts
  // down; every call records the last block tick and the longest gap.
  void Switch(uint32_t tick);
  uint32_t FirstBlockSpan() const { return nFirstBlockTick - nStartTick; }
  uint32_t OtherBlockSpan() const { return nLastBlockTick - nFirstBlockTick; }

  double phase[PHASE_COUNT][2] = {};  // {start ms, accumulated ms}
  uint8_t bRunning[PHASE_COUNT] = {};  // started and not ended since
  uint8_t bFirstCall = 1;
  uint32_t nStartTick = 0;
  uint32_t nFirstBlockTick = 0;
  uint32_t nLastBlockTick = 0;
  uint32_t nMaxGapMs = 0;
};

extern CPhaseTimer g_PhaseTimer;

// Created at load.
void ResetPhaseTimer();
// Appends the phase report (with bPrintTime 1) to the host's status text.
void AppendTimingReport(std::string& text);
