#pragma once
// The card's io debug records (command 87): with the debug flag on (flag 0x10) the card queues a
// record at each change of its io word (kind 3: bit 0 while it holds a job, the other bits its
// outputs, with bit 1 also set while laser 0's pulses run: the laser gate the monitor watches), at
// each galvanometer move (kind 1: X | Y << 16, 21-bit codes by their top 16 bits) and, from a
// run's start, every sampling period (kind 2: the AD value in bits 0-15, laser 0's power DA in
// bits 20-31). Command 40 (p2 bit 1 analogue, bit 0 positions) turns kinds 2 and 1 on or off;
// command 36 sets the sampling period (bits 8-15 of p2 in 10 µs units; 80 µs unless set). dt is
// the card time since the previous record in 48 MHz ticks; a gap wider than the field is bridged
// by kind-4 records of the field's largest dt.
//
// Command 87 answers the oldest record, long form r0 = 0xA0000000 | field << 24 | dt (24 bits;
// fields 0xA io, 0xB position, 0xC analogue, 0x9 gap) or short form r0 = 0xA5000000 | field << 20 |
// dt / 6 (20 bits; the remainder carried into the next record; gap records stay long), r1 the
// value; r0 = r1 = 0 when none is queued. The queue is bounded: a record that finds it full is
// counted and dropped, never holding the run up. Switching the flag off keeps what is queued.
#include <cstdint>
#include <deque>

namespace cardsim {

// Command 40: the record mask and the kinds (bit 1 analogue samples, bit 0 positions).
constexpr uint32_t kCmdRecordKinds = 40;
// Command 36: among the io settings, the sampling period in 10 µs units in bits 8-15 of p2.
constexpr uint32_t kCmdIoSettings = 36;

class DebugRecordModel {
 public:
  static constexpr uint32_t kCapacity = 8192;
  static constexpr uint32_t kDefaultPeriodUs = 80;

  void Reset() { *this = DebugRecordModel(); }
  void SetOn(bool on) { on_ = on; }
  bool On() const { return on_; }
  // Command 40 (mask, kinds).
  void SetKinds(uint32_t kinds) { kinds_ = kinds & 3; }
  void SetShortForm(bool s) { short_ = s; }
  void SetPeriodUs(uint32_t us) { periodUs_ = us == 0 ? kDefaultPeriodUs : us; }
  // Command 36 (p2): the sampling period; 0 keeps the default.
  void IoSettings(uint32_t p2) { SetPeriodUs(((p2 >> 8) & 0xFFu) * 10u); }

  // A buffer was opened at card time `nowUs`: stream time 0 is card time `nowUs` from now on.
  void RunOpened();
  // The executor's clock reached stream time t: the samples due up to t, taking (ad, da) now.
  void StreamAt(uint64_t t, uint32_t ad, uint32_t da);
  // The io word (job bit and outputs) now; a record when it changed.
  void IoWord(uint32_t word);
  // The galvanometer codes now (16-bit, or 21-bit when wide).
  void Moved(uint32_t x, uint32_t y, bool wide);
  // A record of a test's own, at the current card time, with its own dt.
  void Queue(uint32_t kind, uint32_t dt, uint32_t value);
  // Command 87.
  void Next(uint32_t& r0, uint32_t& r1);
  uint32_t Queued() const { return static_cast<uint32_t>(queue_.size()); }
  uint32_t Overflow() const { return overflow_; }

 private:
  struct Rec {
    uint32_t kind, dt, value;
  };
  uint64_t Now() const { return base_ + stream_; }
  void Push(uint32_t kind, uint32_t value);
  void Put(uint32_t kind, uint32_t dt, uint32_t value);

  bool on_ = false;
  bool short_ = false;
  uint32_t kinds_ = 3;
  uint32_t periodUs_ = kDefaultPeriodUs;
  uint64_t base_ = 0;     // card time of stream time 0
  uint64_t stream_ = 0;   // stream time now
  uint64_t lastUs_ = 0;   // card time of the last record
  uint64_t nextSample_ = 0;
  bool running_ = false;
  uint32_t ioWord_ = 0;
  uint32_t carry_ = 0;  // ticks the short form left over
  std::deque<Rec> queue_;
  uint32_t overflow_ = 0;
};

}  // namespace cardsim
