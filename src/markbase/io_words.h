#pragma once
// Output words, waits and register-write sequences of the data stream.
//
// Output words (opcodes 0x20 to 0x23) set the card's outputs: the 44 outputs fall into four banks
// (0-11, 12-21, 22-31, 32-43); a word carries one bank's mask in bits 12-23 and its values in bits
// 0-11, and only the outputs whose mask bit is set change.
//
// A wait makes the card hold the stream until a condition holds: two 32-bit values are written
// into the card's compare register one byte lane at a time (0x52 selects the lane, 0x55 carries a
// byte of each value), then the set-up word (0x58) names the source of the condition, optionally
// after a time-out word (0x56, µs), and a marker word (0x51600020 | ...) closes the wait. The
// sequence builders put such words on a list with small relative times (1, 2, 3 µs); the emitters
// append the list to the main stream at the floor clock (AppendShiftedWords), which moves the clock
// to the last of them. A named wait takes its source and its two values from the table of named
// waits (frame/wait_desc.h); a name the table does not hold is logged and writes nothing.
//
// Bodies of the mark-list commands: AddOutputWords (QZ_MarkBufIO), AddInputWaitRecords
// (QZ_MarkInputWait) and AddBufWaitRecords (QZ_MarkBufWait). Everything that writes the floors runs
// inside a mark call.
#include <cstdint>
#include <string>
#include <vector>

#include "markbase/job_state.h"
#include "markbase/mark_floor.h"
#include "markbase/stream_words.h"

using WordList = std::vector<TimedWord>;

// Kinds of a wait: with a time-out word (0) or without (1).
constexpr uint32_t kWaitWithTimeout = 0;
constexpr uint32_t kWaitNoTimeout = 1;
// Source of the input waits.
constexpr uint32_t kWaitSourceInputs = 1;
// The longest time-out a host can ask for: its µs must fit the 24 bits of the 0x56 word.
constexpr uint32_t kMaxHostWaitMs = 16777;

// The output word of the first bank (0-11, 12-21, 22-31) whose part of `mask` is not empty, each
// field cut to its bank; an empty mask gives the bank-3 word with an empty mask (changes nothing).
uint32_t MakeIoWordByMask(uint32_t mask, uint32_t values);
// QZ_MarkBufIO: for each bank of outputs 0-31 whose mask part is not empty, 1 µs later its output
// word with that bank's values. 0.
uint32_t AddOutputWords(uint32_t values, uint32_t mask) REQUIRES(g_MarkCall);
// `n` bytes sent bit by bit on output `bit`, most significant bit first, one bit per 100 µs: bit j
// of the pattern at 50 + 100 j, then the word that selects the output with value 0 100 µs after
// the last bit. Nothing for n 0.
void AddSerialBitPattern(WordList& list, uint32_t n, int32_t bit, const uint8_t* bytes);

// QZ_MarkInputWait: waits on the inputs (source 1) for `values` under `mask`; with `edge`, two
// waits that see the edge inputs change (edge mode 1: from 0 to 1, else from 1 to 0). A time-out of
// 0 waits without one; a longer one than kMaxHostWaitMs is cut to it. 0.
uint32_t AddInputWaitRecords(uint32_t mask, uint32_t values, uint32_t edge, uint32_t edgeMode,
                             uint32_t timeoutMs) REQUIRES(g_MarkCall);
// QZ_MarkBufWait's packed word: bits 0-7 values, 8-15 mask, 16-23 edge inputs of one input byte,
// bit 24 the edge direction (clear: the edge inputs go from 1 to 0), bits 25-27 the byte lane 1..4
// (0 stands for lane 4); bits 28-31 are not read. A lane of 5..7 would put the byte onto another
// lane's inputs: refused with 2 (the check), else 0.
uint32_t CheckBufWaitWord(uint32_t w);
uint32_t AddBufWaitRecords(uint32_t w) REQUIRES(g_MarkCall);

// Resets the compare register: at 1 µs lane 0 gets 0x1E/0x00, lanes 1-3 0/0; at 2 µs the reset
// word; at 3 µs a NOP.
WordList& MakeSeqRegReset(WordList& list);
// The four byte lanes of `a` and `b` at time t.
WordList& MakeSeqWriteReg32(WordList& list, uint32_t a, uint64_t t, uint32_t b);
// A wait on `source` for the values a/b: the register at t + 1; at t + 2 the time-out word (kind 0
// only) and the set-up word; at t + 3 the marker. The time-out's µs are cut to 24 bits.
WordList& MakeSeqWriteRegIo(WordList& list, uint32_t a, uint64_t t, uint32_t b, uint32_t kind, uint32_t timeoutMs,
                            uint32_t source);
// A register write that a later step waits on: a/b at 1 µs, the set-up word of `port` at 2 µs and,
// at 3 µs, the condition word naming `flag` (the task label of the step that follows). Appended.
void EmitWriteRegIo(uint32_t a, uint32_t b, uint32_t port, uint32_t flag) REQUIRES(g_MarkCall);
// The wait of a named condition (MakeSeqWriteRegIo with the name's source and values); a name the
// table does not hold is logged and adds nothing.
WordList& MakeSeqNamedReg(WordList& list, uint32_t kind, uint64_t t, uint32_t timeoutMs, const std::string& name);
// MakeSeqNamedReg at t 0, appended. 0.
uint32_t EmitNamedReg(uint32_t kind, uint32_t timeoutMs, const std::string& name) REQUIRES(g_MarkCall);
// MakeSeqWriteRegIo at t 0, appended. 0.
uint32_t EmitWriteRegSeq(uint32_t a, uint32_t b, uint32_t kind, uint32_t timeoutMs, uint32_t source)
    REQUIRES(g_MarkCall);
// A 16-bit register write: at 1 µs lane 0, a1/b1, lane 1, a2/b2, lane 5; at 2 µs the closing word.
WordList& MakeSeqWriteReg16(WordList& list, uint32_t a1, uint32_t b1, uint32_t a2, uint32_t b2);
// MakeSeqWriteReg16, appended. 0.
uint32_t EmitWriteReg16(uint32_t a1, uint32_t b1, uint32_t a2, uint32_t b2) REQUIRES(g_MarkCall);
