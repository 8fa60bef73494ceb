#pragma once
// The galvanometer step encoders: straight moves interpolated into X/Y position words, one pair per
// BASETIME µs, on the galvanometer channel (ch0) of the current floor, with the jump and corner
// settling waits. The scanner sequences, the polyline generator and the laser-module programs call
// them inside a mark call; they advance the scanner's stream state (g_Scan.dbCurX/Y, dbPrevX/Y).
//
// Clocks. The galvanometer channel runs on its own clock, the floor's galvanometer clock, beside the
// floor clock of the main stream; with the line start and end times that bound the current laser
// segment it is one of the floor's three line times (reset to 0 with the floor). All of them are
// signed 64-bit µs.
//
// Words. 16-bit codes (bNewBoxCali 0): code = (p + F/2) x 65535 / F with F the field size of the
// axis, clamped to 0..65535 and truncated when written; X 0x01000000 | code, Y 0x01010000 | code in a
// job that fires the laser (bLaserJob), 0x01040000 / 0x01050000 | code in one that does not. 21-bit
// codes (bNewBoxCali 1): code = (p + R) / 2R x 2^21 with R the half range of the box correction,
// clamped to 0..2097151 and rounded when written; X 0x01000000 | code, Y 0x01400000 | code, lit or
// not. Positions outside the field are clamped like that, never refused.
//
// A move of n steps pushes a NOP at the galvanometer clock, then advances the clock by BASETIME per
// step and writes the pair of the interpolated position. The last step lands exactly on the end
// point's codes (no rounding drift of the running sum). To keep the stream short:
//   16-bit  a move whose increment is below 0.2 code per step on both axes (slow move) writes the pair
//           of its first and last steps and of every step where a truncated code changed; so does a
//           move whose ends clamp to the same codes at the field's edge;
//   21-bit  a pair is written when a code moved at least 6.4 codes from the last written pair; the
//           last step writes its pair in any case (without counting as written, see bWrote).
// The loop ends early, without an error, when the job is stopped or has failed; the current position
// still becomes the end point.
//
// Refusals, before anything is written or changed, through the job's error path (ThrowMarkError):
//   7  a position that is not a finite number, or a step count that is not a finite number that fits
//      the 32-bit step counter (a NaN speed or distance, a move of absurd length);
//   2  a speed not above 0 (for the accelerated move: a negative start or end speed, or both 0), or a
//      BASETIME not above 0.
// A jump is not refused for its speed: a jump speed not above 0, or not a number (a pen whose jump
// parameters were never loaded has 0), moves in one step.
#include <cstdint>

#include "calibration/scan.h"
#include "markbase/job_state.h"

// The floor's line times: the galvanometer clock, and the start and end of the current segment.
constexpr int kLineTimeGalvoClock = 0;
constexpr int kLineTimeStart = 1;
constexpr int kLineTimeEnd = 2;
int64_t& GalvoClock();
int64_t& LineStartTime();
int64_t& LineEndTime();

// Galvanometer position words.
uint32_t GalvoWordX16(int32_t code, bool lit);
uint32_t GalvoWordY16(int32_t code, bool lit);
uint32_t GalvoWordX21(int32_t code);
uint32_t GalvoWordY21(int32_t code);

// Distance in mm between two points.
double FieldDistance(FieldPoint a, FieldPoint b);
// The steps of a move of `distance` mm at `speed` mm/µs: trunc(distance / (BASETIME x speed) + 0.99),
// at least 1. Refuses (7, 2) as above.
int32_t MoveStepCount(double distance, double speed) REQUIRES(g_MarkCall);
// The steps of a jump: as MoveStepCount, but one step when the speed is not above 0 or not a number.
int32_t JumpStepCount(double distance, double speed) REQUIRES(g_MarkCall);

// The reach of the positions the mark list takes in mm: each coordinate at most its axis's whole
// field size from the centre (16-bit codes: the calibration field sizes X and Y; 21-bit codes: 2R,
// the range of their codes). Positions between the field's edge and this reach are clamped to the
// edge; farther ones are refused by the members (2), so that a move is never planned over a distance
// the scanner cannot travel while its codes stand still at the edge. NaN is never within reach.
bool WithinFieldReach(double x, double y);
// A position beyond that reach fails the job with 2 (ThrowMarkError), the position logged under `tag`.
void RequireFieldReach(const char* tag, double x, double y) REQUIRES(g_MarkCall);

// Moves from `from` to `to` in `steps` steps (a count below 1 is one step); `from` becomes `to`.
// bWrote: 16-bit always 1; 21-bit 1 when a pair was written under the 6.4-code rule.
void StreamVector(FieldPoint& from, FieldPoint to, int32_t steps, uint8_t& bWrote) REQUIRES(g_MarkCall);
// The accelerated move of the laser-module programs (21-bit codes only): from start speed vs to end
// speed ve (mm/µs) at constant acceleration, in whole BASETIME steps (at least one) that together take
// T = trunc(D / (mean speed x BASETIME) + 0.99) x BASETIME µs, D the distance in codes; the same 6.4
// rule. A move of no distance in codes (D 0: no time and no acceleration) is its opening NOP alone:
// no pair, the clock unchanged. Without bNewBoxCali it writes nothing and only moves `from` to `to`
// (a `to` that is not finite is refused all the same).
void StreamVector21(FieldPoint& from, FieldPoint to, uint8_t& bWrote, double vs, double ve) REQUIRES(g_MarkCall);
// Moves from the current position to p at `speed`; the number of steps when a pair was written under
// bWrote, else 0.
int32_t StreamMoveTo(FieldPoint p, double speed) REQUIRES(g_MarkCall);
// Jumps from the current position to p at `speed` (the previous position is kept in dbPrevX/Y), then
// waits the jump delay: nJumpDelayMax from nLongJumpLen mm on, else between nJumpDelayMin (length 0)
// and nJumpDelayMax in proportion to the length, rounded to a multiple of 10 µs (5 up). Returns the
// delay; one that is not above 0 writes no wait.
int64_t StreamJumpTo(FieldPoint p, double speed) REQUIRES(g_MarkCall);
// Moves to p at the mark speed, sets the line end time to the galvanometer clock and, when the move
// wrote a pair, waits the corner delay of a turn by `angle` (rad): nPolygonDelay for 90° and more, in
// proportion below, rounded to a multiple of 10 µs.
void StreamMoveWithAngleDelay(FieldPoint p, double angle) REQUIRES(g_MarkCall);
// dt > 0: galvanometer clock += dt and a NOP on the galvanometer channel at the new clock. Else nothing.
void AppendAuxWait(int64_t dt) REQUIRES(g_MarkCall);
// The galvanometer channel's frame of a dot: line start time 0, NOPs at 0 and at t + offset, line
// end time t.
void StreamStartRecords(int32_t offset, int64_t t) REQUIRES(g_MarkCall);
