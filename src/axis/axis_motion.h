#pragma once
// Moves, jogs, status reads and the done-wait of the extra axes (the exports' shared steps).
//
// Velocity and acceleration codes that the card cannot take (0, wider than 24 bits, or from a
// velocity or acceleration that is not a finite number of at least 0) fail with code 29 through the
// mark-error path: the failure is logged and shown, the card's run is stopped (also outside a job)
// and the code is thrown. A position that is not a number is refused with 7 before anything goes out.
#include <cstdint>

#include "axis/axis_records.h"
#include "cardlink/card_locks.h"

constexpr int32_t kAxisMoveTo = 0;   // AxisMove: to a position
constexpr int32_t kAxisMoveJog = 1;  // AxisMove: until stopped

// Status bits of command 0x126: done when 0x400 is set and 0x10 clear.
constexpr uint32_t kAxisStsDone = 0x400;
constexpr uint32_t kAxisStsMoving = 0x10;

// The axis number lies in 1..NxaAxisCount().
bool NxaAxisExists(int32_t axis);
// The refusal of an axis number: the text of code 15 logged under `tag` (INFO and ERROR) and shown;
// returns 15.
uint32_t RefuseAxisNumber(const char* tag);

// The velocity code of v on an axis of p pulses per unit, refused with 29 as above.
uint32_t NxaVelocityCode(double v, double p);
// The acceleration code, refused the same way.
uint32_t NxaAccelCode(double a, double p);

// The move of an axis (axis number from 1): the velocity clamped to the record's maximum (+inf too), 0x120
// (start code, velocity code), 0x121 (acceleration code twice), then 0x125 with the target (mode
// kAxisMoveTo) or the jog's far end (direction 1: 0xFFFFFE, else 0x000001; parameter 2 = 2).
// 0, 15 for an axis that does not exist (reported under "AxisMove"), 7 for a NaN target.
uint32_t AxisMove(int16_t axis, int32_t mode, double position, int32_t direction, double acc, double vel)
    EXCLUDES(g_csCardCmd, g_csAxis);

// Command 0x126 for axis index `index` (any value: its low 4 bits form the field); word 1.
uint32_t NxaReadAxisStatus(uint32_t index) EXCLUDES(g_csCardCmd, g_csAxis);
// Sleeps 1 ms (the platform clock) and reads the status until the axis reports done or the card is
// no longer connected. No time limit: a stop from another thread ends a jog; a card lost during a
// read throws code 1.
void NxaWaitAxisDone(uint32_t index) EXCLUDES(g_csCardCmd, g_csAxis);
