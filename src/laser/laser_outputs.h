#pragma once
// Operations on every laser in use at once (the first nLaserCount entries of g_Laser and
// g_WaveHolder): a layer's delays, the enable and PA outputs of a job, the serial switch that mirrors
// output writes to the laser, the wave-number frames, zeroing the power, and the dot and polyline
// steps of the laser-module programs. Declared here for their callers (scanner sequences, layer
// switch, polylines, laser-module programs, the immediate output exports).
#include <cstdint>

#include "markbase/job_state.h"

namespace CLaserAll {
// Each laser's on/off delays from the layer's LaserTimingPara (the second field at laser on, the
// first at laser off), divided by nLaserDelayZoom, with their remainders in 48 MHz ticks
// (remainder x 48 / zoom, within 0..45; kept as they are with zoom 1). A layer outside 0..255: 6.
void LoadLayerDelays(int32_t layer) REQUIRES(g_MarkCall);
// For each laser with bEnableAtStart: its enable output set (1 µs, 1 µs pad), then the ready delay
// (dbReadyAfterEnableMS, whole µs, none when negative) and a NOP.
void EmitIoPulses() REQUIRES(g_MarkCall);
// The PA outputs of a job, as immediate card commands: bStart 1 at the buffer's start reads the
// outputs and keeps each laser's PA state; a PA output that was on is switched off for a job that
// fires the laser, one that was off is switched on for a job that does not; bStart 0 at the job's
// end switches it back. Each switch is what QZ_Output does (the output command, then the serial
// mirror below). Nothing for run mode 4, for a laser without a PA output (-1), nor at an end whose
// start saved nothing. A lost card: code 1.
void SetEnableOutputs(int bStart) REQUIRES(g_MarkCall);
// Mirrors an output write to the lasers that take their PA/MO outputs over the serial link, by the
// protocol [Uart] nSerialFor3YLPN2Red1CW0none, when `mask` is exactly that one output:
//   2, PA (bPaBySerial): AB CD FF 02 C9 s 00 00 00 00 00 (header, address, write, the PA register,
//      the state s 0/1, the frame filled to its 11 bytes);
//   1, MO (bMoBySerial): "EPM\r" for on, "DPM\r" for off.
// bImmediate 1 (QZ_Output): sent at once under UartLaserLock, so that no text query of another
// thread comes between the bytes (37 on a UART time-out, 1 for a lost card). 0 (QZ_MarkBufIO):
// listed into the job stream; only inside a mark call (else 27).
void SendSerialSwitchCmd(uint32_t mask, uint32_t value, int bImmediate);
// The shortest dot a laser fires: a dot lasts whole µs.
constexpr int32_t kMinPointMarkUs = 1;
// A dot on every laser: on at 0 and off at `time` µs (code 31 below kMinPointMarkUs, through the
// job's error path), the dot wave played at the scanner's mark speed. Returns the time, or -1 with
// no laser in use (nLaserCount below 1).
int32_t PointMarkAll(int32_t time) REQUIRES(g_MarkCall);
// Start and end of a polyline inside a laser-module program, each in a floor of its own: the
// galvanometer frame at 0, then per laser the on (off) sequence at its delay (at least 1 µs), with
// the start (end) wave. The segment is left closed (open) in the generator's view, so that the
// program's next step can open (close) its own.
void BeginLineAll() REQUIRES(g_MarkCall);
void EndLineAll(int bNoEndWave) REQUIRES(g_MarkCall);
}  // namespace CLaserAll

// What QZ_Output does, for every caller that switches outputs at once: the output command (mask,
// value), then the serial mirror of a PA or MO switch (SendSerialSwitchCmd with bImmediate 1). A
// lost card: code 1; a UART time-out: 37.
void OutputWithSerialMirror(uint32_t mask, uint32_t value);

// The wave-number frames (sent by the layer switch). The frames' words are built with times
// relative to the frame start, sorted by time (words of equal time keep the order they were built
// in), shifted to the floor clock and appended; a 1000 µs pause stands before and after them, and
// 0x51500001 ... 0x51500000 frame the whole.
//
// The fixed frame: six bytes on laser 0's analogue power output (0x29000000 | byte << 4), one every
// 100 µs from 50, each latched by output 31 50 µs later; output 24 gates the 650 µs of the frame.
void SendWaveNoFrameFixed(const uint8_t (&bytes)[6]) REQUIRES(g_MarkCall);
// The clocked frame on three outputs: gateBit set at 0 and cleared at (nClock + 1) x 100; clockBit
// rises at 100 (i + 1) and falls at 100 i + 150 for i < nClock; the nBytes bytes on dataBit, most
// significant bit first, bit k at 50 + 100 k, dataBit cleared 100 µs after the last bit. With
// nClock = 8 x nBytes each bit is held for the clock's rising edge, and where a clock falls at the
// time the data moves on, the clock's word comes first. bExtra adds 0x2B00000C before the frame and
// 0x2B000004 after it. A count below 0 counts as 0.
void SendWaveNoFrame(int32_t nBytes, int32_t nClock, uint32_t clockBit, uint32_t gateBit, uint32_t dataBit,
                     const uint8_t* bytes, int bExtra) REQUIRES(g_MarkCall);
// Sets every laser's power to 0 in the job stream (when [LASER] MarkEndResetDaToZero is set, or
// always with bOnlyIfConfigured 0).
void ZeroAllLaserPower(int bOnlyIfConfigured) REQUIRES(g_MarkCall);
