#pragma once
// The process-wide critical section: recursive, taken with a scoped guard.
//
// Lock order of the library (outermost first):
//   UartLaserLock -> g_csCardCmd -> g_csCardBuf -> the per-card system-wide mutex;
//   g_csSysState, g_csMarkRun, g_csRecord and g_csCompare are each taken alone;
//   a log file's own lock is the innermost lock: it may be taken under any other, and nothing is
//   taken inside it.
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
