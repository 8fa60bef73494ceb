#pragma once
// The simulated card for the benchmarks that drive the library's internals directly: the driver link
// loaded from the benchmarks' own library folder and card 0 opened without the library's opening
// sequence (each benchmark sets the parameters it needs itself).
//
// The benchmarks' library folder (build/<preset>/bench/card) is staged by the build: the simulated
// card and ini/QZMarkPara.cfg, the configuration the benchmarks measure (bench/QZMarkPara.cfg), so
// that no configuration put beside the deployed library changes a figure.
#include <cstdlib>
#include <string>

#include "cardlink/card_locks.h"
#include "cardlink/link_config.h"
#include "cardlink/portlane.h"
#include "frame/system_para.h"
#include "frame/worker_threads.h"
#include "platform/fault_point.h"
#include "platform/module.h"

namespace qzbench {

inline std::string LibraryDir() { return QZ_BENCH_DIR; }

// QZ_BENCH_LONG=1 in the environment adds the long variants (seconds to a minute each: jobs of 200 s
// of stream, link latency of 100 µs per exchange), which CI's brief runs leave out.
inline bool LongRuns() {
  const char* v = std::getenv("QZ_BENCH_LONG");
  return v && *v && *v != '0';
}

// false when the simulated card is not beside the library. A benchmark that drives the card raw has
// it to itself: the monitor and watchdog threads that a job benchmark's opening started (as a host's
// parameter file does) are stopped, or they would take replies and time of their own.
inline bool OpenRawCard() {
  static const plat::FaultPoint libraryFolder{.moduleDir = LibraryDir};
  plat::SetFaultPoint(&libraryFolder);
  StopWorkerThreads();
  if (!PortlaneApi.bLoaded) CPortlane::LoadDll();
  if (!PortlaneApi.bLoaded) return false;
  InitParaLink(0);
  if (!g_Link.g_bConnected) {
    plat::LockGuard g(g_csCardCmd);
    plat::LockGuard b(g_csCardBuf);
    if (CPortlane::Open(0) != 0) return false;
  }
  g_Link.g_bConnected = 1;
  return true;
}

// A control function of the simulated card, by name.
template <class F>
F SimFunction(const char* name) {
  return reinterpret_cast<F>(plat::FindSymbol(PortlaneApi.module.hModule, name));
}

}  // namespace qzbench
