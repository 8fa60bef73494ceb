#pragma once
// The card locks. Order: g_csCardCmd, then g_csCardBuf, then the per-card system-wide mutex.
#include "platform/lock.h"

// Guards every command exchange with the card (and, on PCIe cards, every stream block), the link
// globals of CPortlane and the card's open/close.
extern plat::Lock g_csCardCmd;
// Guards stream blocks on USB cards, so that a block transfer and a command exchange may run at once.
extern plat::Lock g_csCardBuf ACQUIRED_AFTER(g_csCardCmd);

// A caller that must get g_csCardCmd soon (a stop from another thread) holds an UrgentCardCmd while
// it takes the lock; a thread that polls the card in a loop calls CardCmdGiveWay between its polls
// (without the lock) and so lets it in, whatever the clock's sleeps do. The give-way lasts as long
// as the urgent caller's exchange, at most about a second.
class UrgentCardCmd {
 public:
  UrgentCardCmd();
  ~UrgentCardCmd();
  UrgentCardCmd(const UrgentCardCmd&) = delete;
  UrgentCardCmd& operator=(const UrgentCardCmd&) = delete;
};
void CardCmdGiveWay() EXCLUDES(g_csCardCmd);
