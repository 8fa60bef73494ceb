#pragma once
// The card's encoder input and its fly settings.
//
// The counter counts the conveyor encoder's pulses and wraps at the range (command 99 p2: a value
// of 1..0x1000000; anything else counts the full 24 bits); with command 99 p1 bit 0 it counts
// against the pulses. A test moves the encoder (cardsim_encoder_move) or sets the counter and the
// pulse period the card measures (cardsim_set_encoder); the host sets the counter with command 101.
//
// The position buffer (command 103 (1, 0) on, (1, 1) off; off after a reset; each switch empties
// it): while it is on, every arrival of the counter at a quarter or at half of the range
// (range / 4, range / 2, integer division) is kept as an entry: the position and the direction of
// travel (ENCBUF_DOWN when counting down). Arriving means reaching that value from the next
// counter value below (counting up) or above (counting down), across the wrap too. The buffer holds
// kCapacity entries; a crossing beyond them is lost and the next answer carries ENCBUF_OVERFLOW.
// Command 102 (0, 0) answers the oldest entry (r0 its status, r1 its position); with none held,
// ENCBUF_POSITION with the direction of the last move and the counter now; with the buffer off,
// ENCBUF_NOTHING and the counter.
//
// Command 100: (0, 0) r1 the counter (r0 is the count marker's, card_model.cpp); (0, 1) r1 the
// pulse period in 48 MHz ticks. The fly settings 9, 10, 97, 98, 105, 106 and 99 are kept as
// received (cardsim_get_encoder); the card does not shift the galvanometer by them. Nothing of the
// encoder is kept in the state file.
//
// The conveyor: a test sets a speed in pulses per second of card time (cardsim_set_encoder_speed);
// while the card runs a job the executor lets card time pass (Run), the encoder turns by the whole
// pulses of that time (the fraction is carried on), and encoder waits of the stream hold until the
// counter reaches their value (UsUntil). The stream word 0x61000000 sets the counter to 0.
#include <cstdint>
#include <deque>

#include "cardsim_api.h"

namespace cardsim {

class EncoderModel {
 public:
  static constexpr uint32_t kCapacity = 64;
  static constexpr uint32_t kFullRange = 0x1000000;

  // Back to the state after power-up: counter 0, full range, counting up, period 0, buffer off,
  // settings 0.
  void Reset() { *this = EncoderModel(); }
  // A command of the encoder (9, 10, 97-103, 105, 106): true, with the answer in r0 and r1 (r0 of
  // command 100 (0, 0) is left as it is); false for any other command.
  bool Command(uint32_t command, uint32_t p1, uint32_t p2, uint32_t& r0, uint32_t& r1);
  // The counter (reduced into the range) and the measured pulse period; no crossing is recorded.
  void Set(uint32_t position, uint32_t periodTicks);
  // The encoder turns by `pulses`; the counter follows and the crossings are recorded.
  void Move(int64_t pulses);
  void Fill(cardsim_encoder& out) const;
  // The conveyor's speed in pulses per second (negative: backwards); the carried fraction goes.
  void SetSpeed(int32_t pulsesPerSecond) {
    speed_ = pulsesPerSecond;
    carry_ = 0;
  }
  int32_t Speed() const { return speed_; }
  // `us` µs of card time pass at the conveyor's speed.
  void Run(uint64_t us);
  // µs of card time until (counter & mask) == (value & mask) at the conveyor's speed: 0 when it
  // holds now; kNever when the conveyor stands or the value lies beyond the range.
  uint64_t UsUntil(uint32_t value, uint32_t mask) const;
  uint32_t Counter() const { return counter_; }
  static constexpr uint64_t kNever = ~uint64_t{0};

 private:
  struct Entry {
    uint32_t status;
    uint32_t position;
  };
  void Record(uint32_t position, bool down);

  uint32_t counter_ = 0;
  uint32_t range_ = kFullRange;
  uint32_t countDown_ = 0;
  uint32_t period_ = 0;
  bool lastDown_ = false;
  bool bufferOn_ = false;
  bool overflow_ = false;
  std::deque<Entry> entries_;
  cardsim_encoder settings_{};
  int32_t speed_ = 0;
  int64_t carry_ = 0;  // pulse-µs of the fraction not yet turned (of 10^6 per pulse)
};

}  // namespace cardsim
