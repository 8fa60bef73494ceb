#pragma once
// The scanner sequences of a mark job: the prologue and epilogue of its stream (correction mode, run
// and laser outputs, jumps, pulses, light-path requests, power resets, the end word) and the dot
// list. The scanner's own steps (jump parameters, jumps) are members of CScan (calibration/scan.h).
//
// Prologue (the first mark-list call of a job, AppendMarkStartSeq), on the main stream, each step
// 1 µs after the one before unless said otherwise:
//   - with 21-bit codes the correction mode 0x04000000 | ([SCAN] bCardNotGridel & 1) << 1 | 1 in a
//     job that does not fire the laser;
//   - the jump to the rest position ([HARDWARE] MarkEnd_X/Y) when QZ_MarkStart's start position flag
//     is 0 or rotation marking is on;
//   - output 0 set (0x20001001) with [OTHER] bOut0IsRun, else a NOP;
//   - a jump to the current position, so that the card knows where the scanner is;
//   - in a job that fires the laser 0x15000001 and the enable outputs of the lasers set once per job
//     with their ready delays;
//   - energy splitting (OSS_TYPE 4..6: its trigger output, 3: its ready output): that output
//     cleared, 5 ms, and the wait "等待能分SynTrig释放";
//   - the light-path request of an optical switch.
// Epilogue (QZ_MarkEnd and the whole-job runners, AppendMarkEndSeq):
//   - the PA-no-cus output of each laser that has one (or a manual PA) cleared;
//   - each laser's idle pulse timing ([LASER] nPrePwmH/L; fibre lasers after 1 ms [FIBER]
//     nIdlePwmH/L with a pause of nPrrBeforeMoPaUS) and its pulses stopped;
//   - output 1 cleared (0x20002000) with [OTHER] bOut1IsLaser, else a NOP;
//   - after QZ_MarkEnd with fly marking still switched on (mark_flow.h): fly off (0x64000000,
//     0x51638040, a NOP 1 µs after each) and a jump to the rest position;
//   - with 21-bit codes on a PCIe card without a secondary card, 0x71000000;
//   - the energy-splitting output cleared (5 ms pad), the optical switch's request output cleared
//     (1 ms before and after; not in a job without laser under nRedModeNoOss 1);
//   - the enable output of each laser that has one cleared 5 ms later;
//   - the power of every laser set to 0 (after QZ_MarkEnd only with MarkEndResetDaToZero);
//   - LASER_TYPE 2 and 6: output 31 cleared (0x22200000);
//   - the scanner back to the rest position: always from a whole-job runner or with [Main] wob; after
//     QZ_MarkEnd, when its argument is 0 or rotation marking is on, an interpolated jump there unless
//     the scanner is there already;
//   - in a job that fires the laser with 21-bit codes, the correction end 0x04000001 | g << 1 and a
//     jump to the current position;
//   - with wob, outputs 5 and 6 cleared (0x20020000, 0x20040000; a NOP 1 µs after each);
//   - output 0 cleared (0x20001000) with bOut0IsRun, else a NOP; the end word 0x51100001; a NOP 1 µs
//     later.
// Steps that belong to subsystems not in this library yet (the optical switch programs' output
// reset, the monitoring records) are named where they go.
#include <cstdint>

#include "markbase/job_state.h"

void AppendMarkStartSeq() REQUIRES(g_MarkCall);
void AppendMarkEndSeq(uint32_t endArg, uint8_t bFromMarkEnd) REQUIRES(g_MarkCall);

// Bytes of one point of a dot list or a polyline in the host's memory: x, y and a third real.
constexpr uint32_t kHostPointBytes = 24;
// The dot list's refusals, before anything is written, in this order: a null point array with a
// positive count 2; a coordinate that is not a finite number 7; a dot time of +infinity 7, one below
// 0.99 µs, or not a number, 31; dots while rotation marking is on 18; a layer at or above 256 6; a
// coordinate beyond the field's reach (WithinFieldReach, calibration/galvo_stream.h) 2; dots (n above
// 0) of a time below 1 µs 31, as the lasers would refuse the first of them (a dot lasts the whole
// µs of its time). An empty list of 0.99 µs applies its layer. 0 when the list can be marked.
uint32_t CheckDotList(const uint8_t* points, int32_t n, uint32_t layer, double dotTime) REQUIRES(g_MarkCall);
// The dot list of QZ_MarkDot: `points` holds n records of three reals {x, y, third} (the third is
// not read), read from the host's memory by offset. The layer is applied (dot mode); then for each
// point: the optical switch's request (OSS_TYPE 2), a jump when the point is not where the scanner
// is, the scanner feedback wait ([SCAN] bCloseFeedback with the card's feedback wait), the light path,
// the dot on every laser (on at 0, off after trunc(dot time) µs, the dot wave), the path released.
// The loop ends early, without an error, when the job is stopped or has failed. A list CheckDotList
// refuses fails the job with that code (ThrowMarkError: the arguments logged under "QZ_MarkDot", the
// code's text shown once, the card's run stopped) before anything is written. 0.
uint32_t MarkDotList(const uint8_t* points, int32_t n, uint32_t layer, double dotTime) REQUIRES(g_MarkCall);

// The reset of QZ_MarkInitScanLaser: every laser in use without a layer, with its delays applied and
// no segment open, its next power always sent; the scanner at the field centre (a direct jump to 0, 0).
void MarkInitScanLaserReset() REQUIRES(g_MarkCall);

// Moves the galvanometers to the rest position ([HARDWARE] MarkEnd_X/Y/Z) after a job that did not
// end successfully, as an immediate move (mark/scan_move.h) that waits until they stopped; mode 1
// without firing the laser. A failure of the move is reported and does not change the job's end.
void MoveScannerToRest(int mode) REQUIRES(g_MarkCall);
