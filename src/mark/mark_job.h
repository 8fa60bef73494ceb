#pragma once
// The mark job: its state, the mark-call guard, the job start and end, and the failure path.
//
// A job runs on the host's calling thread. QZ_MarkStart claims the library for the mark task and
// arms the job; each mark-list call takes the guard and opens with MarkBufferBefore (the card's
// buffer starts on the first call); QZ_MarkEnd flushes the rest, waits for the card and reports the
// end. The guard is a try-lock: a mark call that overlaps another stops the card's run and fails
// with 16. QZ_Mark_Stop takes no guard, so another thread can stop a job while QZ_MarkEnd waits.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/lock.h"

// Job states.
constexpr int32_t kMarkStateIdle = -3;
constexpr int32_t kMarkStateStarting = -2;
constexpr int32_t kMarkStateOpen = -1;
constexpr int32_t kMarkStateBufferStarted = 0;

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

extern std::atomic<int32_t> nMarkState;
extern uint32_t nRunMode;            // 0 or 1 online, 2 offline download, 3 fixed jump speed
extern uint8_t bLaserJob;            // the job fires the laser (run mode 0 or 2)
extern uint8_t bRunModeNot4;         // QZ_MarkStart's mode was not 4
extern uint8_t bLaserLocked;         // the laser lock input was set at job start
extern std::atomic<uint32_t> g_bMarkCallBusy;
extern std::atomic<uint32_t> bStopMark;  // stop requested
extern int64_t g_nMarkTime;          // the job's final stream time in µs
extern uint32_t g_nStartPosFlag;     // QZ_MarkStart's start position flag
extern uint32_t g_nLineCount;        // marked segments of the job (kept by the segment encoders)

// The guard of g_bMarkCallBusy (held only for its test-and-set).
extern plat::Lock g_csMarkRun;

// The job's error text; not empty = the job failed.
bool MarkFailed();
std::string MarkErrorText();

// The mark-call guard: never waits.
class CMarkLock {
 public:
  CMarkLock();
  ~CMarkLock();
  CMarkLock(const CMarkLock&) = delete;
  CMarkLock& operator=(const CMarkLock&) = delete;
  bool Owns() const { return bOwner; }
  // The refusal of a call whose guard does not own the flag: stops the card's run, logs and shows
  // the text of code 16 under `caller`, and returns 16.
  static uint32_t Refuse(const char* caller);

 private:
  uint8_t bOwner = 0;
};

namespace CMarkJob {
void InitJob(uint32_t mode);
}

// First step of every mark-list call; 0 or 20.
uint32_t MarkBufferBefore(uint32_t kind);
// Fails the job: records the text, stops the card's run, shows the text, throws `code` silently.
[[noreturn]] void SetMarkErrorAndThrow(uint32_t code, const std::string& text);
[[noreturn]] void ThrowMarkError(uint32_t code);
// Reports the end of a job by the card's final status (end code in bits 8-11, sub code in bits
// 13-15): log lines, and a box for the failures the user must see.
void ReportMarkEnd(uint32_t finalStatus, uint8_t bSameData);
// Ends the job; 0 or a failure code.
uint32_t MustEndThread(uint8_t ok, uint32_t endArg, uint8_t bFromMarkEnd, uint8_t offlineDone);
// Ends a job whose card was lost between its calls, so that the library is not left busy: the task
// is released, the run flag cleared, the offline file closed and the job set idle. Nothing when the
// card is connected, no job is open, or a mark call is in progress.
void EndJobOfLostCard();
// A whole job in one call around `generator`; 0 or 16.
uint32_t RunMarkFlow(uint32_t mode, const std::function<void()>& generator, uint8_t ok, uint32_t endArg,
                     uint8_t offlineDone);
