#pragma once
// Motor moves of the extra axes inside the mark stream.
//
// A move waits until the platform is in place (0x85000001 and the named wait "等待平台到位", the
// platform condition of source 4), loads velocity, start speed, acceleration and target of each
// moved axis (each word followed by the parameter latch 0x51600010, 1 µs apart), then starts the
// loaded axes (0x84000000 | one bit per axis) and latches the start (0x51620100).
//
// MarkMotorStart writes the main stream of the current floor (the mark-list members of motor
// moves); MotorMoveInStream writes a word list of rotation marking for axis 1 at a cursor of its own.
// Velocity and acceleration codes the card cannot take end the mark call with code 29 (mark-error
// path; words already appended stay); a target of a loaded axis that is not a number fails the job
// with 7 the same way, before any word is appended.
#include <cstdint>

#include "markbase/io_words.h"
#include "markbase/job_state.h"

namespace MotorStreamWords {
// k: the axis index 0..3.
constexpr uint32_t Para(uint32_t k, uint32_t kind, uint32_t code) {
  return (SW_MOTOR_PARA + ((4 * (k & 3u) + kind) << 24)) | (code & SW_OPERAND_MASK);
}
constexpr uint32_t Target(uint32_t k, uint32_t code) { return Para(k, SW_MOTOR_KIND_TARGET, code); }
constexpr uint32_t StartSpeed(uint32_t k, uint32_t code) { return Para(k, SW_MOTOR_KIND_START_SPEED, code); }
constexpr uint32_t Velocity(uint32_t k, uint32_t code) { return Para(k, SW_MOTOR_KIND_VELOCITY, code); }
constexpr uint32_t Accel(uint32_t k, uint32_t code) { return Para(k, SW_MOTOR_KIND_ACCEL, code); }
static_assert(Target(2, 5) == 0x48000005 && Accel(0, 0) == 0x43000000 && Velocity(1, 0x1FFFFFF) == 0x46FFFFFF);
}  // namespace MotorStreamWords

// The wait named for the platform being in place.
extern const char* const kPlatformWaitName;
// The time-out of that wait's description, ms.
constexpr uint32_t kMotorWaitTimeoutMs = 1000;

// Axes 1-3 whose flag is nonzero are loaded (only those below the axis count; the start word keeps
// the bit of an enabled axis the card does not have). Positions, velocities and accelerations in the
// axis's units; velocities clamped to the axis's maximum (+inf too). Timeline from the clock c: c + 10 the
// wait word, c + 20 a NOP, c + 21..23 the named wait, then the axis words 1 µs apart, the start word
// and its latch.
void MarkMotorStart(const int32_t enable[3], const double position[4], const double velocity[4],
                    const double accel[4]) REQUIRES(g_MarkCall);

// Axis 1 (of `pulses` pulses per unit) into `list` at `cursor` (advanced to the last word). move: cursor + 10 the wait word, the
// named wait built at cursor + 20, then velocity, start speed, acceleration and target with their
// latches, the start word 0x84000001 and its latch, 1 µs apart (the velocity is not clamped).
// waitAfter: cursor + 10 the wait word and the named wait at cursor + 20.
void MotorMoveInStream(WordList& list, uint64_t& cursor, bool move, bool waitAfter, double velocity, double accel,
                       double position, double pulses);
