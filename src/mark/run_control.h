#pragma once
// Run control and job queries: stopping a job, pausing and continuing the card's run, the state of
// the run and the figures of the last job; the full flush that lets the card start running what it
// holds; and the 21-bit galvanometer codes of the immediate scanner move.
//
// Threads. Nothing here takes the mark-call guard: a stop comes from any host thread while another
// one is inside a mark call or waits in QZ_MarkEnd. The stop sets the job's atomic stop flag, which
// the job's thread reads between its steps, and sends the card its stop flag under the card-command
// lock. The job figures are atomics of the job state, written by the job's thread only and read here
// without a lock (job_state.h).
//
// Each export returns 1 when no card is connected at its start, else 0 when the card is still
// connected at its end and 1 when it was lost. A null out-pointer is refused with 2 before anything
// is sent.
#include <cstdint>

#include "markbase/job_state.h"

// QZ_Mark_Stop: the job's stop flag, then the card's stop flag (82 with (0, 4)).
uint32_t MarkStop();
// QZ_Control: a nonzero `first` sends 82 (0, 0x100), a nonzero `second` 82 (0, 0x80); with `state`
// the status is read (85) and *state := bit 9 of its first word. (0, 0, null) sends nothing.
uint32_t RunControl(uint32_t first, uint32_t second, uint32_t* state);
// QZ_GetMarkInfo: the status (85); *info := its second word with bits 0-7 cleared | bit 0 of its
// first word (the card is running).
uint32_t GetMarkInfo(uint32_t* info);
// QZ_GetMarkTime: the low 32 bits of the last job's stream time in µs; the card is not asked.
uint32_t GetMarkTime(uint32_t* time);
// QZ_GetMarkLineCnt: the marked segments of the current or the last job; the card is not asked.
uint32_t GetMarkLineCnt(uint32_t* count);

// The body of QZ_MarkFlush: requests the start of the card's run with the next block sent (once per
// job), then, unless the job is stopped or has failed, merges every floor down and sends every
// pending word, the last block padded; the last fly position put into the stream becomes the one
// flushed to the card. The job goes on afterwards: later words follow the flushed ones in time.
void FlushAllAndStartRun() REQUIRES(g_MarkCall);

// The 21-bit codes of a field position (mm) for the immediate scanner move with the new box method:
// (p + H) / (2H) x 2^21 with H the half range of the box correction, clamped to 0..2097151 and
// rounded to the nearest code, halves away from zero. A NaN coordinate gives the centre 1048576 (as
// the stream's conversions do); so does a half range that is not above 0 or not finite.
void FieldToCode21(double x, double y, int32_t& cx, int32_t& cy);
// The same for one coordinate with the half range `halfRange`.
int32_t FieldToCode21(double p, double halfRange);
