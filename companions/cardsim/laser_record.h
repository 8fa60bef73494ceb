#pragma once
// The card's two laser pulse generators, their power channels and the outputs, as the executor
// drives them: the state each holds now and the record of what they did since the buffer open.
// The executor decodes the words (stream_engine.cpp) and tells this record what they mean; the
// record never looks at a word.
//
// Emission. A laser emits while its pulses run and every output that gates it is set. Which
// outputs gate a laser is the wiring of its laser type (configuration key laser_type), as the
// library drives them with its default keys:
//   type 0 (and any type the card does not know)  no output: the pulses alone
//   types 1, 7   laser 0: the enable output 23
//   types 2, 3, 6  laser 0: the enable output 21 and the PA output 20 that opens each segment
//                 (types 2 and 6 run their pulses from the layer on: these outputs make the marks)
//   type 4       laser 0: the PA output 20
//   type 5       laser 0: the enable output 25 (switched around each segment)
//   type 6       laser 1: its enable output 28
// The outputs are the card's: those the stream's output words set and those a host command set.
//
// Segments. A laser's segment is an interval [on, off) of stream time during which it emitted
// with one period: it opens when the pulses run and the last gate rose (a start while it emits
// changes nothing), and closes on the pulse stop, on a gate that fell or at the end of the run; a
// new pulse high or low time while it emits closes it and opens the next one at the same time with
// the new period (a time equal to the one in force changes nothing). Words at the on time itself
// belong to the start: a pulse time or a power word run at the on time amends the open segment
// instead of splitting it, so that the order of words within one microsecond does not matter.
//
// Records keep their first kCapacity entries and count the rest, like the traces.
#include <cstdint>
#include <vector>

#include "cardsim_api.h"

namespace cardsim {

class LaserRecord {
 public:
  static constexpr uint32_t kLasers = 2;
  static constexpr uint32_t kCapacity = 1u << 18;
  static constexpr uint32_t kTicksPerUs = 48;
  // The registers of a pulse generator.
  enum class Timing : uint32_t { PulseHigh, PulseLow, IdleHigh, IdleLow };

  // Back to the state of a buffer open: every register 0, pulses stopped, records empty. The laser
  // type and the outputs stay: they are the card's, not the run's.
  void Reset();
  // The laser type whose outputs gate emission (above); applies from the next change.
  void SetLaserType(uint32_t type);
  // The card's outputs at t, set by other means than an output word (a host command, a run's start).
  void OutputsNow(uint64_t t, uint32_t outputs);
  // A pulse or idle time of laser 0 or 1, in ticks, run at t.
  void SetTiming(uint32_t laser, Timing which, uint32_t ticks, uint64_t t);
  // Pulse start (true) or stop of laser 0 or 1 at t.
  void Pulses(uint32_t laser, bool start, uint64_t t);
  // A power word of any channel at t.
  void Power(uint32_t channel, uint32_t da, uint64_t t);
  // An output word at t: the outputs it selects, their values, all outputs after it.
  void Outputs(uint64_t t, uint32_t word, uint32_t mask, uint32_t values, uint32_t outputs);
  // The run ended at t: running pulses stop.
  void RunEnded(uint64_t t);

  // false for a laser other than 0 and 1.
  bool State(uint32_t laser, cardsim_laser& out) const;
  uint32_t SegmentCount(uint32_t laser) const { return laser < kLasers ? lasers_[laser].segmentTotal : 0; }
  // `now` is the executor's clock: the off time of a segment still open. false when not held.
  bool Segment(uint32_t laser, uint32_t index, uint64_t now, cardsim_laser_segment& out) const;
  // Whether the laser emitted at t (t within [on, off) of a segment, or at or after the on time of
  // the open one); false when the segments kept do not reach t.
  bool OnAt(uint32_t laser, uint64_t t, bool& on) const;
  uint32_t PowerCount() const { return powerTotal_; }
  bool PowerChange(uint32_t index, cardsim_power_change& out) const;
  uint32_t OutputCount() const { return outputTotal_; }
  bool OutputChange(uint32_t index, cardsim_output_change& out) const;

 private:
  struct Laser {
    uint32_t ticks[4] = {};  // by Timing
    bool running = false;    // the pulses
    uint64_t onSince = 0;    // when they started
    bool emitting = false;   // a segment is open
    uint64_t emitSince = 0;  // its on time
    uint32_t da = 0;
    uint64_t daTime = 0;
    uint32_t powerWords = 0;
    bool openKept = false;  // the running pulses' segment is the last one held
    std::vector<cardsim_laser_segment> segments;
    uint32_t segmentTotal = 0;
  };

  static double Period(uint32_t high, uint32_t low) {
    return (static_cast<double>(high) + static_cast<double>(low)) / kTicksPerUs;
  }
  // Opens or closes laser n's segment at t as its pulses and gates say; `end` says why one closes.
  void Follow(uint32_t n, uint64_t t, uint32_t end);
  void Open(Laser& l, uint64_t t);
  void Close(Laser& l, uint64_t t, uint32_t end);
  cardsim_laser_segment* OpenSegment(Laser& l) { return l.openKept ? &l.segments.back() : nullptr; }

  Laser lasers_[kLasers];
  uint32_t gates_[kLasers] = {};  // outputs that must all be set for each laser to emit
  uint32_t outputs_ = 0;
  std::vector<cardsim_power_change> power_;
  uint32_t powerTotal_ = 0;
  std::vector<cardsim_output_change> outputChanges_;
  uint32_t outputTotal_ = 0;
};

}  // namespace cardsim
