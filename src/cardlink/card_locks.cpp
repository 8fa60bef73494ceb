#include "cardlink/card_locks.h"

#include <thread>

plat::Lock g_csCardCmd;
plat::Lock g_csCardBuf;

namespace {
std::atomic<int> g_nUrgentCardCmd{0};
}  // namespace

UrgentCardCmd::UrgentCardCmd() { g_nUrgentCardCmd.fetch_add(1); }
UrgentCardCmd::~UrgentCardCmd() { g_nUrgentCardCmd.fetch_sub(1); }

void CardCmdGiveWay() {
  while (g_nUrgentCardCmd.load() > 0) std::this_thread::yield();
}
