#pragma once
// The mark-list steps that tie a job to the conveyor's encoder, control the card's flow (delays,
// flushes, count markers), divide the stream into tasks the card repeats or jumps between, and
// drive a camera. Each body runs inside the common frame (mark_member.h); the exports check their
// arguments (refused with 2 or 7 before anything is appended) and call these.
//
// Encoder waits: the card compares the 24 bits of its encoder counter (source 3) with a value; the
// value is brought into the encoder range once each way, so a value beyond the range (a negative
// QZ_MarkEncWait far past the wrap) stays beyond it and never matches: the host asked for a
// position the counter does not reach.
//
// Task words: a label 0x51800000 | n, a jump 0x51A00000 | n, a loop 0x5410xxxx (count) ... label ...
// 0x54200000, 0x51A10000 | n, 0x54300000. A conditional jump writes the input condition (source 1)
// and then the two jump registers with one set: 0x100 | task in the first for the OK branch, in the
// second for the NG branch; the card continues at that task's label.
//
// Count markers: QZ_MarkSetCountAndWait numbers its markers 1, 2, ... per job (nCountSent) and
// widens the card's 16-bit count of executed markers (nCountDone) across its wrap.
#include <cstdint>

#include "markbase/job_state.h"

struct MarkFlowState {
  uint32_t nFlySwitchOn GUARDED_BY(g_MarkCall) = 0;  // fly marking switched on in the stream so far
  uint32_t bEncResetSent GUARDED_BY(g_MarkCall) = 0;  // QZ_MarkFlyOnEnc appended its encoder reset
  uint64_t nCountSent GUARDED_BY(g_MarkCall) = 0;
  uint64_t nCountDone GUARDED_BY(g_MarkCall) = 0;
  void ResetForJob() REQUIRES(g_MarkCall);
};
extern MarkFlowState g_MarkFlow;

// The largest task number a label, loop or jump carries (16 bits of its word); the conditional
// jumps carry one byte beside the jump flag.
constexpr uint32_t kMaxTaskNumber = 0xFFFF;
constexpr uint32_t kMaxIoJumpTask = 0xFF;

// ---- encoder and fly
// The encoder wait for p (signed): brought into the range (one addition or subtraction), then the
// register wait on source 3 without time-out (3 µs).
void AppendEncoderWaitWord(int32_t p) REQUIRES(g_MarkCall);
// QZ_MarkEncWait: a wait 5 pulses before the position (after it, for a negative one), then at it.
void MarkEncWait(int32_t pos) REQUIRES(g_MarkCall);
// QZ_MarkEncReset: 0x61000000 and the host's unwrapping starts over.
void MarkEncReset() REQUIRES(g_MarkCall);
// QZ_MarkEncBufSwitch.
void MarkEncBufSwitch(int32_t flag) REQUIRES(g_MarkCall);
// QZ_MarkFlySwitch: the switch word and its follower; switched off, the scanner goes home
// ([FLY] nFlyOffHome 1), stays where it is (0: a jump to the current position) or nothing.
void MarkFlySwitch(uint32_t on) REQUIRES(g_MarkCall);
// QZ_MarkFlyOnEnc.
void MarkFlyOnEnc(uint32_t pos, int32_t resetFlag, uint32_t switchFlag) REQUIRES(g_MarkCall);
// QZ_MarkAreaSafeFly with the direction taken as (dir != 0) and a finite position: the range flag
// overwrites [FLY] bFlyMarkRangeEn; the word 0x67000000 | d << 17 | axis << 16 | field code.
void MarkAreaSafeFly(uint32_t rangeFlag, uint32_t dir, double pos) REQUIRES(g_MarkCall);
// QZ_MarkFlyEmptyPosAbs, QZ_MarkFlyMarkPosAbs, QZ_MarkEncMeasDis: 7 for a position that is not
// finite, 2 for an encoder range below 10, for a position behind the last one or whose pulse count
// lies outside the signed 32-bit range; nothing appended then.
uint32_t MarkFlyEmptyPosAbs(double mm) REQUIRES(g_MarkCall);
uint32_t MarkFlyMarkPosAbs(double mm) REQUIRES(g_MarkCall);
uint32_t MarkEncMeasDis(double mm) REQUIRES(g_MarkCall);
// MarkUpdateCompensate: 0x66000001, its follower, the scanner feedback wait at the same time.
void MarkUpdateCompensateWords() REQUIRES(g_MarkCall);

// ---- delays, flushes, count markers
// QZ_MarkBufDelay: the clock moves by the signed delay, a NOP there; what lies behind the hold-back
// window is sent.
void MarkBufDelay(int32_t delayUs) REQUIRES(g_MarkCall);
// QZ_MarkFlush: the start of the run is requested, every word is sent, and the last fly position
// put into the stream becomes the one flushed to the card.
void MarkFlushAll() REQUIRES(g_MarkCall);
// QZ_MarkBufferCnt: 0x62000000 | n & 0xFFFF.
void MarkBufferCnt(uint32_t n) REQUIRES(g_MarkCall);
// QZ_MarkSetCountAndWait (max >= 1): the next numbered marker; more than max ahead of the card,
// everything is sent with the start of the run and the card's count is polled until it is within
// max. Ends early on a stop (0) and when the card's run has ended without reaching it (the job
// fails: 20); in an offline download nothing waits.
uint32_t MarkSetCountAndWait(uint32_t max) REQUIRES(g_MarkCall);
// The widened count: low 16 bits of the card's count c after done.
uint64_t WidenCount(uint64_t done, uint32_t c);

// ---- tasks
void MarkTaskLabel(uint32_t task) REQUIRES(g_MarkCall);  // and the reset before the next figure
void MarkFlagFinish() REQUIRES(g_MarkCall);
void MarkLoopStart(uint32_t task, uint32_t count) REQUIRES(g_MarkCall);
void MarkJumpTaskNo(uint32_t task) REQUIRES(g_MarkCall);
void MarkJumpByIO(uint32_t mask, uint32_t value, uint32_t task, bool ok) REQUIRES(g_MarkCall);
void MarkLoopEnd(uint32_t task) REQUIRES(g_MarkCall);

// ---- camera
struct CcdStep {
  int32_t enable;
  int32_t number;  // two BCD digits of the parameter word
  double x, y;
  int32_t field;     // low 4 bits into the parameter word
  int32_t selector;  // second register write: 0 → 0x200, 2 → 0x100 | value, else 0
  int32_t flag;      // 1 clears bit 14 of the parameter word
  uint32_t value;
};
// 2 for selector 2 with a value above 0xFFFF, 7 for an enabled step with a coordinate that is not
// finite; else 0.
uint32_t CheckCcdStep(const CcdStep& s);
// The camera sequence.
void EmitCcdMarkSeq(const CcdStep& s) REQUIRES(g_MarkCall);
