#include "cardlink/card_locks.h"

#include <atomic>
#include <thread>

plat::Lock g_csCardCmd;
plat::Lock g_csCardBuf;

namespace {
std::atomic<int> g_nUrgentCardCmd{0};
constexpr int kGiveWayYields = 1000000;
}  // namespace

UrgentCardCmd::UrgentCardCmd() { g_nUrgentCardCmd.fetch_add(1); }
UrgentCardCmd::~UrgentCardCmd() { g_nUrgentCardCmd.fetch_sub(1); }

void CardCmdGiveWay() {
  // Bounded all the same (about a second of yields): a caller that held the lock after all would
  // otherwise wait for a thread that waits for it.
  for (int i = 0; i < kGiveWayYields && g_nUrgentCardCmd.load() > 0; ++i) std::this_thread::yield();
}
