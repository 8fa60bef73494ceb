#pragma once
// The layer switch: what a figure does when it starts on a layer (pen): the layer's delays and jump
// parameters, then the layer's pulse timing, power, wave number, Z position and analogue power in
// the order of their lead times, and the layer's power waves. The last values sent are kept per job
// (reset by the job start), so an unchanged value is not sent again.
#include <cstdint>

#include "mark/job_state.h"

namespace CMarkGen {
// Applies `layer` (0..255; 6 otherwise) for a figure; mode 0 polylines, 1 dots (passed to the wave
// holders).
void ApplyLayer(uint32_t layer, uint32_t mode) REQUIRES(g_MarkCall);
// Sends the wave number stored by the last ApplyLayer.
void SendWaveNumber() REQUIRES(g_MarkCall);
// The job start's reset of the last-sent values.
void ResetForJob() REQUIRES(g_MarkCall);
}  // namespace CMarkGen

namespace CLaserAll {
// SelectLayer on every laser in use.
void SelectLayerAll(uint32_t layer) REQUIRES(g_MarkCall);
}  // namespace CLaserAll
