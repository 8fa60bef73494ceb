#pragma once
// The fixed word sequences that open and close the stream of a mark job. This holds the parts of
// the prologue and epilogue that need nothing beyond the stream itself (correction mode, the run
// and laser outputs, the laser start word, the end word); the scanner jumps, laser pulses, light-path
// requests and power resets join them with the scanner and laser subsystems.
#include <cstdint>

#include "mark/job_state.h"

void AppendMarkStartSeq() REQUIRES(g_MarkCall);
void AppendMarkEndSeq(uint32_t endArg, uint8_t bFromMarkEnd) REQUIRES(g_MarkCall);

// Moves the galvanometers to the rest position ([HARDWARE] MarkEnd_X/Y/Z) after a job that did not
// end successfully; mode 1 without firing the laser. The move is an immediate card command that
// comes with the immediate exports; until then the galvanometers stay where the job left them.
void MoveScannerToRest(int mode);
