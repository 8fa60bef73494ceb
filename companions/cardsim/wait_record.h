#pragma once
// The card's register lanes, its wait set-up and the record of its waits and register writes,
// as the executor drives them (stream_engine.h has the rules; this record keeps the state and
// never looks at a word's fields).
//
// Registers: lanes 0-5, each a byte of the first value (A) and a byte of the second (B); A and B
// are lanes 0-3, lane i their byte i. Waits and register writes take A and B as the lanes hold
// them when they run.
//
// Records keep their first kCapacity entries and count the rest, like the traces. The open wait is
// kept apart from the record, so that it is known even when the record is full.
#include <cstdint>
#include <vector>

#include "cardsim_api.h"

namespace cardsim {

class WaitRecord {
 public:
  static constexpr uint32_t kCapacity = 1u << 18;
  static constexpr uint32_t kLanes = 6;

  // Back to the state of a buffer open: lanes 0, nothing latched, records empty.
  void Reset();

  // ---- registers and set-up
  void SelectLane(uint32_t lane) { lane_ = lane; }
  // A 0x53 or 0x55 word: byte a of A, byte b of B into the selected lane (a lane beyond 5: none).
  void WriteLane(uint32_t a, uint32_t b);
  uint32_t A() const;
  uint32_t B() const;
  uint32_t Lane() const { return lane_; }
  // The time-out of the next timed wait, in µs (0x56).
  void LatchTimeout(uint32_t us) { timeoutUs_ = us; }
  // A wait set-up word (0x58000100 | ...); zero: the time-out of the next wait is 0.
  void LatchSetup(uint32_t word, bool zero) {
    setupWord_ = word;
    zeroTimeout_ = zero;
  }
  // A register write: kind CARDSIM_REG_..., its word, port (or lane), label flag, at t.
  void Write(uint32_t kind, uint32_t word, uint32_t port, uint32_t flag, uint64_t t);
  // The port of the last port write (0x580000pp); 0 before any.
  uint32_t LastPort() const { return lastPort_; }

  // ---- waits
  // Opens a wait at the marker word: source, reason bits, timed, with A, B and the latched
  // set-up and time-out (the latch is used up).
  void Begin(uint32_t marker, uint32_t source, uint32_t reason, bool timed, uint64_t t);
  bool Waiting() const { return waiting_; }
  const cardsim_wait& Current() const { return cur_; }
  // The open wait held for `us` more; `inputs` as the card saw them last.
  void Hold(uint64_t us, uint32_t inputs);
  // The open wait ends (CARDSIM_WAIT_...).
  void Finish(uint32_t end, uint32_t inputs);
  // Reasons of the waits that timed out since the buffer open or the alarm clear (command 19).
  uint32_t TimeoutReasons() const { return timeoutReasons_; }
  void ClearTimeoutReasons() { timeoutReasons_ = 0; }
  // The last register wait (reason 0x20) of the run, open or ended: what commands 17 and 18
  // describe. false before any.
  bool LastRegisterWait(cardsim_wait& out) const;

  uint32_t WaitCount() const { return waitTotal_; }
  bool WaitGet(uint32_t index, cardsim_wait& out) const;
  uint32_t WriteCount() const { return writeTotal_; }
  bool WriteGet(uint32_t index, cardsim_reg_write& out) const;

 private:
  // Copies the open wait into the record (when kept) and into the last register wait.
  void Store();

  uint8_t laneA_[kLanes] = {};
  uint8_t laneB_[kLanes] = {};
  uint32_t lane_ = 0;
  uint32_t timeoutUs_ = 0;
  uint32_t setupWord_ = 0;
  bool zeroTimeout_ = false;
  uint32_t lastPort_ = 0;

  bool waiting_ = false;
  cardsim_wait cur_{};
  bool curKept_ = false;
  bool hasRegisterWait_ = false;
  cardsim_wait lastRegister_{};
  uint32_t timeoutReasons_ = 0;

  std::vector<cardsim_wait> waits_;
  uint32_t waitTotal_ = 0;
  std::vector<cardsim_reg_write> writes_;
  uint32_t writeTotal_ = 0;
};

}  // namespace cardsim
