#pragma once
// Encoder fly marking: the fly parameters, the fly parameter commands sent to the card, the host's
// view of the conveyor's encoder (CFlyEncode) and the stream steps that place encoder waits up to a
// fly position.
//
// The workpiece moves under the scanner on a conveyor whose encoder the card counts; the card
// shifts the galvanometer output by the encoder travel, and the job stream waits for encoder
// positions. The card's counter wraps at the encoder range; the host follows the travel across the
// wraps from the crossings the card reports at a quarter and at half the range (command 102), and
// keeps the waits it puts into the stream within a tenth of the range of each other, so that the
// wrapping counter is never ambiguous while the conveyor covers a long empty stretch.
//
// The encoder range must be at least 10 pulses (kMinEncRange): a smaller one would leave a tenth of
// the range at 0 (the waits of a stretch would never advance) or the range itself at 0 (no
// remainder). ReadFlyScanPara refuses it, and nothing changes.
//
// Threads. The fly exports run on any host thread; the stream steps run inside a mark call. The
// fields of CFlyEncode are guarded by its own lock, which is held only for the reads and writes of
// those fields (and the log lines written meanwhile): it is taken alone, never around a command
// exchange, a stream flush or a message box, and only a log's lock is taken inside it.
#include <cstdint>

#include "cardlink/card_cmd.h"
#include "cardlink/card_locks.h"
#include "frame/fly_para.h"
#include "markbase/job_state.h"
#include "platform/lock.h"

constexpr int32_t kMinEncRange = 10;

// Reads the fly keys (section "FLY" and the scan limits of "SCAN", frame/fly_para.h) and, when the
// encoder range is at least kMinEncRange, publishes them in g_FlyScanPara and sets the constants of
// g_FlyEncode from them (CFlyEncode::SetPara); true. A smaller range is refused: logged and shown
// in a box naming the key, false; g_FlyScanPara and g_FlyEncode stay as they were. Called by
// QZ_SetFlyPara (which then refuses with 2) and by the parameter-file task (whose parameters are
// then not accepted, like those of its other checks; the card stays open).
[[nodiscard]] bool ReadFlyScanPara();

// The fly parameter commands of `fly`, in this order: 97 (fly scale), for rotary fly 106 (rotation
// centre, always sent at once), 98 (encoder source), 99 (encoder direction and range), 9 (scan
// limits), 10 (1, limit error), 10 (2, fly mark range), 82 (internal encoder input, flag 0x400000).
// With a batch each is appended to it; without one each is sent at once (MyException code 1 when the
// card is lost). Returns the result of the last one. Galvanometer codes are taken over the box
// correction's field [-R, R]; every real-to-integer conversion saturates (a PPM of 0 or below
// gives the limits or 0, never undefined values), and each half of command 9 and the position of
// 10 (2, ...) are clamped to 0..65535.
bool AppendFlyParaCmds(const FlyScanPara& fly, CmdBatch* batch);

// The 16-bit galvanometer code of a field position v (mm) with half range R: trunc((v + R) / (2R) x
// 65536), saturated to 32 bits.
int32_t FlyFieldCode(double v, double halfRange);

// A snapshot of CFlyEncode.
struct FlyEncodeState {
  double dMeasBase;
  double dMaxPulseRate;
  int32_t nRange, nRangeHalf, nRangeQuarter, nRangeTenth;
  int32_t nAfterSafe, nBeforeSafe;
  int32_t nState;
  int32_t nLastDir;
  double nCountEnc;
  int32_t nLastEncPos;
  double nEncPosAbs;
  double dMarkOut;
  double dLastPos;
};

class CFlyEncode {
 public:
  CFlyEncode();
  CFlyEncode(const CFlyEncode&) = delete;
  CFlyEncode& operator=(const CFlyEncode&) = delete;

  // The constants: dMeasBase, dMaxPulseRate, the range and its half, quarter and tenth (integer
  // division), nBeforeSafe and nAfterSafe (range x ratio, truncated, saturated). false and nothing
  // changed for a range below kMinEncRange.
  bool SetPara(int32_t range, double beforeRat, double afterRat, double measBase, double maxRate) EXCLUDES(cs_);
  // QZ_MarkEncMeasDis: pulses added to every fly position given in mm.
  void SetMeasBase(double pulses) EXCLUDES(cs_);
  // The unwrapping starts over (QZ_SetEncPosBufSwitch, QZ_MarkEncReset): nCountEnc -2.0, nState 2,
  // nLastDir, nLastEncPos, nEncPosAbs, dMarkOut and dLastPos 0.
  void ResetUnwrap() EXCLUDES(cs_);
  // QZ_MarkFlush: the last fly position put into the stream becomes the one flushed to the card.
  void MarkFlushed() EXCLUDES(cs_);
  FlyEncodeState State() const EXCLUDES(cs_);
  int32_t Range() const EXCLUDES(cs_);

  // One answer of command 102 (status, value). Status bit 9: nothing to report; bit 8: the card's
  // position buffer overflowed (reported: "EncPosBuf Full Error!", logs and box; then goes on);
  // bit 0 clear: a crossing event, bit 1 its direction (set: counting down). Then the unwrapped
  // position is updated and the distance to the flushed end is logged.
  void CompareInOut(uint32_t status, uint32_t value) EXCLUDES(cs_);
  // The unwrapping step: io 0 is a crossing event at a quarter or at half the range; any other
  // event position is reported ("updateEncPos unExpect") and only the position is taken.
  void updateEncPos(int32_t encPos, uint32_t io, uint32_t dir) EXCLUDES(cs_);

  // The stream steps. A fly position in pulses that is not finite or lies outside the signed 32-bit
  // range is refused (logged and shown, code 2); one below the last fly position of the stream is
  // refused with "飞行位置非递增" (logged and shown, code 1). Nothing is appended then.
  // Encoder waits from the last fly position plus nAfterSafe, one per tenth of the range, while
  // they stay below target - nBeforeSafe; each wait becomes the last fly position. The loop ends
  // early when the job is stopped or has failed; every kWaitsPerFlush waits the stream is flushed
  // behind the hold-back window, so that a long stretch never piles up in memory. 0.
  uint32_t SetFlyEmptyPosPulse(double target) REQUIRES(g_MarkCall) EXCLUDES(cs_);
  // target := mm x nEncPPM + dMeasBase, then SetFlyEmptyPosPulse.
  uint32_t SetFlyEmptyPos(double mm) REQUIRES(g_MarkCall) EXCLUDES(cs_);
  // The waits up to the fly position of mm (SetFlyEmptyPos's target), then the wait for the target
  // itself (AppendEncoderWaitWord64); the target becomes the last fly position. 0, 1 or 2 as above.
  uint32_t SetFlyMarkPosPulse(double mm) REQUIRES(g_MarkCall) EXCLUDES(cs_);

  static constexpr uint32_t kWaitsPerFlush = 1024;
  // A fly position in pulses that SetFlyEmptyPosPulse can place: 0; else reported under `tag` and 2.
  static uint32_t CheckTarget(double target, const char* tag);

 private:

  mutable plat::Lock cs_ ACQUIRED_AFTER(g_csCardBuf);
  double dMeasBase GUARDED_BY(cs_);
  double dMaxPulseRate GUARDED_BY(cs_);
  int32_t nRange GUARDED_BY(cs_);
  int32_t nRangeHalf GUARDED_BY(cs_);
  int32_t nRangeQuarter GUARDED_BY(cs_);
  int32_t nRangeTenth GUARDED_BY(cs_);
  int32_t nAfterSafe GUARDED_BY(cs_);
  int32_t nBeforeSafe GUARDED_BY(cs_);
  int32_t nState GUARDED_BY(cs_) = 2;
  int32_t nLastDir GUARDED_BY(cs_) = 0;
  double nCountEnc GUARDED_BY(cs_) = -2.0;
  int32_t nLastEncPos GUARDED_BY(cs_) = 0;
  double nEncPosAbs GUARDED_BY(cs_) = 0.0;
  double dMarkOut GUARDED_BY(cs_) = 0.0;
  double dLastPos GUARDED_BY(cs_) = 0.0;
};

// The one instance. Its constants start as those of the default configuration.
extern CFlyEncode g_FlyEncode;

// The wait for encoder position `pos` (pulses of travel) in the job stream: pos reduced into
// 0 .. range - 1 of g_FlyEncode (the remainder, plus the range when negative), then the register
// wait on the encoder (source 3) for that value under the mask 0xFFFFFF, without a time-out,
// appended at the floor clock (3 µs). The mark list's encoder commands use it as well.
void AppendEncoderWaitWord64(int64_t pos) REQUIRES(g_MarkCall);
// The register wait on the encoder counter for `value` (the card compares it as given), appended at
// the floor clock: the fly positions' waits and the mark list's encoder waits.
void AppendEncoderRegisterWait(uint32_t value) REQUIRES(g_MarkCall);
