#pragma once
// The library-wide task state machine: one task at a time. A task claims the library (idle ->
// busy) after its start checks against the card, registers its id with the card, and at its end
// the card is checked again and the library returns to idle. A second task is refused with 2.
#include <atomic>
#include <cstdint>

#include "cardlink/card_status.h"
#include "cardlink/card_locks.h"
#include "platform/lock.h"

// Guards the claim's test-and-set and the two fields below. Taken before the card locks (a claim
// checks the card while holding it).
extern plat::Lock g_csSysState ACQUIRED_BEFORE(g_csCardCmd);
extern uint8_t g_bSysBusy GUARDED_BY(g_csSysState);   // a task is running
extern uint32_t g_nCurTask GUARDED_BY(g_csSysState);  // id of the running or last task; 0 before the first
extern std::atomic<uint8_t> g_bCardSynced;    // the library is synchronised with the card's state
extern std::atomic<uint8_t> g_bParaAccepted;  // the card parameters are accepted

// Claims the library for `id`: 0 claimed, 2 refused, or the code of a card failure met during the
// checks (1 for a card lost during the claim).
uint32_t ConformSysIdleAndSetItBusy(uint32_t id) EXCLUDES(g_csSysState);
uint32_t RaskStartConditionCheck(uint32_t id);
// The end checks of task `id`.
void RaskEndConditionCheck(uint32_t id);
// Ends the running task and returns the library to idle. Never throws: when the card was lost its
// card-side checks are skipped silently.
void ReleaseSystem2Idle() noexcept EXCLUDES(g_csSysState);
// A task is running (read under the lock).
bool SysBusy() EXCLUDES(g_csSysState);
// The alarm question: true when there is no alarm.
bool isSysErrAndDeal(const CardStatus& status);
bool IsOssTimeSyncError();

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
