#pragma once
// AxisValueCodes: the 24-bit values of positions, velocities and accelerations that the card's axis
// commands and the motor words of the mark stream carry. p is the axis's pulses per unit (pulses per
// millimetre on a linear axis, per degree on a rotary one).
//
//   position code of x   trunc(min(max(x*p + 0.5 + 8388607, 1), 16777214)): offset binary with
//                        8388607 as position 0 (a NaN position gives 1, like fmax)
//   velocity code of v   trunc(50 / (v*p / 1000000)): the pulse period in 1/50 us at v units/s
//   start code of V      trunc(V / 0.05), 0xFFFFFF when that does not fit in 24 bits (a start
//                        speed of one twentieth of v)
//   acceleration code    trunc(a*p / 2.5e15 * 2^48)
//   axis field           (axis index & 15) << 28 in the first parameter of an axis command
//
// Every real-to-integer step saturates (frame/conv.h): a velocity of 0 gives 0xFFFFFFFF, a negative
// or NaN one 0. A code with bits above bit 23 does not fit the card's field; callers that check it
// refuse it with AxisCodeFits, the others mask it with kAxisCodeMask.
#include <cstdint>

constexpr uint32_t kAxisCodeMask = 0xFFFFFF;
constexpr uint32_t kAxisPositionZero = 8388607;
constexpr uint32_t kAxisPositionMax = 16777214;

struct AxisValueCodes {
  static uint32_t Position(double x, double p);
  static uint32_t Velocity(double v, double p);
  static uint32_t Start(uint32_t velocityCode);
  static uint32_t Accel(double a, double p);
  // index: the 0-based axis index (the axis number less 1).
  static constexpr uint32_t Field(uint32_t index) { return (index & 15u) << 28; }
  // A code the card can take unmasked: not 0 and no bit above bit 23.
  static constexpr bool Fits(uint32_t code) { return code != 0 && code <= kAxisCodeMask; }
};
