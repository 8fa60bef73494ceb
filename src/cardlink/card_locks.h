#pragma once
// The card locks. Order: g_csCardCmd, then g_csCardBuf, then the per-card system-wide mutex.
#include "platform/lock.h"

// Guards every command exchange with the card (and, on PCIe cards, every stream block), the link
// globals of CPortlane and the card's open/close.
extern plat::Lock g_csCardCmd;
// Guards stream blocks on USB cards, so that a block transfer and a command exchange may run at once.
extern plat::Lock g_csCardBuf ACQUIRED_AFTER(g_csCardCmd);
