#pragma once
// The library-wide task state machine: one task at a time. A task claims the library (idle ->
// busy) after its start checks against the card, registers its id with the card, and at its end
// the card is checked again and the library returns to idle. A second task is refused with 2.
#include <atomic>
#include <cstdint>

#include "cardlink/card_status.h"
#include "platform/lock.h"

extern std::atomic<uint8_t> g_bSysBusy;   // a task is running
extern std::atomic<uint32_t> g_nCurTask;  // id of the running or last task; 0 before the first
extern plat::Lock g_csSysState;           // makes the claim's test-and-set atomic between threads
extern std::atomic<uint8_t> g_bCardSynced;    // the library is synchronised with the card's state
extern std::atomic<uint8_t> g_bParaAccepted;  // the card parameters are accepted

// Claims the library for `id`: 0 claimed, 2 refused, or the code of a card failure met during the
// checks (1 for a card lost during the claim).
uint32_t ConformSysIdleAndSetItBusy(uint32_t id);
uint32_t RaskStartConditionCheck(uint32_t id);
void RaskEndConditionCheck();
// Ends the running task and returns the library to idle. Never throws: when the card was lost its
// card-side checks are skipped silently.
void ReleaseSystem2Idle() noexcept;
// The alarm question: true when there is no alarm.
bool isSysErrAndDeal(const CardStatus& status);
bool IsOssTimeSyncError();
// Claims the mark task (refused: MyException 2 without a message), switches the card's debug
// records on with [Main] bRecordWhenMark 1, and initialises the job.
uint32_t StartMarkTask(uint32_t mode);

// Scope guard of the task exports: claims in its constructor; the export returns Result() when it
// is nonzero; the destructor releases only a successful claim.
class CSysTaskLock {
 public:
  explicit CSysTaskLock(uint32_t id) : result(ConformSysIdleAndSetItBusy(id)) {}
  ~CSysTaskLock() {
    if (result == 0) ReleaseSystem2Idle();
  }
  CSysTaskLock(const CSysTaskLock&) = delete;
  CSysTaskLock& operator=(const CSysTaskLock&) = delete;
  uint32_t Result() const { return result; }

 private:
  uint32_t result;
};

// Releases a held lock on every exit path.
using CSyncGuard = plat::LockGuard;
