#pragma once
// The layer switch: what a figure does when it starts on a layer (pen): the layer's delays and jump
// parameters, then the layer's pulse timing, power, wave number, Z position and analogue power in
// the order of their lead times, and the layer's power waves. The last values sent are kept per job
// (reset by the job start), so an unchanged value is not sent again.
//
// The schedule. Each change must reach the card its lead time before the layer takes effect (a
// power change settles longer than a pulse-timing change). ApplyLayer runs the changes longest lead
// first, in this order for equal leads:
//   power of laser 0     [LASER] nDaOutBeforeLaserMS x 1000 µs
//   power of laser 1     the same (two-laser types only)
//   analogue power       50000 µs (LASER_TYPE 3 only)
//   Z position           50000 µs ([SCAN] bHaveScanZ 1 only)
//   pulse timing         [LASER] nPrrBeforeMoPaUS µs
//   wave number          [LASER] ChangeWaveNoDelay_ms x 1000 µs
//   the layer's moment   0
// and, once one of them has written a word, advances the stream by the difference of two
// neighbouring leads after each, so that every change lands its lead before the moment. A lead from
// the configuration is taken within 0..2^31-1 µs (a negative one as 0): the stream clock never goes
// back and the moment stays last.
//
// Words:
//   analogue power  0x29020000 | p x 4095 / 100, p the pen's power in percent clamped to 0..100
//                   before it enters the word (a host's 150 % or -5 % cannot spill into the
//                   channel field), 20 µs after the clock, a NOP 20 µs later; sent when the
//                   pen's percent as given (not clamped) differs from the last one sent;
//   Z position      code = (Z field / 2 + z) x 65535 / Z field, truncated and clamped to 0..65535;
//                   0x01800000 | code with 21-bit codes, else 0x01020000 | code (0x01060000 in a job
//                   that does not fire the laser), spaced like the analogue power;
//   wave number     SendWaveNumber.
//
// A layer at or above 256 is refused with 6 before anything is read, written or changed.
#include <cstdint>

#include "markbase/job_state.h"

namespace CMarkGen {
// Set by a task label of the job (the small-task step); the next ApplyLayer clears it and first
// resets the lasers and the scanner and jumps to the field centre, as QZ_MarkInitScanLaser does.
extern uint8_t bSmallTaskPending GUARDED_BY(g_MarkCall);

// Applies `layer` for a figure; mode 0 polylines, 1 dots (passed to the wave holders).
void ApplyLayer(uint32_t layer, uint32_t mode) REQUIRES(g_MarkCall);
// Sends the wave number stored by the last ApplyLayer, as [LASER] nWaveNoLock says:
//   a pause of ChangeWaveNoDelay_ms x 100 µs first (a NOP), then
//   1  the number on parallel outputs: one output word for nWaveNoMask << nWaveNoBit0IO, 1 µs after
//      the pause, a NOP 1 µs later (no strobe pulse follows: no output is configured for one);
//   2  a serial frame, only in a job that fires the laser, by [LASER] LASER_IPG100W_TYPE:
//      2  {0xA5, 0x06, n} clocked on output 23, gated by 24, data on 25;
//      1  {0xA5, 0x01, n >> 8, n} clocked on output 25, gated by 19, data on 24;
//      3  the six bytes {0xA5, 0x06, n >> 8, n, 0x00, 0x5A} on the analogue power output;
//      other kinds send nothing;
//   3  the stream word 0x28000000 | (n & 0xFF);
//   then a NOP 10 µs later.
void SendWaveNumber() REQUIRES(g_MarkCall);
// The job start's reset of the last-sent values (wave number -2, analogue power -1, Z -1000000 mm)
// and of the small-task flag.
void ResetForJob() REQUIRES(g_MarkCall);
}  // namespace CMarkGen

namespace CLaserAll {
// The layer without lead times, for the inside of an upper floor: delays, jump parameters, the power
// of every wave holder (vector mode), the pulse timing of every laser. 6 for a layer at or above 256.
void SelectLayerAll(uint32_t layer) REQUIRES(g_MarkCall);
}  // namespace CLaserAll
