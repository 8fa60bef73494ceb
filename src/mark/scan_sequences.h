#pragma once
// The scanner sequences of a mark job: the prologue and epilogue of its stream (correction mode, run
// and laser outputs, jumps, pulses, light-path requests, power resets, the end word) and the dot
// list. The scanner's own steps (jump parameters, jumps) are members of CScan (calibration/scan.h).
#include <cstdint>

#include "mark/job_state.h"

void AppendMarkStartSeq() REQUIRES(g_MarkCall);
void AppendMarkEndSeq(uint32_t endArg, uint8_t bFromMarkEnd) REQUIRES(g_MarkCall);
// The dot list of QZ_MarkDot: `points` holds n records of three reals {x, y, third} (the third is
// not read), read from the host's memory by offset. 0.
uint32_t MarkDotList(const uint8_t* points, int32_t n, uint32_t layer, double dotTime) REQUIRES(g_MarkCall);

// Moves the galvanometers to the rest position ([HARDWARE] MarkEnd_X/Y/Z) after a job that did not
// end successfully; mode 1 without firing the laser. The move is an immediate card command that
// comes with the immediate exports; until then the galvanometers stay where the job left them.
void MoveScannerToRest(int mode);
