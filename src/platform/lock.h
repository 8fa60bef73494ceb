#pragma once
// The process-wide critical section: recursive, taken with a scoped guard.
//
// Lock order of the library, outermost first. A thread that holds a lock takes only locks further
// down this list; the same lock may be taken again (the locks are recursive).
//
//   1. The worker threads' lock (frame/worker_threads.cpp): taken with no other lock held (card
//      close, the parameter-file task, unload), since under it the monitor and the watchdog are
//      joined, and they take the card locks and the record locks below.
//   2. g_csSysState (cardlink/task_state.h) and UartLaserLock (laser/uart.h), never held together.
//      g_csSysState guards the task claim: a claim holds it across its card checks (status read,
//      alarm question, task id sent). UartLaserLock holds a laser's serial exchange together
//      across its card exchanges.
//   3. g_csCardCmd (cardlink/card_locks.h): every command exchange, PCIe stream blocks, open/close.
//   4. g_csCardBuf: USB stream blocks; both card locks are held to open and close a card.
//   5. The system-wide mutexes, claimed and released only under both card locks: the card's own
//      (tried once, never waited for), then "OpenUsbLock" for the link open (waited for at most 30 s).
//   6. Leaf locks, each held only to copy or update what it guards, under any of the locks above or
//      none, with nothing taken inside but a log's lock: g_csAxis (axis records), g_csBoxPara (the
//      box parameter block), g_csRecord (record lists), g_csCompare (comparison queue), the mark
//      job's failure-text lock (MarkJobState::csMarkError), g_csMarkRun (the mark-call guard's
//      test-and-set), the locks of CFlyEncode, of the wobble unit list and of the phase timer, and
//      the standard mutexes of the wait-text table and the CRC table. No leaf is taken inside
//      another.
//   7. A log file's own lock: the innermost lock; nothing is taken inside it.
//
// The mark-call guard (CMarkLock) is not waited for: a mark call that finds it taken fails, so it
// has no place in the order; a mark call takes any of the locks above under it.
//
// ACQUIRED_BEFORE / ACQUIRED_AFTER state every pair that a declaration can name (clang checks them,
// transitively, with -Wthread-safety-beta): UartLaserLock and g_csSysState before g_csCardCmd,
// g_csCardBuf after g_csCardCmd, and each leaf lock after g_csCardBuf. The worker threads' lock and
// the logs' locks sit in the foundation below the card link, which cannot name the card locks; the
// standard mutexes carry no annotations.
// What each lock guards is written beside its definition.
#include <mutex>

#include "platform/thread_annotations.h"

namespace plat {

class CAPABILITY("mutex") Lock {
 public:
  Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void lock() ACQUIRE() { m_.lock(); }
  void unlock() RELEASE() { m_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return m_.try_lock(); }

 private:
  std::recursive_mutex m_;
};

class SCOPED_CAPABILITY LockGuard {
 public:
  explicit LockGuard(Lock& l) ACQUIRE(l) : l_(l) { l_.lock(); }
  ~LockGuard() RELEASE() { l_.unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& l_;
};

}  // namespace plat
