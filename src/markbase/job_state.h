#pragma once
// The mark job's state: the bottom of the mark subsystem, below the floors, the block pipeline, the
// FIFO transfer and every generator, which all include this header (and nothing above it).
//
// A job runs on the host thread that holds the mark-call guard (CMarkLock, mark_job.h). That thread
// owns the fields marked GUARDED_BY(g_MarkCall): the role capability g_MarkCall stands for "inside a
// mark call", so clang's lock-annotation checks refuse any access from outside one. The flags that
// other threads read or write (the job state, the stop request, the guard flag, the failure flag, the
// job's figures) are atomics; the failure text has a lock of its own.
//
// A failure of the job is recorded once: its text, the failed flag, a stop of the card's run. Every
// later mark-list call then changes nothing, and the job's end reports the failure.
#include <atomic>
#include <cstdint>
#include <string>

#include "cardlink/card_locks.h"
#include "platform/lock.h"

// Job states.
constexpr int32_t kMarkStateIdle = -3;
constexpr int32_t kMarkStateStarting = -2;
constexpr int32_t kMarkStateOpen = -1;
constexpr int32_t kMarkStateBufferStarted = 0;

// QZ_MarkStart's run modes are 0..4 (4 runs like 1, without the laser enable outputs).
constexpr uint32_t kLastRunMode = 4;

// Kinds of mark-list calls (the marker word is 0x51200000 | kind).
enum MarkCmdKind : uint32_t {
  KIND_VECTOR = 1,
  KIND_DOT = 2,
  KIND_SCAN_POS = 3,
  KIND_IO = 4,
  KIND_WAIT = 5,
  KIND_BUFFER = 6,
  KIND_LASER = 7,
  KIND_CCD = 8,
  KIND_TASK = 9,
  KIND_END = 10,
  KIND_FLY = 11,
  KIND_ENCODER = 12,
  KIND_ENCODER_FLY = 13,
  KIND_MOTOR = 14,
  KIND_LAYER = 15,
};

// "Inside a mark call": held by the thread whose CMarkLock owns the guard flag. A role for the
// lock-annotation checks, not a lock: it is never waited for.
class CAPABILITY("mark call") MarkCallRole {};
extern MarkCallRole g_MarkCall;

struct MarkJobState {
  std::atomic<int32_t> nMarkState{kMarkStateIdle};
  std::atomic<uint32_t> bStopMark{0};       // stop requested (QZ_Mark_Stop from any thread)
  std::atomic<uint32_t> g_bMarkCallBusy{0};  // a mark call holds the guard

  uint32_t nRunMode GUARDED_BY(g_MarkCall) = 0;  // 0 or 1 online, 2 offline download, 3 fixed jump speed
  uint8_t bLaserJob GUARDED_BY(g_MarkCall) = 0;  // the job fires the laser (run mode 0 or 2)
  uint8_t bRunModeNot4 GUARDED_BY(g_MarkCall) = 1;   // QZ_MarkStart's mode was not 4
  uint8_t bLaserLocked GUARDED_BY(g_MarkCall) = 0;   // the laser lock input was set at job start
  uint32_t g_nStartPosFlag GUARDED_BY(g_MarkCall) = 0;  // QZ_MarkStart's start position flag

  // The job's stream time, read by QZ_GetMarkTime on any thread while a job runs: written by the
  // job's thread only (inside a mark call), so relaxed loads and stores are enough. (The job's line
  // count is the scanner's nLitCount.)
  std::atomic<int64_t> g_nMarkTime{0};  // the last job's final stream time in µs

  // The failure record: written by the job's thread, read by any.
  plat::Lock csMarkError ACQUIRED_AFTER(g_csCardBuf);
  std::string g_szMarkError GUARDED_BY(csMarkError);
  std::atomic<bool> bMarkFailed{false};

  // Back to the state at load: idle, no stop, no failure, every field at its initial value.
  void Reset();
};
extern MarkJobState g_MarkJob;

// The guard of the guard flag's test-and-set (held only for it).
extern plat::Lock g_csMarkRun ACQUIRED_AFTER(g_csCardBuf);

// The job counts as failed once a failure is recorded, also when its text is empty (a language file
// without that text).
bool MarkFailed();
std::string MarkErrorText();
bool JobStoppedOrFailed();
// Clears the failure record at the start of a job.
void ClearMarkFailure();

// Records a failure of the job (the text at INFO, the failed flag, a stop of the card's run) without
// a box: for failures whose own report comes elsewhere.
void RecordMarkFailure(const std::string& text);
// Fails the job: records the failure, shows the text in a box, throws `code` without a message.
[[noreturn]] void SetMarkErrorAndThrow(uint32_t code, const std::string& text);
// The same with the code's own text.
[[noreturn]] void ThrowMarkError(uint32_t code);
// Stops the card's run; a failure of this exchange does not replace the failure that asked for it.
void StopCardRun();
// Code 27 (silent) outside a mark call.
void RequireMarkCall();
