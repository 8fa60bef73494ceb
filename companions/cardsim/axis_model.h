#pragma once
// The card's extra axes: up to four, moved in virtual time.
//
// Time: every command exchange outside a run advances the axes by kStepPerExchangeUs (so that a
// host's status polls see a move end without real waiting), and a test advances them with
// cardsim_axis_step_us.
// Speeds come from the velocity codes as the card reads them: a code V is a pulse period of V/50 µs,
// so an axis runs 5e7 / V pulses per second; acceleration is not modelled (the speed is reached at
// once). Positions are offset-binary pulse codes (8388607 is position 0, range 1..16777214).
//
// Commands (plain numbers; the axis in bits 28-31 of parameter 1):
//   0x120 (start code, velocity code) the speed of the next move; 0x121 kept;
//   0x125 with bit 24 of p1: p2 0 a move to the code in bits 0-23, p2 2 a jog (to 0xFFFFFE or
//     0x000001), p2 1 (p1 = 0x1000000) homing: the axes of the home order list (0x12B p2, groups
//     from bits 0-3, 0xF ends it) home one after the other to position 0 at the home high velocity
//     (0x122 p2, else the last move's speed); without bit 24 a read: r0 the axis's position code,
//     r1 the home status (bit 4k+1 clear once axis k has homed: 0x2222 before);
//   0x126 r0 0x400 at rest, 0x10 while moving (homing included);
//   0x12D stops the axes of bits 0-3 at once; 0x135 sets the position code;
//   0x12B, 0x12E and every other axis command 0x122-0x134 are kept as received;
//   33 r1 the motor inputs: for axis k bit 4k the home switch, 4k+1 the positive and 4k+2 the
//     negative limit, as the test places them (cardsim_axis_set_switches); a limit enabled by 0x12E
//     (P0 bit 24, N0 25, P1 27, N1 28, P2 30, N2 31) stops an axis moving into it.
// The stream's motor words (0x40-0x4B loaded per axis, 0x84 starts the loaded axes) move the same
// axes; the platform rests when no axis moves.
//
// While a run runs, the axes move in the card's time (the executor's StreamElapsed), not by the
// command exchanges. The stream's motor waits read two registers:
//   source 4, the platform: 0x10 while every axis rests, once the word 0x85000001 asked for the
//     report (a start word 0x84 takes the request back: a start that follows the report needs a
//     new request); 0 otherwise. The library's wait is 0x10 under mask 0x11.
//   source 2, axis 1's position code. Passing counts: under the full mask 0xFFFFFF a wait for a
//     code is met once axis 1 stands on it or has crossed it since its current (or last) move
//     started; under any other mask the code now must match.
// UsUntil answers how long until such a wait is met as the axes move now (homing, limits and
// moves that end on the way included), kNeverUs when it will not be.
#include <cstdint>

#include "cardsim_api.h"

namespace cardsim {

class AxisModel {
 public:
  static constexpr uint64_t kStepPerExchangeUs = 1000;
  static constexpr uint32_t kZero = 8388607;

  void Reset();
  // Advances the axes by `us` of virtual time.
  void Step(uint64_t us);
  // An axis command; false when `command` is not one.
  bool Command(uint32_t command, uint32_t p1, uint32_t p2, uint32_t& r0, uint32_t& r1);
  uint32_t Inputs() const;
  // Stream words: a motor parameter word 0x40-0x4B, the start word 0x84.
  void StreamWord(uint32_t word);
  bool Resting() const;
  // The value of wait source 2 (axis 1's position code) or 4 (the platform), 0 for another.
  uint32_t SourceValue(uint32_t source) const;
  // µs until (SourceValue(source) & mask) == (value & mask), passing counted for source 2.
  static constexpr uint64_t kNeverUs = ~uint64_t{0};
  uint64_t UsUntil(uint32_t source, uint32_t value, uint32_t mask) const;
  // Switch positions (codes) of axis k: home, positive and negative limit; 0 none.
  void SetSwitches(uint32_t k, uint32_t home, uint32_t limitP, uint32_t limitN);
  bool Get(uint32_t k, cardsim_axis& out) const;

 private:
  struct Axis {
    double pos = kZero;      // pulse code
    double target = kZero;
    double speed = 0;        // pulses per second of the next move
    double moving = 0;       // speed of the running move; 0 at rest
    double from = kZero;     // where the current (or last) move started
    uint32_t homeSpeedCode = 0;
    uint32_t homed = 0;
    uint32_t switches[3] = {};
    uint32_t loaded[4] = {};  // stream: target, start, velocity, acceleration codes
    uint32_t settings[0x15][2] = {};  // last p1, p2 of 0x120..0x134
  };
  void Start(uint32_t k, double target, double speed);
  bool LimitStops(uint32_t k, double from, double to, double& at) const;
  void NextHome();
  // µs until the next moving axis stops (at its target or a limit); kNeverUs when none moves.
  uint64_t UsUntilNextStop() const;
  // The point a moving axis k will stop at.
  double StopPoint(uint32_t k) const;

  Axis ax_[4];
  uint32_t limits_ = 0;
  uint32_t homeOrder_ = 0xFFFF;
  int32_t homing_ = -1;   // axis homing now
  uint32_t homeQueue_ = 0xF;  // remaining order groups
  bool platformAsked_ = false;  // 0x85000001 came after the last start word
};

}  // namespace cardsim
