#pragma once
// The simulated card beside the built library, for the benchmarks that drive the library's internals
// directly: the driver link loaded from the library's folder and card 0 opened without the library's
// opening sequence (each benchmark sets the parameters it needs itself).
#include <cstdlib>
#include <string>

#include "cardlink/card_locks.h"
#include "cardlink/link_config.h"
#include "cardlink/portlane.h"
#include "frame/system_para.h"
#include "platform/fault_point.h"
#include "platform/module.h"

namespace qzbench {

inline std::string DeployDir() { return QZ_DEPLOY_DIR; }

// QZ_BENCH_LONG=1 in the environment adds the long variants (seconds to a minute each: jobs of 200 s
// of stream, link latency of 100 µs per exchange), which CI's brief runs leave out.
inline bool LongRuns() {
  const char* v = std::getenv("QZ_BENCH_LONG");
  return v && *v && *v != '0';
}

// false when the simulated card is not beside the library.
inline bool OpenRawCard() {
  static const plat::FaultPoint deployFolder{.moduleDir = DeployDir};
  plat::SetFaultPoint(&deployFolder);
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
