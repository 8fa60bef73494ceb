#pragma once
// The card's side of the data stream: the FIFO, the block checker, the decoder and the executor.
//
// FIFO. 2^24 bytes; the write pointer is the count of bytes taken in since the buffer was opened,
// the read pointer the count consumed, both mod 2^24 (command 89 answers r0 = read, r1 = write).
// Command 86 answers the 512-byte units taken in (r1 low byte, mod 256) and r0 bit 0 while the
// card is still taking in data: while a unit is only partly received. A chunk is taken whole or
// not at all: one that would make the pointers meet is dropped and counted as an overflow (the
// link status shows bulk ready low while there is no room for another block).
//
// Buffer open (command 83 (1, 0)): pointers, counts, checker, decoder, executor, end code and the
// trace start over; the layout comes from the card version (0 below 80, 1 for 80..95, 2 from 96);
// the card holds a job (status run state bit 0) until the run ends.
//
// Checker, per unit of the layout: layout 0 the first word of the job must be 0x5110A55A (it is
// not a stream word: not decoded); layout 1 each 512-byte sub-block begins with
// 0x5110A55A | ((seq mod 16) << 16); layout 2 each 128-byte sub-block ends with
// 0x5A000000 | CRC-16 (polynomial 0x1021, MSB first, no reflection, initial value seq & 0xFFFF,
// over the first 124 bytes, words least significant byte first); seq counts sub-blocks from 0 at
// the buffer open. Any failed check (bad head word, bad sequence, bad check word or CRC) raises the
// stream-check alarm (status r0 bit 4) and aborts the run with end code 0, sub code 3 ("Buffer Head
// Err"); the kind of the first failure is kept (CARDSIM_CHECK_...). From then on the card still
// takes in, counts and checks what arrives (each failed unit counts as rejected) but discards it.
//
// Decoder: payload words in order at the stream time T (0 at the buffer open). 0x57xxxxxx advances
// T by its 24-bit operand after it (padding 0x57000001 included); 0x50000000 is a NOP; any other
// word stands at T. The full trace holds every payload word with its time (an advance at the time
// it is read); the word trace leaves out 0x50000000 and the 0x57 words. The end word 0x51100001
// ends the program: the words after it (padding) are not decoded. Each trace keeps its first
// kTraceCapacity entries and counts the rest.
//
// Executor: nothing runs until the run starts: start-run flag 0x40000, flush flag 0x8, or the FIFO
// holding at least the start threshold (default 1.5 MiB; 0 turns the rule off). Running, it
// consumes in stream time: a word is consumed once the executor's clock has reached its time.
// Consumption modes: 0 at once (everything received is consumed as it arrives), 1 paced (the clock
// follows the host's real time x speed %), 2 stalled (nothing is consumed; Step still advances).
// The clock never passes the end of what was decoded: a card that runs dry waits for data, unless
// a flush was asked for, when running dry ends the run with end code 4 (data break). Effects: IO
// output words 0x20-0x22 (banks 0-2, outputs 0-31; bank 3 lies beyond the 32 outputs kept), count
// markers 0x62 (the last count, command 100 (0, 0) answers it), the end word (end code 1). Stop
// (flag 0x4) ends a live run with end code 2 sub 0. Pause holds the clock; resume releases it.
// After the run ended everything taken in is consumed at once (discarded).
//
// Laser words (laser 0 / laser 1), run at their stream time, operand = the low 24 bits taken as
// written (a tick count below 4 stays what it is): pulse high time 0x11 / 0x18 and pulse low time
// 0x12 / 0x19 in 48 MHz ticks (the pulse period is high + low ticks); idle high time 0x13 / 0x1A
// and idle low time 0x14 / 0x1B; pulse start / stop 0x16 / 0x1C, operand bit 0 set starts the
// pulses, clear stops them. Power word 0x29: bits 23-16 the channel, bits 15-0 the DA value;
// channel 0 is laser 0's power, channel 2 laser 1's; other channels are recorded and set no
// laser's power. The enable, PA, Q-kill and strobe outputs (laser type 2: output 31 after each
// power word) are plain output words. The end of the run, however it comes (end word, stop,
// data break, failed check), stops the pulses of both lasers at that time: the end word's time,
// else the executor's clock. laser_record.h keeps the state and the records (laser segments, power
// words, output words) a test reads; they start over at the buffer open, like the traces, and are
// not kept in the state file.
//
// Galvanometer words (opcode 0x01), run at their stream time into galvo_record.h. The codes come in
// one of two forms for a whole run, and the words do not say which: the run's first word that is a
// galvanometer word or a correction word (opcode 0x04) fixes it. A job with the new box correction
// writes its correction word before its first jump, so a correction word first means 21-bit codes
// and a galvanometer word first 16-bit codes; later correction words (the job's end, correction
// off) change nothing. 16-bit: bits 23-16 a sub-code, bit 0 Y (else X), bit 1 Z, bit 2 unlit, bit
// 3 jump (0x00 / 0x01 steps, 0x04 / 0x05 unlit steps, 0x08 / 0x09 jumps, 0x0C / 0x0D unlit jumps,
// 0x02 / 0x06 Z), the code in bits 15-0; other sub-codes (Z with Y or jump, 0x10 and above: the
// laser-module program words) move nothing. 21-bit: bits 23-21 select 0 X step, 1 X jump, 2 Y
// step, 3 Y jump, 4 Z, the code in bits 20-0; 5-7 move nothing. A 21-bit word carries no lit
// bit: bit 0 of the correction word that fixed the form does (0 lit, 1 unlit). Lit is the form of a
// job that fires the laser; whether the laser was on at a time is the lasers' record.
//
// Register writes: 0x52000000 | lane selects lane 0-5; 0x55000000 | a << 8 | b and the 16-bit form
// 0x53 write byte a of register A and byte b of register B into it (lanes 0-3 are bytes 0-3 of A
// and B). 0x56000000 | µs latches the time-out of the next timed wait. 0x58 with bit 8 set is a
// wait set-up (0x58000100 | source, + 0x10 timed, + 0x1000 zero time-out), latched for the next
// wait marker; with bit 8 clear it writes A and B to port bits 3-0 (the reset sequence's
// 0x58000001 writes 0x1E to port 1). 0x51700000 closes a 16-bit write, 0x51B00001 | flag << 1 is
// the input condition of the last port write: both are recorded, and the condition arms a trigger
// (resident programs, below). Lanes, latches and records start over at the open.
//
// Waits: a marker 0x51600000 | (source * 2 | timed) << 15 | reason (bits 23-20 = 6) is where the
// card waits. The reason is one bit: 0x20 a register wait on `source` for the inputs selected by A
// to equal those bits of B; 0x1 galvanometer arrival, 0x8 camera, 0x10 / 0x100 platform, 0x40 fly
// switch, 0x80 serial port (the reasons command 19 names). The executor holds its clock at the
// marker's time while the card waits. Only a register wait on source 1 (the inputs that
// cardsim_set_inputs sets) can hold: it ends when (inputs & A) == (B & A); every other wait
// passes at once (the card models no galvanometer feedback, motors, optical switch or serial port)
// and is recorded as passed; the encoder and camera waits below hold as well. A timed wait holds at most the latched time-out (0
// with the set-up's 0x1000: checked once); an untimed one holds until the inputs match or the run
// is stopped. Time in a wait is card time: mode 0 the host's real time (a stream consumed at once
// still waits in real time for the world outside), mode 1 real time x speed, mode 2 what Step
// gives; a pause holds it. The waits on the card's own axes (sources 2 and 4) are the exception
// in mode 0: the axis model knows when they are met, and the clock runs ahead to then at once, as
// it does through the stream's own times (a move to the end of travel, minutes of card time, does
// not hold the host for minutes). When a time-out passes the run ends: alarm bit 5 (status r0, cleared by
// the alarm clear), command 19 answers the wait's reason, end code 0 sub code 5. The library then
// reports an unknown result and the job fails (QZ_MarkEnd 3); its alarm text says the wait timed
// out and what it waited for. The position and laser records are in stream time, which a wait does
// not advance: the wait record holds the time it took.
//
// Control flow (our model of the card's program): the executor keeps what it decoded and runs it
// along a path. A label 0x51800000 | n (n: the low 16 bits) is known once decoded; the latest
// label n decoded is the one jumps go to. 0x51A00000 | n continues at label n (a jump to a label not
// yet received holds the executor until it arrives; once the program has ended an unknown label is
// passed over). 0x5410xxxx opens a loop of count xxxx (0 runs once); 0x51A10000 | n closes the
// innermost open loop: while runs are left it continues at label n, so the body between the loop's
// label and its end runs count times; without an open loop it is passed over. The card keeps at
// most kLoopDepth open loops: a loop opened beyond them (a loop end that jumps back before its
// loop's start opens the loop again on every pass) ends the run with the loop-stack alarm (status
// r0 bit 13, kLoopStackAlarm), end code 0, sub code 6. A run of the executor (a driver entry runs
// it once or a few times) runs at most 2^22 words, in every mode, and once it has jumped back (a
// loop, which may take no stream time) and run kTimedAfterWords words, at most kRunWallUs of the
// card's clock (the host's real time, StreamHost::StreamWallUs): a loop runs on in the following
// entries, never holding the host, or a stop from another thread, for more than a few ms. Straight
// streams (at most the 2^24 bytes the FIFO holds) and shorter loops are never cut by the clock:
// what an entry has run depends on the machine's speed only inside a long loop, where the number
// of entries decides it anyway. An engine whose host has no clock is bounded in words alone.
// A wait with the zero time-out set-up on the inputs (source 1, reason 0x20) is a test, not a
// wait: checked once, no alarm. Every modelled wait latches its result (met, or a failed test); 0x51700000 then takes
// the 16-bit value of lane 0 (result met) or lane 1 (failed): with its bit 8 set the executor
// continues at label (value & 0xFF), else goes on. Jumped-to words run at the time of the jump: the
// path's time (the clock, and the times of the records) goes on from there.
//
// Card time: the path's time plus every µs a wait held. The execution trace holds the words as the
// card ran them (no NOPs, no 0x57 words) at card time: loops repeated, jumps taken, waits held.
// The extra axes (axis_model.h) move in card time: register waits on source 4 (the platform in
// place, after the request word 0x85000001) and on source 2 (axis 1's position, crossing it counts)
// hold until the axes get there.
// The encoder (encoder_model.h) turns in card time at the speed a test sets; 0x61000000 sets its
// counter to 0. A register wait on source 3 holds until the counter, under A, equals B. The camera
// (reason 0x8, the wait 0x51608008) holds until the camera is ready (ready unless a test says
// otherwise); with its 1 s time-out a camera that never gets ready raises the wait alarm. A camera
// step is recorded at its parameter word 0x34: the codes 0x31 / 0x32 before it, the word, and the
// two 16-bit lane values in force at the next 0x51700000. The fly switch's follower 0x51638040 and
// the scanner feedback wait 0x51648001 are satisfied at once.
//
// Resident programs (our model of the card's program slots). A stream that holds the program frame
// 0x59100000 is a program download: the card keeps it. From the frame word on, the executor runs it
// in card time in mode 0 as well (the card's own pace: real time), since a program that loops has
// no end to run to at once. Once the run has started and its end word is decoded the download ends
// as a successful run (end code 1, the job no longer held, everything received consumed), but the
// program stays resident and runs on until a stop (flag 0x4), an end word on its path or the next
// buffer open; the end of the program stops the lasers' pulses.
//   0x5920xxxx latches the slot mask (the low 16 bits). 0x51A20000 enters a slot: s = (inputs &
// mask) >> 1, at label 2s; after 0x59500000 it goes instead (once) to the label that 0x59400000 | n
// stored (n: the low 16 bits). 0x59100000 takes back the input form. A frame jump to a label not yet
// received holds the executor like a plain jump.
//   A register write with a condition (0x51B00001 | flag << 1, after the port write 0x580000pp)
// arms a trigger on that port with A and B as the lanes hold them: once (port & A) == (B & A) the
// card leaves what runs (an open wait ends as CARDSIM_WAIT_LEFT) for label `flag`, and the trigger
// is spent. 0x51B00000 disarms it. Ports 1 (inputs) and 3 (encoder) are modelled; a trigger on
// another port never fires. The trigger is looked at before each word and before each piece of a
// wait: it fires at the executor's clock then.
//   The executed trace of a program shows the slot: reserved = 1 + the slot that the last frame
// jump entered (0 before any, after a frame open, after a trigger fired); a trigger that fired
// shows as the jump 0x51A00000 | flag at its time; the outputs, powers and
// the path are the words themselves and their records (laser_record.h, galvo_record.h).
//
// Commands on the waits (card_model.cpp): 17 r0 = the source of the run's last register wait,
// | 0x10 while it is open, r1 = that source's value now (the inputs for source 1, else 0); 18 r0 =
// its mask A, r1 = its values B; 19 r0 = the reasons of the waits that timed out since the buffer
// open or the alarm clear. Zeros before any register wait.
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "cardsim_api.h"
#include "galvo_record.h"
#include "laser_record.h"
#include "wait_record.h"

namespace cardsim {

// What the stream does to the rest of the card. Called under the model's lock.
class StreamHost {
 public:
  virtual ~StreamHost() = default;
  // The outputs selected by mask take the bits of values; answers all outputs after it.
  virtual uint32_t StreamOutputs(uint32_t mask, uint32_t values) = 0;
  // true: a buffer was opened (the card holds a job); false: the run ended.
  virtual void StreamRunning(bool running) = 0;
  // Alarm bits of status r0 to set.
  virtual void StreamAlarm(uint32_t bits) = 0;
  // The inputs now.
  virtual uint32_t StreamInputs() = 0;
  // The executor's clock reached stream time t (before a word at t runs); a galvanometer word ran.
  virtual void StreamClockAt(uint64_t /*t*/) {}
  virtual void StreamMoved() {}
  // A pulse start or stop word ran.
  virtual void StreamPulses() {}
  // Card time passes while the run runs (the conveyor turns).
  virtual void StreamElapsed(uint64_t /*us*/) {}
  // The encoder counter; µs of card time until (counter & mask) == (value & mask), kNeverUs when
  // it will not; 0x61000000.
  virtual uint32_t StreamEncoder() { return 0; }
  virtual uint64_t StreamEncoderUntil(uint32_t /*value*/, uint32_t /*mask*/) { return kNeverUs; }
  virtual void StreamEncoderReset() {}
  // The camera is ready.
  virtual bool StreamCameraReady() { return true; }
  static constexpr uint64_t kNeverUs = ~uint64_t{0};
  // A motor word: parameters 0x40-0x4B, the start 0x84, the platform request 0x85 (axis_model.h).
  virtual void StreamMotorWord(uint32_t word) = 0;
  // The motor wait registers (source 2 axis 1's position, 4 the platform): the value now; µs of
  // card time until (value & mask) == (v & mask), kNeverUs when it will not be.
  virtual uint32_t StreamMotorValue(uint32_t /*source*/) { return 0; }
  virtual uint64_t StreamMotorUntil(uint32_t /*source*/, uint32_t /*v*/, uint32_t /*mask*/) { return kNeverUs; }
  // A UART word (0x71) for the laser's serial port.
  virtual void StreamUart(uint32_t /*word*/) {}
  // The card's clock, the host's real time in µs, that bounds a run of the executor; kNeverUs: none.
  virtual uint64_t StreamWallUs() { return kNeverUs; }
};

// Settings the model passes on each step.
struct StreamSettings {
  uint32_t mode = CARDSIM_CONSUME_AT_ONCE;
  uint32_t speedPercent = 100;
  uint32_t startBytes = kDefaultStartBytes;
  bool paused = false;
  static constexpr uint32_t kDefaultStartBytes = 24u * 65536u;
};

constexpr uint32_t kStreamHeader = 0x5110A55Au;
constexpr uint32_t kEndWord = 0x51100001u;
constexpr uint32_t kNopWord = 0x50000000u;
constexpr uint32_t kFifoBytes = 1u << 24;
constexpr uint32_t kStreamCheckAlarm = 1u << 4;
constexpr uint32_t kWaitTimeoutAlarm = 1u << 5;
constexpr uint32_t kLoopStackAlarm = 1u << 13;
constexpr uint32_t kLoopStackSub = 6;
constexpr size_t kLoopDepth = 64;

// CRC-16 of a layout-2 sub-block: polynomial 0x1021, MSB first, no reflection, no final XOR.
uint16_t StreamCrc16(const uint8_t* data, uint32_t length, uint16_t init);
// Block layout of a card version (the same rule as the library's default).
constexpr uint32_t LayoutOfVersion(uint32_t version) { return version >= 96 ? 2 : version >= 80 ? 1 : 0; }

class StreamEngine {
 public:
  static constexpr uint32_t kTraceCapacity = 1u << 21;
  // The bound in time of a run of the executor that loops, checked every kClockEvery words.
  static constexpr uint64_t kTimedAfterWords = 1024;
  static constexpr uint64_t kClockEvery = 256;
  static constexpr uint64_t kRunWallUs = 2000;

  explicit StreamEngine(StreamHost& host) : host_(host) {}

  // Back to the state after power-up: no buffer open, empty trace.
  void Reset();
  // Command 83 (1, 0).
  void Open(uint32_t layout, uint64_t nowUs);
  // The stream as a new process finds it (the state file): phase (CARDSIM_PHASE_...), layout, and
  // for an ended run its end and sub code; the FIFO, decoder and traces start empty. A live run
  // comes back waiting for data that the dead host never sent: a stop ends it (end code 2), a
  // flush runs it dry (end code 4). false for a phase or layout out of range (nothing changed).
  bool Restore(uint32_t phase, uint32_t layout, uint32_t endCode, uint32_t subCode, uint32_t lastCount,
               uint64_t nowUs);
  // A buffer was opened (bulk data belongs to the stream).
  bool Accepting() const { return phase_ != Phase::Idle; }
  // The run is open, running or flushing (not ended).
  bool Live() const { return phase_ == Phase::Open || phase_ == Phase::Running || phase_ == Phase::Flushing; }
  // Free room for `length` more bytes.
  bool RoomFor(uint32_t length) const { return Fill() + length < kFifoBytes; }

  // One bulk chunk; then the start threshold.
  void Intake(const uint8_t* data, uint32_t length, const StreamSettings& s, uint64_t nowUs);
  // Flags 0x40000, 0x8, 0x4.
  void StartRun(uint64_t nowUs) { Start(CARDSIM_START_FLAG, nowUs); }
  void Flush(uint64_t nowUs);
  // Ends a live run (end code 2) or stops a resident program.
  void Stop();
  // A resident program runs (the download has ended).
  bool Resident() const { return resident_; }
  // Runs the executor up to now (modes 0 and 1).
  void Sync(const StreamSettings& s, uint64_t nowUs);
  // Advances the clock by `us` of stream time; false when the run is not running or paused.
  bool Step(uint64_t us, bool paused);
  // The words one driver entry runs at most (2^22 unless set; a fuzz target sets fewer).
  void SetWordsPerEntry(uint64_t words) { wordsPerEntry_ = words ? words : 1; }

  uint32_t ReadPointer() const { return static_cast<uint32_t>(consumed_) & (kFifoBytes - 1); }
  uint32_t WritePointer() const { return static_cast<uint32_t>(received_) & (kFifoBytes - 1); }
  uint32_t ReceivedUnits() const { return static_cast<uint32_t>(received_ / 512); }
  bool TakingIn() const { return received_ % 512 != 0; }
  uint32_t EndCode() const { return endCode_; }
  uint32_t SubCode() const { return subCode_; }
  uint32_t LastCount() const { return lastCount_; }
  uint32_t PhaseCode() const { return static_cast<uint32_t>(phase_); }
  uint32_t Layout() const { return layout_; }

  void Fill(cardsim_fifo& out) const;
  // Traces: CARDSIM_TRACE_FULL, _WORDS, _EXECUTED.
  uint32_t TraceCount(uint32_t which) const;
  bool TraceGet(uint32_t which, uint32_t index, cardsim_trace_entry& out) const;
  // The camera steps run (cardsim_camera).
  uint32_t CameraCount() const { return static_cast<uint32_t>(cameras_.size()); }
  bool CameraGet(uint32_t index, cardsim_camera& out) const;
  uint64_t CardTime() const { return cardUs_; }
  void TraceClear();
  // What the lasers did (laser_record.h); an open segment ends at the executor's clock for now.
  const LaserRecord& Lasers() const { return lasers_; }
  LaserRecord& Lasers() { return lasers_; }
  uint64_t Clock() const { return clock_; }
  // The galvanometer, the waits and register writes (galvo_record.h, wait_record.h).
  const GalvoRecord& Galvo() const { return galvo_; }
  const WaitRecord& Waits() const { return waits_; }
  // The alarm clear: the time-out reasons of command 19 go.
  void ClearWaitReasons() { waits_.ClearTimeoutReasons(); }
  // Where the mirrors were and which lasers ran at stream time t; false when the executor has not
  // reached t or a record does not hold it.
  bool MirrorAt(uint64_t t, cardsim_mirror& out) const;

 private:
  enum class Phase : uint32_t {
    Idle = CARDSIM_PHASE_IDLE,
    Open = CARDSIM_PHASE_OPEN,
    Running = CARDSIM_PHASE_RUNNING,
    Flushing = CARDSIM_PHASE_FLUSHING,
    Ended = CARDSIM_PHASE_ENDED,
  };
  // A decoded word waiting to be consumed: its stream time and the low 32 bits of the byte count
  // through it (the read pointer once it is consumed).
  struct Item {
    uint64_t time;
    uint32_t word;
    uint32_t end;
  };

  uint64_t Fill() const { return received_ - consumed_; }
  bool Running() const { return phase_ == Phase::Running || phase_ == Phase::Flushing; }
  // The executor runs: a live run or a resident program.
  bool Executing() const { return Running() || resident_; }
  // A program download whose run started and whose end word is decoded ends as a successful run.
  void DownloadEnded();
  void StopProgram();
  void ProgramWord(uint32_t word);
  // The label a frame jump 0x51A20000 goes to now.
  uint32_t FrameLabel() const;
  void FrameJump(uint64_t time);
  // The armed trigger's condition holds now and its label is known: it fires. true when it did.
  bool Trigger();
  void Start(uint32_t reason, uint64_t nowUs);
  void Unit();
  void Reject(uint32_t kind);
  void Decode(uint32_t word, uint64_t end);
  // Runs the executor on with `budget` µs of card time. unlimited: the stream's own time costs
  // nothing (mode 0) and the budget is for waits alone.
  void Advance(uint64_t budget, bool unlimited);
  // The run of the executor has taken its time on the card's clock, counted from `since` (set at
  // the first call).
  bool OutOfTime(uint64_t& since) const;
  // The open wait takes what it needs of the budget; true when it ended and the run goes on.
  bool HoldWait(uint64_t& budget, bool atOnce);
  // After the executor ran: a flushed card that has run everything out ends its run.
  void RanOut();
  void Apply(uint32_t word, uint64_t time);
  void Galvo(uint32_t word, uint64_t time);
  void Correction(uint32_t word);
  void BeginWait(uint32_t word, uint64_t time);
  // µs until the open wait's condition holds (0 now, kNeverUs never).
  uint64_t WaitNeed(const cardsim_wait& w);
  // Card time passes by `us`.
  void Elapse(uint64_t us);
  // The path continues at label n at path time t; false when the label is not known.
  bool JumpToLabel(uint32_t n, uint64_t t);
  // A jump whose label has not arrived yet.
  bool JumpBlocked(uint32_t word) const;
  void Flow(uint32_t word, uint64_t time);
  uint64_t PathTime(uint64_t streamTime) const { return static_cast<uint64_t>(static_cast<int64_t>(streamTime) + shift_); }
  size_t Pending() const { return prog_.size() - pc_; }
  // The run ends at stream time `at`.
  void End(uint32_t code, uint32_t sub, uint64_t at);

  StreamHost& host_;
  Phase phase_ = Phase::Idle;
  uint32_t layout_ = 0;
  uint32_t startReason_ = 0;
  // FIFO.
  uint64_t received_ = 0;   // bytes taken in since the open
  uint64_t consumed_ = 0;
  uint64_t processed_ = 0;  // bytes of complete units
  uint64_t overflow_ = 0;
  uint64_t ignored_ = 0;    // bulk bytes while no buffer was open
  // Checker.
  uint8_t unit_[512] = {};
  uint32_t unitFill_ = 0;
  uint32_t seq_ = 0;
  bool headSeen_ = false;
  uint32_t rejected_ = 0;
  uint32_t checkError_ = 0;
  // Decoder.
  uint64_t decTime_ = 0;
  bool decEnded_ = false;
  // The program decoded: prog_[pc_] is the next word on the path. Without labels the words run are
  // dropped (base_ counts them); from the first label on the program is kept whole.
  std::vector<Item> prog_;
  size_t pc_ = 0;
  uint64_t base_ = 0;
  uint64_t furthest_ = 0;  // absolute index past the furthest word run (the read pointer's)
  std::unordered_map<uint32_t, uint64_t> labels_;  // label -> absolute index
  std::vector<uint32_t> loops_;                    // runs left of each open loop, innermost last
  int64_t shift_ = 0;                              // path time - stream time
  bool cond_ = true;                               // the latched result of the last wait or test
  uint32_t reg16_[6] = {};                         // 16-bit values of the lanes (0x53 words)
  // Resident programs.
  bool program_ = false;    // the program frame was decoded
  bool resident_ = false;   // the download ended; the program runs on
  uint32_t slotMask_ = 0;   // 0x5920xxxx
  uint32_t storedLabel_ = 0;
  bool useStored_ = false;  // 0x59500000 ran: the next frame jump goes to the stored label
  uint32_t slotTag_ = 0;    // 1 + the slot entered, 0 outside one
  struct Trig {
    bool armed = false;
    uint32_t port = 0, a = 0, b = 0, label = 0;
  } trig_;
  uint64_t cardUs_ = 0;
  std::vector<cardsim_camera> cameras_;
  bool cameraOpen_ = false;
  uint32_t camX_ = 0, camY_ = 0;
  // Executor.
  uint64_t clock_ = 0;
  uint64_t lastSyncUs_ = 0;
  uint64_t speedCarry_ = 0;
  uint32_t endCode_ = 0, subCode_ = 0;
  uint32_t lastCount_ = 0, markers_ = 0;
  uint32_t wordsRun_ = 0;
  uint64_t wordsPerEntry_ = uint64_t{1} << 22;
  LaserRecord lasers_;
  GalvoRecord galvo_;
  WaitRecord waits_;
  // Traces.
  std::vector<cardsim_trace_entry> full_, words_, exec_;
  uint32_t fullTotal_ = 0, wordsTotal_ = 0, execTotal_ = 0;
};

}  // namespace cardsim
