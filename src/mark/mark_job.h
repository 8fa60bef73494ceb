#pragma once
// The mark job: its state, the mark-call guard, the job start and end, and the failure path.
//
// A job runs on the host's calling thread. QZ_MarkStart claims the library for the mark task and
// arms the job; each mark-list call takes the guard and opens with MarkBufferBefore (the card's
// buffer starts on the first call); QZ_MarkEnd flushes the rest, waits for the card and reports the
// end. The guard is a try-lock: a mark call that overlaps another stops the card's run and fails
// with 16. QZ_Mark_Stop takes no guard, so another thread can stop a job while QZ_MarkEnd waits.
#include <cstdint>
#include <functional>

#include "markbase/job_state.h"

// The mark-call guard: never waits.
//
// For the lock-annotation checks a CMarkLock holds the role g_MarkCall from its construction on; a
// caller whose guard does not own the flag must leave at once through Refuse.
class SCOPED_CAPABILITY CMarkLock {
 public:
  CMarkLock() ACQUIRE(g_MarkCall);
  ~CMarkLock() RELEASE();
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
void InitJob(uint32_t mode) REQUIRES(g_MarkCall);
}
// QZ_MarkStart with a run mode of 0..4: claims the library for the mark task and arms the job.
uint32_t MarkStartJob(uint32_t mode, uint32_t startFlag);
// QZ_MarkEnd: ends the job (flush, wait for the card, report); 0, 1, 3, 16 or 17.
uint32_t MarkEndJob(uint32_t endArg);
// Claims the mark task (refused: MyException 2 without a message), switches the card's debug
// records on with [Main] bRecordWhenMark 1, and initialises the job.
uint32_t StartMarkTask(uint32_t mode) REQUIRES(g_MarkCall);

// First step of every mark-list call; 0 or 20.
uint32_t MarkBufferBefore(uint32_t kind) REQUIRES(g_MarkCall);
// Reports the end of a job by the card's final status (end code in bits 8-11, sub code in bits
// 13-15): log lines, and a box for the failures the user must see.
void ReportMarkEnd(uint32_t finalStatus, uint8_t bSameData);
// The final status a job ends with, from the card's (or the offline file's) final status: a stopped
// or failed download ends stopped (0x200), a stopped or failed online run with the card's own
// status; otherwise the offline-done flag gives a finished run (0x100).
uint32_t EndStatusOf(uint32_t cardStatus, bool download, uint8_t offlineDone, bool stoppedOrFailed);
// Ends the job; 0 or a failure code.
uint32_t MustEndThread(uint8_t ok, uint32_t endArg, uint8_t bFromMarkEnd, uint8_t offlineDone) REQUIRES(g_MarkCall);
// Ends a job whose card was lost between its calls, so that the library is not left busy: the task
// is released, the run flag cleared, the offline file closed and the job set idle. Nothing when the
// card is connected, no job is open, or a mark call is in progress.
void EndJobOfLostCard();
// A whole job in one call around `generator`; 0 or 16.
uint32_t RunMarkFlow(uint32_t mode, const std::function<void()>& generator, uint8_t ok, uint32_t endArg,
                     uint8_t offlineDone);
