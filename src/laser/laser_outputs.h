#pragma once
// Operations on every laser in use at once (the first nLaserCount entries of g_Laser and
// g_WaveHolder): a layer's delays, the enable and PA outputs of a job, the serial switch that mirrors
// output writes to the laser, the wave-number frames, zeroing the power, and the dot and polyline
// steps of the laser-module programs. Declared here for their callers (scanner sequences, layer
// switch, polylines, laser-module programs, the immediate output exports).
#include <cstdint>

#include "mark/job_state.h"

namespace CLaserAll {
// Each laser's on/off delays from the layer's LaserTimingPara, divided by nLaserDelayZoom, with
// their remainders in 48 MHz ticks (at most 45).
void LoadLayerDelays(int32_t layer) REQUIRES(g_MarkCall);
// For each laser with bEnableAtStart: its enable output set, then the ready delay on the stream.
void EmitIoPulses() REQUIRES(g_MarkCall);
// The PA outputs of a job (immediate card commands): bStart 1 at the buffer's start, 0 at the job's
// end. Not for run mode 4, nor for a laser without a PA bit.
void SetEnableOutputs(int bStart) REQUIRES(g_MarkCall);
// Mirrors an output write to the lasers that take their PA/MO outputs over the serial link:
// immediately (bImmediate 1, QZ_Output) or into the job stream (0, QZ_MarkBufIO).
void SendSerialSwitchCmd(uint32_t mask, uint32_t value, int bImmediate);
// A dot on every laser: on at 0 and off at `time` µs (code 31 below 0.99), the dot wave played.
// Returns the time, or -1 with no laser in use.
int32_t PointMarkAll(int32_t time) REQUIRES(g_MarkCall);
// Start and end of a polyline inside a laser-module program.
void BeginLineAll() REQUIRES(g_MarkCall);
void EndLineAll(int bNoEndWave) REQUIRES(g_MarkCall);
}  // namespace CLaserAll

// The wave-number frames (sent by the layer switch).
void SendWaveNoFrameFixed(const uint8_t (&bytes)[6]) REQUIRES(g_MarkCall);
void SendWaveNoFrame(int32_t nBytes, int32_t nClock, uint32_t clockBit, uint32_t gateBit, uint32_t dataBit,
                     const uint8_t* bytes, int bExtra) REQUIRES(g_MarkCall);
// Sets every laser's power to 0 in the job stream (when [LASER] MarkEndResetDaToZero is set, or
// always with bOnlyIfConfigured 0).
void ZeroAllLaserPower(int bOnlyIfConfigured) REQUIRES(g_MarkCall);
